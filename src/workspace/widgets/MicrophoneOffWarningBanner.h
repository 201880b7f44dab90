#pragma once

#include <QWidget>

class KavrelIconButton;
class QLabel;

// The amber strip shown while listening without the microphone, with a hide button. Its
// colours are the same in the light and dark looks.
class MicrophoneOffWarningBanner final : public QWidget
{
    Q_OBJECT

public:
    explicit MicrophoneOffWarningBanner(QWidget *parent = nullptr);

    void setTexts(const QString &message, const QString &hideHelp);
    KavrelIconButton *dismissButton() const { return m_dismiss; }

Q_SIGNALS:
    void dismissed();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_label;
    KavrelIconButton *m_dismiss;
};
