#include "workspace/widgets/MicrophoneLevelBars.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "workspace/WorkspaceRules.h"

#include <QEasingCurve>
#include <QEvent>
#include <QPainter>

MicrophoneLevelBars::MicrophoneLevelBars(QWidget *parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
    for (int bar = 0; bar < 4; ++bar) {
        const double barHeight = 8 + 4 * bar;
        m_shapes[size_t(bar)] = KavrelPainting::continuousRoundedRect(QRectF(bar * 7, height() - barHeight, 4, barHeight), 2);
    }
    m_from = m_to = m_painted = targetFills();
    m_fadeSteps.setInterval(fadeStepMilliseconds);
    connect(&m_fadeSteps, &QTimer::timeout, this, &MicrophoneLevelBars::stepFade);
}

void MicrophoneLevelBars::setLevel(double level, bool isActive)
{
    const int litBefore = litBars();
    const bool wasActive = m_isActive;
    m_level = level;
    m_isActive = isActive;
    if (litBars() == litBefore && wasActive == isActive)
        return;
    // The fade starts from what shows now, so a change during a fade does not jump.
    m_fadeFromRest = !fadeTime() || *fadeTime() >= fadeMilliseconds;
    Fills shown;
    for (int bar = 0; bar < 4; ++bar)
        shown[size_t(bar)] = shownFill(bar);
    m_from = shown;
    m_to = targetFills();
    if (!isVisible()) {
        // Nobody sees a fade: the bars show their new colours when they come back.
        m_fadeSteps.stop();
        m_heldFadeTime.reset();
        m_from = m_to;
        m_fadeFromRest = true;
        return;
    }
    // The fade's first frame is what shows already; the steps draw the rest.
    m_heldFadeTime.reset();
    m_fadeClock.start();
    m_fadeSteps.start();
}

void MicrophoneLevelBars::holdFade(int milliseconds)
{
    m_heldFadeTime = milliseconds;
    m_fadeSteps.stop();
}

void MicrophoneLevelBars::stepFade()
{
    if (m_fadeClock.elapsed() >= fadeMilliseconds)
        m_fadeSteps.stop();
    // Near its end a step can change nothing a screen shows.
    for (int bar = 0; bar < 4; ++bar) {
        if (shownFill(bar).rgba() != m_painted[size_t(bar)].rgba()) {
            update();
            return;
        }
    }
}

int MicrophoneLevelBars::litBars() const
{
    return m_isActive ? WorkspaceRules::litLevelBars(m_level) : 0;
}

std::optional<qint64> MicrophoneLevelBars::fadeTime() const
{
    if (m_heldFadeTime)
        return *m_heldFadeTime;
    if (m_fadeSteps.isActive())
        return m_fadeClock.elapsed();
    return std::nullopt;
}

QColor MicrophoneLevelBars::shownFill(int bar) const
{
    return fillAt(bar, fadeTime());
}

QColor MicrophoneLevelBars::fillAt(int bar, std::optional<qint64> time) const
{
    const auto index = size_t(bar);
    if (!time || *time >= fadeMilliseconds)
        return m_to[index];
    const double progress = QEasingCurve(QEasingCurve::OutCubic).valueForProgress(double(*time) / fadeMilliseconds);
    return KavrelPainting::blend(m_from[index], m_to[index], progress);
}

MicrophoneLevelBars::Fills MicrophoneLevelBars::targetFills() const
{
    const int lit = litBars();
    Fills fills;
    for (int bar = 0; bar < 4; ++bar) {
        if (!m_isActive)
            fills[size_t(bar)] = KavrelSystemColors::secondaryLabel.resolve(palette(), 0.25);
        else if (bar < lit)
            fills[size_t(bar)] = QColor::fromRgbF(0.2f, 0.78f, 0.41f);
        else
            fills[size_t(bar)] = QColor::fromRgbF(1, 1, 1, 0.35f);
    }
    return fills;
}

void MicrophoneLevelBars::changeEvent(QEvent *event)
{
    // The grey of idle bars follows the palette (light or dark appearance).
    if (event->type() == QEvent::PaletteChange) {
        m_fadeSteps.stop();
        m_heldFadeTime.reset();
        m_from = m_to = targetFills();
        update();
    }
    QWidget::changeEvent(event);
}

void MicrophoneLevelBars::setOpaqueBackdrop(const QPixmap &parentPicture)
{
    m_backdrop = QPixmap();
    m_frames.clear();
    if (!parentPicture.isNull()) {
        // Only the part under the bars, without an alpha channel: drawing it is a copy.
        const qreal ratio = parentPicture.devicePixelRatio();
        const QRect under(QPoint(qRound(x() * ratio), qRound(y() * ratio)), size() * ratio);
        m_backdrop = QPixmap::fromImage(parentPicture.copy(under).toImage().convertToFormat(QImage::Format_RGB32));
        m_backdrop.setDevicePixelRatio(ratio);
    }
    setAttribute(Qt::WA_OpaquePaintEvent, !m_backdrop.isNull());
}

void MicrophoneLevelBars::paintEvent(QPaintEvent *)
{
    // A fade is drawn at its steps' times, not at whatever moment the repaint comes: the same
    // few frames then serve every change between the same bars.
    std::optional<qint64> time = fadeTime();
    if (time)
        time = qRound64(double(*time) / fadeStepMilliseconds) * fadeStepMilliseconds;
    for (int bar = 0; bar < 4; ++bar)
        m_painted[size_t(bar)] = fillAt(bar, time);
    QPainter painter(this);
    // The bars at rest and the steps of a fade that began at rest come back again and again; a
    // fade that began part way through another blends colours that seldom do, and keeping its
    // frames only pushed the others out.
    if (!time || m_fadeFromRest)
        painter.drawPixmap(0, 0, frameFor(m_painted));
    else
        drawFrame(painter, m_painted);
}

void MicrophoneLevelBars::drawFrame(QPainter &painter, const Fills &fills) const
{
    if (!m_backdrop.isNull())
        painter.drawPixmap(0, 0, m_backdrop);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int bar = 0; bar < 4; ++bar)
        painter.fillPath(m_shapes[size_t(bar)], fills[size_t(bar)]);
}

const QPixmap &MicrophoneLevelBars::frameFor(const Fills &fills)
{
    const qreal ratio = devicePixelRatioF();
    QByteArray key;
    for (const QColor &fill : fills) {
        const QRgba64 rgba = fill.rgba64();
        key.append(reinterpret_cast<const char *>(&rgba), sizeof rgba);
    }
    auto frame = m_frames.constFind(key);
    if (frame != m_frames.constEnd() && frame->devicePixelRatio() == ratio)
        return *frame;
    if (m_frames.size() >= 64)
        m_frames.clear();
    QPixmap drawn(size() * ratio);
    drawn.setDevicePixelRatio(ratio);
    drawn.fill(Qt::transparent);
    QPainter painter(&drawn);
    drawFrame(painter, fills);
    painter.end();
    return *m_frames.insert(key, drawn);
}
