#pragma once

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QObject>
#include <QTextCharFormat>
#include <QTextObjectInterface>

#include <array>
#include <optional>

class QTextDocument;

// The small capsules at the start of a dialogue row (time and speaker), drawn inline in the
// row's text so a row stays one selectable, copyable line of text.
class DialogueBadgeObject final : public QObject, public QTextObjectInterface
{
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

public:
    enum class Kind { timestamp, speaker };
    static constexpr int objectType = QTextFormat::UserObject + 17;

    // Registers the badge drawing with the document's layout (once per document).
    static void install(QTextDocument *document);
    // The character format of one badge; its label is what a copy of the row gives.
    static QTextCharFormat format(Kind kind, const QString &label, const QColor &textColor, const QColor &fillColor);

    QSizeF intrinsicSize(QTextDocument *document, int position, const QTextFormat &format) override;
    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *document, int position,
                    const QTextFormat &format) override;

    using QObject::QObject;

private:
    // The layout asks a badge's size each time it shapes the badge's line, for every line drawn
    // as well; measuring the label shaped it again each time.
    struct Measures
    {
        QFont font;
        std::optional<QFontMetricsF> metrics;
        QHash<QString, qreal> widths; // by label
    };
    Measures &measuresFor(Kind kind);

    std::array<Measures, 2> m_measures;
};
