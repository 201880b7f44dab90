#include "kit/widgets/KavrelReadableText.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QWidget>

#include <algorithm>

namespace {

qsizetype lineStart(const QString &text, qsizetype position)
{
    return position > 0 ? text.lastIndexOf(QLatin1Char('\n'), position - 1) + 1 : 0;
}

qsizetype lineEnd(const QString &text, qsizetype position)
{
    const qsizetype end = text.indexOf(QLatin1Char('\n'), position);
    return end < 0 ? text.size() : end;
}

// Where the caret goes for `key` from `caret`, or -1 for a key that does not read.
qsizetype movedCaret(const QString &text, qsizetype caret, int key, bool wholeText)
{
    const qsizetype start = lineStart(text, caret);
    switch (key) {
    case Qt::Key_Left:
        return std::max<qsizetype>(0, caret - 1);
    case Qt::Key_Right:
        return std::min(text.size(), caret + 1);
    case Qt::Key_Home:
        return wholeText ? 0 : start;
    case Qt::Key_End:
        return wholeText ? text.size() : lineEnd(text, caret);
    case Qt::Key_Up: {
        if (start == 0)
            return 0;
        const qsizetype above = lineStart(text, start - 1);
        return std::min(above + (caret - start), start - 1);
    }
    case Qt::Key_Down: {
        const qsizetype end = lineEnd(text, caret);
        if (end == text.size())
            return text.size();
        return std::min(end + 1 + (caret - start), lineEnd(text, end + 1));
    }
    default:
        return -1;
    }
}

} // namespace

void KavrelReadableText::setReadingCaret(int position)
{
    m_caret = std::clamp(position, 0, int(readableText().size()));
    caretMoved();
    auto *widget = dynamic_cast<QWidget *>(this);
    if (widget && QAccessible::isActive()) {
        QAccessibleTextCursorEvent event(widget, m_caret);
        QAccessible::updateAccessibility(&event);
    }
}

bool KavrelReadableText::readKey(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers != Qt::NoModifier && modifiers != Qt::ControlModifier)
        return false;
    const bool wholeText = modifiers == Qt::ControlModifier;
    if (wholeText && event->key() != Qt::Key_Home && event->key() != Qt::Key_End)
        return false;
    const QString text = readableText();
    const qsizetype moved = movedCaret(text, std::min<qsizetype>(m_caret, text.size()), event->key(), wholeText);
    if (moved < 0)
        return false;
    setReadingCaret(int(moved));
    return true;
}
