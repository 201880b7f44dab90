#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QHash>
#include <QPainterPath>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <array>
#include <optional>

class QPainter;

// Four bars of growing height that light from the shortest up as the microphone level
// reaches 0.25, 0.5, 0.75 and 1; grey while the microphone is neither captured nor tested.
// A change of the bars fades them to their new colours in 0.12 s, easing out.
//
// While someone speaks the bars change several times a second, so the fade is drawn in a few
// steps rather than at the display's rate: every frame of the window is a round trip to the
// display server, and a colour change of bars 4 pixels wide looks no different.
class MicrophoneLevelBars final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int fadeMilliseconds = 120;
    static constexpr int fadeStepMilliseconds = 60;

    explicit MicrophoneLevelBars(QWidget *parent = nullptr);

    void setLevel(double level, bool isActive);
    int litBars() const;
    bool isActive() const { return m_isActive; }

    // The colour bar (0–3) shows now, part way through a fade while one runs.
    QColor shownFill(int bar) const;
    bool isFading() const { return m_fadeSteps.isActive(); }
    // Stops the fade's clock at the given time into the fade (for tests); the next change lets
    // it run again.
    void holdFade(int milliseconds);

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
    std::optional<qint64> fadeTime() const;
    QColor fillAt(int bar, std::optional<qint64> time) const;
    void stepFade();
    const QPixmap &frameFor(const Fills &fills);
    void drawFrame(QPainter &painter, const Fills &fills) const;

    double m_level = 0;
    bool m_isActive = false;
    Fills m_from;
    Fills m_to;
    Fills m_painted;
    std::array<QPainterPath, 4> m_shapes;
    QTimer m_fadeSteps;
    QElapsedTimer m_fadeClock;
    std::optional<int> m_heldFadeTime;
    bool m_fadeFromRest = true;
    QPixmap m_backdrop;
    // Drawn frames by their four colours: the bars show a handful of them over and over, and
    // filling their rounded shapes again for each was most of a repaint's cost.
    QHash<QByteArray, QPixmap> m_frames;
};
