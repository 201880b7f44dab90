#include "workspace/widgets/DialogueBadgeObject.h"

#include "kit/widgets/KavrelPainting.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
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

DialogueBadgeObject::Measures &DialogueBadgeObject::measuresFor(Kind kind)
{
    Measures &measures = m_measures[kind == Kind::timestamp ? 0 : 1];
    // The system's fonts may change while the program runs.
    const QFont font = badgeFont(kind);
    if (!measures.metrics || font != measures.font) {
        measures.font = font;
        measures.metrics.emplace(font);
        measures.widths.clear();
    }
    return measures;
}

QSizeF DialogueBadgeObject::intrinsicSize(QTextDocument *, int, const QTextFormat &format)
{
    Measures &measures = measuresFor(Kind(format.intProperty(kindProperty)));
    const QString label = format.stringProperty(labelProperty);
    auto width = measures.widths.constFind(label);
    if (width == measures.widths.constEnd()) {
        // Every row has a time of its own; the rows on screen are what counts.
        if (measures.widths.size() >= 512)
            measures.widths.clear();
        width = measures.widths.insert(label, measures.metrics->horizontalAdvance(label));
    }
    return QSizeF(*width + 2 * horizontalPadding, measures.metrics->height() + 2 * verticalPadding);
}

void DialogueBadgeObject::drawObject(QPainter *painter, const QRectF &rect, QTextDocument *, int, const QTextFormat &format)
{
    const auto kind = Kind(format.intProperty(kindProperty));
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->fillPath(KavrelPainting::capsule(rect), format.property(fillColorProperty).value<QColor>());
    painter->setPen(format.property(textColorProperty).value<QColor>());
    painter->setFont(measuresFor(kind).font);
    painter->drawText(rect, Qt::AlignCenter, format.stringProperty(labelProperty));
    painter->restore();
}
