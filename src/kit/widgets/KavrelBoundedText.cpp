#include "kit/widgets/KavrelBoundedText.h"

#include "kit/widgets/KavrelReadableText.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAbstractTextDocumentLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QTextLayout>

#include <algorithm>

namespace {

// Asks `ask` for the place a client means by `offset` (-2 the caret, -1 the end of the text), when
// it lies in the text; an answer whose range does not lie in the text is no answer.
template<typename Ask>
QString inRange(const QAccessibleTextInterface &qt, int offset, int *startOffset, int *endOffset, Ask ask)
{
    *startOffset = *endOffset = -1;
    const int count = qt.characterCount();
    if (offset == -2)
        offset = qt.cursorPosition();
    else if (offset == -1)
        offset = count;
    if (offset < 0 || offset > count)
        return QString();
    QString found = ask(offset);
    if (*startOffset < 0 || *startOffset > *endOffset || *endOffset > count) {
        *startOffset = *endOffset = -1;
        return QString();
    }
    return found;
}

// A widget whose text the keyboard reads, with a caret of its own.
KavrelReadableText *readable(QObject *object)
{
    return object && object->isWidgetType() ? dynamic_cast<KavrelReadableText *>(static_cast<QWidget *>(object)) : nullptr;
}

// The words a part shows, as a text that no one selects or edits, and whose caret is the one the
// keyboard reads it with, where it has one. Items are found by Qt's own helpers, which the bounds
// around it keep from looping.
class Words final : public QAccessibleTextInterface
{
public:
    Words(std::function<QString()> words, QObject *object) : m_words(std::move(words)), m_object(object) {}

    void selection(int, int *startOffset, int *endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override
    {
        const KavrelReadableText *reader = readable(m_object.data());
        return reader ? reader->readingCaret() : 0;
    }
    void setCursorPosition(int position) override
    {
        if (KavrelReadableText *reader = readable(m_object.data()))
            reader->setReadingCaret(position);
    }
    QString text(int startOffset, int endOffset) const override
    {
        const QString words = m_words();
        if (startOffset < 0 || startOffset > words.size() || endOffset < startOffset)
            return QString();
        return words.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(m_words().size()); }
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = -1;
        return QString();
    }

private:
    std::function<QString()> m_words;
    QPointer<QObject> m_object;
};

// A button's or a label's text as it shows: "&" marks the letter underlined, "&&" shows one.
QString withoutMnemonics(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        shown.append(text.at(i));
    }
    return shown;
}

// A field that hides what is typed into it behind its mask.
const QLineEdit *secretField(const QObject *object)
{
    const auto *field = qobject_cast<const QLineEdit *>(object);
    return field && field->echoMode() != QLineEdit::Normal ? field : nullptr;
}

// The mask of `length` characters of the secret `field`: the character it draws for each, or none
// at all where it shows nothing.
QString maskOf(const QLineEdit &field, qsizetype length)
{
    if (field.echoMode() == QLineEdit::NoEcho)
        return QString();
    const QChar mask(char16_t(field.style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, &field)));
    return QString(length, mask);
}

// The item of a mask before, at or after `offset` (`step` -1, 0, 1): each character alone, and
// otherwise the mask whole, which has no words or lines a reader could tell apart.
QString maskItem(const QString &mask, int offset, int step, QAccessible::TextBoundaryType boundaryType,
                 int *startOffset, int *endOffset)
{
    *startOffset = *endOffset = -1;
    if (boundaryType == QAccessible::CharBoundary) {
        const int at = offset + step;
        if (at < 0 || at >= mask.size())
            return QString();
        *startOffset = at;
        *endOffset = at + 1;
        return mask.mid(at, 1);
    }
    if (step != 0 || mask.isEmpty())
        return QString();
    *startOffset = 0;
    *endOffset = int(mask.size());
    return mask;
}

// Where a point of a text view's viewport lies in its document.
QPointF documentPoint(const QTextEdit &view, const QPoint &inViewport)
{
    return QPointF(inViewport) + QPointF(view.horizontalScrollBar()->value(), view.verticalScrollBar()->value());
}

// Where the character at `offset` of a text view lies in its viewport: its line's height, its own
// width (a line's end a sliver); none for a character outside the document or not laid out.
QRectF characterArea(const QTextEdit &view, int offset)
{
    const QTextDocument *document = view.document();
    if (offset < 0 || offset >= document->characterCount() - 1)
        return QRectF();
    const QTextBlock block = document->findBlock(offset);
    const QTextLayout *layout = block.layout();
    const int inBlock = offset - block.position();
    const QTextLine line = layout ? layout->lineForTextPosition(inBlock) : QTextLine();
    if (!line.isValid())
        return QRectF();
    const qreal leading = line.cursorToX(inBlock, QTextLine::Leading);
    const qreal trailing = line.cursorToX(inBlock, QTextLine::Trailing);
    const QRectF area(std::min(leading, trailing), line.y(), std::max<qreal>(1, std::abs(trailing - leading)), line.height());
    return area.translated(layout->position() - documentPoint(view, QPoint(0, 0)));
}

// The character at a point of a text view's viewport: the one under it, else the nearest one of
// the line nearest it.
int characterAt(const QTextEdit &view, const QPoint &inViewport)
{
    const QTextDocument *document = view.document();
    const QPointF inDocument = documentPoint(view, inViewport);
    const int nearest = document->documentLayout()->hitTest(inDocument, Qt::FuzzyHit);
    const QTextBlock block = document->findBlock(std::max(0, nearest));
    const QTextLayout *layout = block.layout();
    if (nearest < 0 || !layout || layout->lineCount() == 0)
        return -1;
    // The line at the point's height, or the one nearest it.
    const qreal y = inDocument.y() - layout->position().y();
    QTextLine line = layout->lineAt(0);
    for (int index = 0; index < layout->lineCount(); ++index) {
        line = layout->lineAt(index);
        if (y < line.y() + line.height())
            break;
    }
    int inBlock = line.xToCursor(inDocument.x() - layout->position().x(), QTextLine::CursorOnCharacter);
    if (line.textLength() > 0)
        inBlock = std::clamp(inBlock, line.textStart(), line.textStart() + line.textLength() - 1);
    return block.position() + inBlock;
}

} // namespace

KavrelBoundedText::KavrelBoundedText(const QObject *object, QAccessibleTextInterface *qtText)
    : m_qt(qtText)
    , m_field(qobject_cast<const QLineEdit *>(object))
    , m_view(qobject_cast<const QTextEdit *>(object))
    , m_qtMayLoop(qobject_cast<const QLineEdit *>(object) || qobject_cast<const QAbstractSpinBox *>(object))
{
}

std::unique_ptr<QAccessibleEvent> KavrelBoundedText::masked(QAccessibleEvent *event)
{
    const QLineEdit *field = secretField(event->object());
    if (!field)
        return nullptr;
    QObject *object = event->object();
    std::unique_ptr<QAccessibleEvent> told;
    switch (event->type()) {
    case QAccessible::TextInserted: {
        const auto *inserted = static_cast<QAccessibleTextInsertEvent *>(event);
        told = std::make_unique<QAccessibleTextInsertEvent>(object, inserted->changePosition(),
                                                            maskOf(*field, inserted->textInserted().size()));
        break;
    }
    case QAccessible::TextRemoved: {
        const auto *removed = static_cast<QAccessibleTextRemoveEvent *>(event);
        told = std::make_unique<QAccessibleTextRemoveEvent>(object, removed->changePosition(),
                                                            maskOf(*field, removed->textRemoved().size()));
        break;
    }
    case QAccessible::TextUpdated: {
        const auto *updated = static_cast<QAccessibleTextUpdateEvent *>(event);
        told = std::make_unique<QAccessibleTextUpdateEvent>(object, updated->changePosition(),
                                                            maskOf(*field, updated->textRemoved().size()),
                                                            maskOf(*field, updated->textInserted().size()));
        break;
    }
    case QAccessible::ValueChanged: {
        const QVariant value = static_cast<QAccessibleValueChangeEvent *>(event)->value();
        if (value.typeId() != QMetaType::QString)
            return nullptr;
        told = std::make_unique<QAccessibleValueChangeEvent>(object, maskOf(*field, value.toString().size()));
        break;
    }
    default:
        return nullptr;
    }
    told->setChild(event->child());
    if (event->type() != QAccessible::ValueChanged) {
        static_cast<QAccessibleTextCursorEvent *>(told.get())
            ->setCursorPosition(static_cast<QAccessibleTextCursorEvent *>(event)->cursorPosition());
    }
    return told;
}

KavrelBoundedText::KavrelBoundedText(std::function<QString()> words, QObject *object)
    : m_words(std::make_unique<Words>(std::move(words), object))
    , m_qt(m_words.get())
    , m_qtMayLoop(true)
{
}

KavrelBoundedText::~KavrelBoundedText() = default;

QString KavrelBoundedText::shownWords(const QAccessibleInterface *part)
{
    if (!part || !part->isValid())
        return QString();
    const QObject *object = part->object();
    if (const KavrelReadableText *reader = readable(part->object()))
        return reader->readableText();
    if (const auto *label = qobject_cast<const QLabel *>(object); label && !label->text().isEmpty()) {
        const QString text = label->text();
        const bool rich = label->textFormat() == Qt::RichText
                          || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
        if (rich)
            return QTextDocumentFragment::fromHtml(text).toPlainText();
        return label->buddy() ? withoutMnemonics(text) : text;
    }
    if (const auto *button = qobject_cast<const QAbstractButton *>(object); button && !button->text().isEmpty())
        return withoutMnemonics(button->text());
    return part->text(QAccessible::Name);
}

void KavrelBoundedText::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    m_qt->selection(selectionIndex, startOffset, endOffset);
}

int KavrelBoundedText::selectionCount() const
{
    return m_qt->selectionCount();
}

void KavrelBoundedText::addSelection(int startOffset, int endOffset)
{
    m_qt->addSelection(startOffset, endOffset);
}

void KavrelBoundedText::removeSelection(int selectionIndex)
{
    m_qt->removeSelection(selectionIndex);
}

void KavrelBoundedText::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    m_qt->setSelection(selectionIndex, startOffset, endOffset);
}

int KavrelBoundedText::cursorPosition() const
{
    return m_qt->cursorPosition();
}

void KavrelBoundedText::setCursorPosition(int position)
{
    m_qt->setCursorPosition(position);
}

QString KavrelBoundedText::text(int startOffset, int endOffset) const
{
    const QLineEdit *field = secretField(m_field);
    if (!field)
        return m_qt->text(startOffset, endOffset);
    const QString mask = maskOf(*field, field->text().size());
    if (startOffset < 0 || startOffset > mask.size() || endOffset < startOffset)
        return QString();
    return mask.mid(startOffset, endOffset - startOffset);
}

QString KavrelBoundedText::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                            int *endOffset) const
{
    return inRange(*this, offset, startOffset, endOffset, [&](int at) {
        if (secretField(m_field))
            return maskItem(text(0, characterCount()), at, -1, boundaryType, startOffset, endOffset);
        return m_qt->textBeforeOffset(at, boundaryType, startOffset, endOffset);
    });
}

QString KavrelBoundedText::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                           int *endOffset) const
{
    return inRange(*this, offset, startOffset, endOffset, [&](int at) {
        if (secretField(m_field))
            return maskItem(text(0, characterCount()), at, 1, boundaryType, startOffset, endOffset);
        return m_qt->textAfterOffset(at, boundaryType, startOffset, endOffset);
    });
}

QString KavrelBoundedText::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                        int *endOffset) const
{
    return inRange(*this, offset, startOffset, endOffset, [&](int at) {
        if (secretField(m_field))
            return maskItem(text(0, characterCount()), at, 0, boundaryType, startOffset, endOffset);
        const bool wordOrSentence = boundaryType == QAccessible::WordBoundary || boundaryType == QAccessible::SentenceBoundary;
        if (m_qtMayLoop && wordOrSentence)
            return itemAt(at, boundaryType, startOffset, endOffset);
        // The line at the end of a text is its last one, as at its last character (a caret sent
        // there by Ctrl+End is on it); Qt's text views answer an empty line.
        const bool lineOrParagraph = boundaryType == QAccessible::LineBoundary || boundaryType == QAccessible::ParagraphBoundary;
        if (lineOrParagraph && at > 0 && at == characterCount())
            --at;
        return m_qt->textAtOffset(at, boundaryType, startOffset, endOffset);
    });
}

int KavrelBoundedText::characterCount() const
{
    const QLineEdit *field = secretField(m_field);
    return field ? int(maskOf(*field, field->text().size()).size()) : m_qt->characterCount();
}

QRect KavrelBoundedText::characterRect(int offset) const
{
    if (!m_view)
        return m_qt->characterRect(offset);
    // Only where it is seen: a character scrolled away lies at no place on the screen.
    const QWidget *viewport = m_view->viewport();
    const QRect seen = characterArea(*m_view, offset).toAlignedRect() & viewport->rect();
    return seen.isEmpty() ? QRect() : seen.translated(viewport->mapToGlobal(QPoint(0, 0)));
}

int KavrelBoundedText::offsetAtPoint(const QPoint &point) const
{
    if (!m_view)
        return m_qt->offsetAtPoint(point);
    const QWidget *viewport = m_view->viewport();
    const QPoint inViewport = viewport->mapFromGlobal(point);
    return viewport->rect().contains(inViewport) ? characterAt(*m_view, inViewport) : -1;
}

void KavrelBoundedText::scrollToSubstring(int startIndex, int endIndex)
{
    m_qt->scrollToSubstring(startIndex, endIndex);
}

QString KavrelBoundedText::attributes(int offset, int *startOffset, int *endOffset) const
{
    return m_qt->attributes(offset, startOffset, endOffset);
}

QString KavrelBoundedText::itemAt(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                  int *endOffset) const
{
    const QString text = m_qt->text(0, m_qt->characterCount());
    if (text.isEmpty())
        return QString();
    QTextBoundaryFinder finder(boundaryType == QAccessible::WordBoundary ? QTextBoundaryFinder::Word
                                                                         : QTextBoundaryFinder::Sentence,
                               text);
    const auto atEdge = [&finder] {
        return finder.isAtBoundary()
               && (finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem));
    };
    // Back to where the item at the offset starts, or to where the one before it ends (a space or
    // a full stop after a word is an item of its own); at the end of the text, as at its last
    // character. Where none is found the item starts the text.
    finder.setPosition(offset);
    if (offset == text.size())
        finder.toPreviousBoundary();
    while (finder.position() > 0 && !atEdge())
        finder.toPreviousBoundary();
    const qsizetype start = std::max<qsizetype>(0, finder.position());
    // On to where it ends, or to the end of the text.
    finder.setPosition(start);
    qsizetype end = text.size();
    while (finder.toNextBoundary() > 0 && finder.position() < text.size()) {
        if (atEdge()) {
            end = finder.position();
            break;
        }
    }
    *startOffset = int(start);
    *endOffset = int(end);
    return text.mid(start, end - start);
}
