#pragma once

#include <QObject>
#include <QTextCharFormat>
#include <QTextObjectInterface>

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
};
