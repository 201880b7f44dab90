#include "signin/widgets/TotpQRCodeView.h"

#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelPainting.h"
#include "signin/TotpQRCodeImage.h"
#include "signin/widgets/SignInSymbols.h"

#include <QPainter>

namespace {

constexpr int side = 138;
constexpr qreal padding = 8;
constexpr qreal fallbackSymbolSize = 46;

} // namespace

TotpQRCodeView::TotpQRCodeView(const std::optional<QString> &dataURL, QWidget *parent)
    : QWidget(parent)
    , m_image(TotpQRCodeImage::decode(dataURL))
{
    setFixedSize(side, side);
}

void TotpQRCodeView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = KavrelPainting::continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 12);
    painter.save();
    painter.setClipPath(shape);
    if (m_image) {
        painter.fillRect(rect(), Qt::white);
        const QRectF area = QRectF(rect()).adjusted(padding, padding, -padding, -padding);
        QSizeF fitted = QSizeF(m_image->size()).scaled(area.size(), Qt::KeepAspectRatio);
        const QRectF target(area.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted);
        // No smoothing: the modules of the code stay sharp-edged.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(target, *m_image);
    } else {
        const QRectF symbol(QRectF(rect()).center() - QPointF(fallbackSymbolSize / 2, fallbackSymbolSize / 2),
                            QSizeF(fallbackSymbolSize, fallbackSymbolSize));
        SignInSymbols::paint(painter, symbol, QStringLiteral("qrcode"), KavrelSystemColors::secondaryLabel.resolve(palette()));
    }
    painter.restore();
    painter.strokePath(shape, QPen(QColor::fromRgbF(0, 0, 0, 0.1), 1));
}
