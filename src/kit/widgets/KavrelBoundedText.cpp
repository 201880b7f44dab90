#include "kit/widgets/KavrelBoundedText.h"

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <QTextBoundaryFinder>

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

class NoText final : public QAccessibleTextInterface
{
public:
    void selection(int, int *startOffset, int *endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int, int) const override { return QString(); }
    QString textBeforeOffset(int, QAccessible::TextBoundaryType, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = -1;
        return QString();
    }
    QString textAfterOffset(int, QAccessible::TextBoundaryType, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = -1;
        return QString();
    }
    QString textAtOffset(int, QAccessible::TextBoundaryType, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = -1;
        return QString();
    }
    int characterCount() const override { return 0; }
    QRect characterRect(int) const override { return QRect(); }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = -1;
        return QString();
    }
};

} // namespace

QAccessibleTextInterface *KavrelBoundedText::none()
{
    static NoText *const text = new NoText;
    return text;
}

KavrelBoundedText::KavrelBoundedText(const QObject *object, QAccessibleTextInterface *qtText)
    : m_qt(qtText)
    , m_qtLoopsAtTheEnd(qobject_cast<const QLineEdit *>(object) || qobject_cast<const QAbstractSpinBox *>(object))
{
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
        if (m_qtLoopsAtTheEnd && wordOrSentence && at == m_qt->characterCount())
            return lastItem(boundaryType, startOffset, endOffset);
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

QString KavrelBoundedText::lastItem(QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    // Qt's text, never the widget's: a password field's is empty.
    const QString text = m_qt->text(0, m_qt->characterCount());
    if (text.isEmpty())
        return QString();
    // Back from the end to where the last item starts, or to where the one before it ends (a
    // space or a full stop after the last word is an item of its own), as Qt answers for the
    // last character.
    QTextBoundaryFinder finder(boundaryType == QAccessible::WordBoundary ? QTextBoundaryFinder::Word
                                                                         : QTextBoundaryFinder::Sentence,
                               text);
    finder.toEnd();
    qsizetype start = 0;
    while (finder.toPreviousBoundary() > 0) {
        if (finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem)) {
            start = finder.position();
            break;
        }
    }
    *startOffset = int(start);
    *endOffset = int(text.size());
    return text.mid(start);
}
