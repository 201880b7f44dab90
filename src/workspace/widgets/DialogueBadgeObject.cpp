#include "workspace/widgets/DialogueBadgeObject.h"

#include "kit/widgets/KavrelPainting.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextDocument>

namespace {

enum Property {
    kindProperty = QTextFormat::UserProperty + 1,
    labelProperty,
    textColorProperty,
    fillColorProperty,
};

constexpr double horizontalPadding = 6;
constexpr double verticalPadding = 2;

QFont badgeFont(DialogueBadgeObject::Kind kind)
{
    QFont font = kind == DialogueBadgeObject::Kind::timestamp ? QFontDatabase::systemFont(QFontDatabase::FixedFont)
                                                                : QFont();
    font.setPixelSize(10);
    font.setWeight(kind == DialogueBadgeObject::Kind::timestamp ? QFont::Medium : QFont::DemiBold);
    return font;
}

} // namespace

void DialogueBadgeObject::install(QTextDocument *document)
{
    auto *handler = new DialogueBadgeObject(document);
    document->documentLayout()->registerHandler(objectType, handler);
}

QTextCharFormat DialogueBadgeObject::format(Kind kind, const QString &label, const QColor &textColor, const QColor &fillColor)
{
    QTextCharFormat format;
    format.setObjectType(objectType);
    format.setProperty(kindProperty, int(kind));
    format.setProperty(labelProperty, label);
    format.setProperty(textColorProperty, textColor);
    format.setProperty(fillColorProperty, fillColor);
    format.setVerticalAlignment(QTextCharFormat::AlignMiddle);
    return format;
}

QSizeF DialogueBadgeObject::intrinsicSize(QTextDocument *, int, const QTextFormat &format)
{
    const auto kind = Kind(format.intProperty(kindProperty));
    const QFontMetricsF metrics(badgeFont(kind));
    return QSizeF(metrics.horizontalAdvance(format.stringProperty(labelProperty)) + 2 * horizontalPadding,
                  metrics.height() + 2 * verticalPadding);
}

void DialogueBadgeObject::drawObject(QPainter *painter, const QRectF &rect, QTextDocument *, int, const QTextFormat &format)
{
    const auto kind = Kind(format.intProperty(kindProperty));
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->fillPath(KavrelPainting::capsule(rect), format.property(fillColorProperty).value<QColor>());
    painter->setPen(format.property(textColorProperty).value<QColor>());
    painter->setFont(badgeFont(kind));
    painter->drawText(rect, Qt::AlignCenter, format.stringProperty(labelProperty));
    painter->restore();
}
