#include "kit/widgets/KavrelBoundedEditableText.h"

#include "kit/widgets/KavrelFocusHold.h"

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <limits>

namespace {

// The line the user types into: a line edit, or a spin box's.
QLineEdit *lineOf(QObject *object)
{
    if (auto *field = qobject_cast<QLineEdit *>(object))
        return field;
    if (auto *box = qobject_cast<QAbstractSpinBox *>(object))
        return box->findChild<QLineEdit *>(QString(), Qt::FindDirectChildrenOnly);
    return nullptr;
}

// The longest text the field takes; a line edit cuts whatever is longer, after building it whole.
qsizetype longestText(QObject *object)
{
    const QLineEdit *field = lineOf(object);
    return field ? field->maxLength() : std::numeric_limits<int>::max();
}

// The text sent, without the padding after it. A D-Bus string carries no NUL, so the first one
// starts the padding; the padding itself is never read through (it may be gigabytes long).
QString withoutPadding(const QString &text)
{
    const qsizetype padding = text.indexOf(QChar(0));
    return padding < 0 ? text : text.left(padding);
}

} // namespace

KavrelBoundedEditableText::KavrelBoundedEditableText(QObject *object, QAccessibleEditableTextInterface *qtEditable,
                                                     QAccessibleTextInterface *text)
    : m_object(object)
    , m_qt(qtEditable)
    , m_text(text)
{
}

bool KavrelBoundedEditableText::userMayEdit(const QObject *object)
{
    const auto *widget = qobject_cast<const QWidget *>(object);
    if (!widget || !widget->isEnabled() || KavrelFocusHold::isHeld(widget))
        return false;
    if (const auto *field = qobject_cast<const QLineEdit *>(widget))
        return !field->isReadOnly();
    if (const auto *view = qobject_cast<const QTextEdit *>(widget))
        return !view->isReadOnly();
    if (const auto *view = qobject_cast<const QPlainTextEdit *>(widget))
        return !view->isReadOnly();
    if (const auto *box = qobject_cast<const QAbstractSpinBox *>(widget))
        return !box->isReadOnly();
    return false;
}

bool KavrelBoundedEditableText::offered() const
{
    return m_qt && m_text && userMayEdit(m_object);
}

bool KavrelBoundedEditableText::allows(int startOffset, int endOffset, const QString &text) const
{
    if (!offered())
        return false;
    const int count = m_text->characterCount();
    if (startOffset < 0 || startOffset > endOffset || endOffset > count)
        return false;
    return text.size() <= longestText(m_object) - (count - (endOffset - startOffset));
}

bool KavrelBoundedEditableText::type(int startOffset, int endOffset, const QString &text)
{
    QLineEdit *field = lineOf(m_object);
    if (!field)
        return false;
    if (endOffset > startOffset) {
        field->setSelection(startOffset, endOffset - startOffset);
    } else {
        field->deselect();
        field->setCursorPosition(startOffset);
    }
    if (!text.isEmpty())
        field->insert(text);
    else if (endOffset > startOffset)
        field->del();
    return true;
}

QString KavrelBoundedEditableText::fieldText() const
{
    if (const QLineEdit *field = lineOf(m_object))
        return field->text();
    if (const auto *view = qobject_cast<const QTextEdit *>(m_object))
        return view->toPlainText();
    if (const auto *view = qobject_cast<const QPlainTextEdit *>(m_object))
        return view->toPlainText();
    return m_text ? m_text->text(0, m_text->characterCount()) : QString();
}

bool KavrelBoundedEditableText::edit(int startOffset, int endOffset, const QString &text)
{
    const QString sent = withoutPadding(text);
    if (!allows(startOffset, endOffset, sent))
        return false;
    const QString before = fieldText();
    if (!type(startOffset, endOffset, sent))
        m_qt->replaceText(startOffset, endOffset, sent);
    // Asked to leave the text as it was, the field did what was asked.
    return fieldText() != before || QStringView(before).mid(startOffset, endOffset - startOffset) == sent;
}

void KavrelBoundedEditableText::deleteText(int startOffset, int endOffset)
{
    edit(startOffset, endOffset, QString());
}

void KavrelBoundedEditableText::insertText(int offset, const QString &text)
{
    edit(offset, offset, text);
}

void KavrelBoundedEditableText::replaceText(int startOffset, int endOffset, const QString &text)
{
    edit(startOffset, endOffset, text);
}
