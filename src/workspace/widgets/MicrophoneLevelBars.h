#pragma once

#include <QColor>
#include <QPixmap>
#include <QVariantAnimation>
#include <QWidget>

#include <array>

// Four bars of growing height that light from the shortest up as the microphone level
// reaches 0.25, 0.5, 0.75 and 1; grey while the microphone is neither captured nor tested.
// A change of the bars fades them to their new colours in 0.12 s, easing out.
class MicrophoneLevelBars final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int fadeMilliseconds = 120;

    explicit MicrophoneLevelBars(QWidget *parent = nullptr);

    void setLevel(double level, bool isActive);
    int litBars() const;
    bool isActive() const { return m_isActive; }

    // The colour bar (0–3) shows now, part way through a fade while one runs.
    QColor shownFill(int bar) const;
    QVariantAnimation &fade() { return m_fade; }

    QSize sizeHint() const override { return QSize(4 * 4 + 3 * 3, 20); }

    // What lies beneath the bars, when it covers them fully: a picture of the parent (in the
    // parent's coordinates) that the bars draw themselves. Then a repaint of the bars touches
    // nothing else; a null picture makes the bars see-through again.
    void setOpaqueBackdrop(const QPixmap &parentPicture);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    using Fills = std::array<QColor, 4>;

    Fills targetFills() const;

    double m_level = 0;
    bool m_isActive = false;
    Fills m_from;
    Fills m_to;
    QVariantAnimation m_fade;
    QPixmap m_backdrop;
};
