#include "kit/widgets/KavrelBoundedText.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QTextBoundaryFinder>
#include <QTextDocumentFragment>

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

// The words a part shows, as a text that no one selects or edits. Items are found by Qt's own
// helpers, which the bounds around it keep from looping.
class Words final : public QAccessibleTextInterface
{
public:
    explicit Words(std::function<QString()> words) : m_words(std::move(words)) {}

    void selection(int, int *startOffset, int *endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
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

} // namespace

KavrelBoundedText::KavrelBoundedText(const QObject *object, QAccessibleTextInterface *qtText)
    : m_qt(qtText)
    , m_qtMayLoop(qobject_cast<const QLineEdit *>(object) || qobject_cast<const QAbstractSpinBox *>(object))
{
}

KavrelBoundedText::KavrelBoundedText(std::function<QString()> words)
    : m_words(std::make_unique<Words>(std::move(words)))
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
    return m_qt->text(startOffset, endOffset);
}

QString KavrelBoundedText::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                            int *endOffset) const
{
    return inRange(*m_qt, offset, startOffset, endOffset,
                   [&](int at) { return m_qt->textBeforeOffset(at, boundaryType, startOffset, endOffset); });
}

QString KavrelBoundedText::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                           int *endOffset) const
{
    return inRange(*m_qt, offset, startOffset, endOffset,
                   [&](int at) { return m_qt->textAfterOffset(at, boundaryType, startOffset, endOffset); });
}

QString KavrelBoundedText::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                                        int *endOffset) const
{
    return inRange(*m_qt, offset, startOffset, endOffset, [&](int at) {
        const bool wordOrSentence = boundaryType == QAccessible::WordBoundary || boundaryType == QAccessible::SentenceBoundary;
        if (m_qtMayLoop && wordOrSentence)
            return itemAt(at, boundaryType, startOffset, endOffset);
        return m_qt->textAtOffset(at, boundaryType, startOffset, endOffset);
    });
}

int KavrelBoundedText::characterCount() const
{
    return m_qt->characterCount();
}

QRect KavrelBoundedText::characterRect(int offset) const
{
    return m_qt->characterRect(offset);
}

int KavrelBoundedText::offsetAtPoint(const QPoint &point) const
{
    return m_qt->offsetAtPoint(point);
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
    // Qt's text, never the widget's: a password field's is empty.
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
