#pragma once

#include <QAbstractButton>

// The settings window's "Check for Updates..." row: a download symbol, the title and a
// chevron on a rounded control tile. Tab reaches it; Space or Enter presses it.
class KavrelSettingsUpdateRow final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit KavrelSettingsUpdateRow(QWidget *parent = nullptr);

    // The fixed Russian tooltip, naming the host the updates are checked at.
    static QString tooltipText();

    QSize sizeHint() const override { return QSize(320, 50); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
