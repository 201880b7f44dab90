#pragma once

#include <QColor>
#include <QWidget>

class QLabel;
class QVBoxLayout;

// One choice of the listening setup sheet: an icon tile in its accent colour, a title and an
// explanation, and the controls at the trailing side.
class ListeningSetupCard final : public QWidget
{
    Q_OBJECT

public:
    ListeningSetupCard(const QString &iconName, const QColor &accent, QWidget *parent = nullptr);

    void setTexts(const QString &title, const QString &subtitle);
    // The trailing column the controls go into (trailing-aligned, spacing 10).
    QVBoxLayout *controls() const { return m_controls; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_iconName;
    QColor m_accent;
    QLabel *m_title;
    QLabel *m_subtitle;
    QVBoxLayout *m_controls;
};
