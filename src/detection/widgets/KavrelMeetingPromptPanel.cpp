#include "detection/widgets/KavrelMeetingPromptPanel.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "platform/X11WindowHints.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace {
// The panel's material: nearly opaque, so that text stays legible over any window.
constexpr KavrelDynamicColor material = kavrelDynamic({0.97, 0.97, 0.98, 0.96}, {0.16, 0.16, 0.18, 0.96});
} // namespace

KavrelMeetingPromptPanel::KavrelMeetingPromptPanel(QSize size, QWidget *view)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    // Without a compositor translucent corners would show black; the shape is cut out instead.
    m_translucent = X11WindowHints::isCompositing();
    setAttribute(Qt::WA_TranslucentBackground, m_translucent);
    // Wider than its design size only when longer texts (other languages) need it.
    setFixedSize(size.expandedTo(QSize(view->sizeHint().width() + 2, size.height())));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->addWidget(view);
}

QPainterPath KavrelMeetingPromptPanel::outline() const
{
    return KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), cornerRadius);
}

void KavrelMeetingPromptPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (!m_translucent)
        setMask(QRegion(outline().toFillPolygon().toPolygon()));
}

void KavrelMeetingPromptPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    KavrelPainting::fillAndStroke(painter, outline(), material.resolve(palette()),
                                  KavrelSystemColors::label.resolve(palette(), 0.08 / 0.85));
}

void KavrelMeetingPromptPanel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && windowHandle() && windowHandle()->startSystemMove()) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}
