#include "screens/widgets/KavrelSettingsSwitch.h"

#include "kit/widgets/KavrelFocusRing.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"

#include <QPainter>

KavrelSettingsSwitch::KavrelSettingsSwitch(QWidget *parent) : QAbstractButton(parent)
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
    m_knob.setDuration(140);
    m_knob.setStartValue(0.0);
    m_knob.setEndValue(0.0);
    connect(&m_knob, &QVariantAnimation::valueChanged, this, [this] { update(); });
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        m_knob.stop();
        m_knob.setStartValue(m_knob.currentValue().isValid() ? m_knob.currentValue().toDouble() : (on ? 0.0 : 1.0));
        m_knob.setEndValue(on ? 1.0 : 0.0);
        m_knob.start();
    });
}

void KavrelSettingsSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal position = m_knob.state() == QAbstractAnimation::Running ? m_knob.currentValue().toDouble()
                                                                          : (isChecked() ? 1.0 : 0.0);
    const QRectF track = QRectF(rect()).adjusted(2, 2, -2, -2);
    const QColor off = KavrelSettingsTheme::controlBorder.resolve(palette());
    const QColor on = KavrelSettingsTheme::accent.resolve(palette());
    QColor fill = KavrelPainting::blend(off, on, position);
    fill.setAlphaF(1);
    painter.fillPath(KavrelPainting::capsule(track), fill);
    if (KavrelFocusRing::shows(this)) {
        painter.setPen(QPen(KavrelSettingsTheme::accent.resolve(palette(), 0.6), 2));
        painter.drawPath(KavrelPainting::capsule(QRectF(rect()).adjusted(1, 1, -1, -1)));
    }
    const qreal knob = track.height() - 4;
    const QRectF knobRect(track.left() + 2 + (track.width() - knob - 4) * position, track.top() + 2, knob, knob);
    QPainterPath knobPath;
    knobPath.addEllipse(knobRect);
    KavrelPainting::drawSoftShadow(painter, knobPath, QColor(0, 0, 0, 50), 3, QPointF(0, 1));
    painter.fillPath(knobPath, Qt::white);
}
