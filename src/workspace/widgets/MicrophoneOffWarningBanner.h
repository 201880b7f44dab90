#pragma once

#include <QWidget>

class QLabel;
class WorkspaceIconButton;

// The amber strip shown while listening without the microphone, with a hide button. Its
// colours are the same in the light and dark looks.
class MicrophoneOffWarningBanner final : public QWidget
{
    Q_OBJECT

public:
    explicit MicrophoneOffWarningBanner(QWidget *parent = nullptr);

    void setTexts(const QString &message, const QString &hideHelp);
    WorkspaceIconButton *dismissButton() const { return m_dismiss; }

Q_SIGNALS:
    void dismissed();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_label;
    WorkspaceIconButton *m_dismiss;
};
