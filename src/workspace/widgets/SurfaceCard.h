#pragma once

#include <QColor>
#include <QPixmap>
#include <QVBoxLayout>
#include <QWidget>

#include <optional>

class QLabel;

// The rounded card of the main window: appearance-following fill, border and shadow, and an
// optional soft glow of an accent colour over its top-leading part that never takes clicks.
// Children go into contentLayout(), inset by the content padding.
class SurfaceCard final : public QWidget
{
    Q_OBJECT

public:
    static constexpr double cornerRadius = 24;

    explicit SurfaceCard(double contentPadding, QWidget *parent = nullptr);

    QVBoxLayout *contentLayout() const { return m_layout; }
    // A label for the card's title, in the columns' title font (plain text, 18 px bold).
    QLabel *makeTitleLabel();
    void setAccent(std::optional<QColor> accent);
    std::optional<QColor> accent() const { return m_accent; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // The blurred shadow is costly; the card's picture is drawn once per size, look and
    // accent, and a change inside the card only copies the part behind it.
    QPixmap renderBackground(qreal ratio) const;

    QVBoxLayout *m_layout;
    std::optional<QColor> m_accent;
    QPixmap m_background;
};
