#include "signin/widgets/SetupProgressBadge.h"

#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "signin/widgets/ProgressAnimation.h"
#include "signin/widgets/ThemedLabel.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr qreal trackWidth = 104;
constexpr qreal trackHeight = 10;
constexpr qreal spacing = 10;

} // namespace

SetupProgressBadge::SetupProgressBadge(QWidget *parent)
    : QWidget(parent)
    , m_progress(new ProgressAnimation(this))
{
    setFont(ThemedLabel::font(13, QFont::Bold));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SetupProgressBadge::setContent(const QString &title, double progress)
{
    m_title = KavrelLocalizationStore::shared().localized(title);
    m_progress->moveTo(progress);
    updateGeometry();
    update();
}

qreal SetupProgressBadge::fillWidth(double progress)
{
    return std::max(trackWidth * progress, 12.0);
}

QSize SetupProgressBadge::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return QSize(int(std::ceil(28 + trackWidth + spacing + metrics.horizontalAdvance(m_title))),
                 int(std::ceil(std::max(metrics.height(), trackHeight) + 20)));
}

void SetupProgressBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(KavrelPainting::capsule(rect()), KavrelSystemColors::secondaryLabel.resolve(palette(), 0.08));

    const QRectF track(14, (height() - trackHeight) / 2, trackWidth, trackHeight);
    painter.fillPath(KavrelPainting::capsule(track), KavrelSystemColors::secondaryLabel.resolve(palette(), 0.12));
    const QRectF fill(track.topLeft(), QSizeF(std::min(fillWidth(m_progress->value()), trackWidth), trackHeight));
    QLinearGradient gradient(fill.topLeft(), fill.topRight());
    gradient.setColorAt(0, QColor::fromRgbF(0.92f, 0.24f, 0.18f));
    gradient.setColorAt(0.5, QColor::fromRgbF(0.20f, 0.45f, 0.95f));
    gradient.setColorAt(1, QColor::fromRgbF(0.10f, 0.62f, 0.45f));
    painter.fillPath(KavrelPainting::capsule(fill), gradient);

    painter.setPen(KavrelSystemColors::label.resolve(palette()));
    painter.setFont(font());
    const qreal textLeft = track.right() + spacing;
    painter.drawText(QRectF(textLeft, 0, width() - textLeft, height()), Qt::AlignVCenter | Qt::AlignLeft, m_title);
}
