#include "kit/widgets/KavrelSwitch.h"

#include "kit/widgets/KavrelAccessibleFactory.h"
#include "kit/widgets/KavrelFocusRing.h"
#include "kit/widgets/KavrelPainting.h"

#include <QPainter>

KavrelSwitch::KavrelSwitch(const Look &look, QWidget *parent) : QAbstractButton(parent), m_look(look)
{
    KavrelAccessibleFactory::registerButton(staticMetaObject, QAccessible::CheckBox);
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
    m_knob.setDuration(std::max(1, look.slideMilliseconds));
    m_knob.setStartValue(0.0);
    m_knob.setEndValue(0.0);
    connect(&m_knob, &QVariantAnimation::valueChanged, this, [this] { update(); });
    if (look.slideMilliseconds <= 0)
        return;
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        // A toggle in mid-slide turns the knob round where it is.
        const bool sliding = m_knob.state() == QAbstractAnimation::Running;
        m_knob.stop();
        m_knob.setStartValue(sliding ? m_knob.currentValue().toDouble() : (on ? 0.0 : 1.0));
        m_knob.setEndValue(on ? 1.0 : 0.0);
        m_knob.start();
    });
}

double KavrelSwitch::knobPosition() const
{
    if (m_knob.state() == QAbstractAnimation::Running)
        return m_knob.currentValue().toDouble();
    return isChecked() ? 1.0 : 0.0;
}

void KavrelSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(m_look.disabledOpacity);
    const double position = knobPosition();
    const QRectF track = QRectF(rect()).adjusted(m_look.trackInsetX, m_look.trackInsetY, -m_look.trackInsetX,
                                                 -m_look.trackInsetY);
    const QColor off = m_look.offTrack.resolve(palette(), m_look.offOpacity);
    const QColor on = m_look.onTrack.resolve(palette());
    const QColor fill = position <= 0 ? off : position >= 1 ? on : KavrelPainting::blend(off, on, position);
    KavrelPainting::fillAndStroke(painter, KavrelPainting::capsule(track), fill, m_look.trackStroke.resolve(palette()));

    const double knob = track.height() - 4;
    QPainterPath knobPath;
    knobPath.addEllipse(QRectF(track.left() + 2 + (track.width() - knob - 4) * position, track.top() + 2, knob, knob));
    KavrelPainting::drawSoftShadow(painter, knobPath, m_look.knobShadow, 3, QPointF(0, 1));
    painter.fillPath(knobPath, Qt::white);

    const double ring = KavrelFocusRing::width / 2;
    KavrelFocusRing::paint(painter, this, KavrelPainting::capsule(QRectF(rect()).adjusted(ring, ring, -ring, -ring)),
                           palette().color(QPalette::Window));
}
