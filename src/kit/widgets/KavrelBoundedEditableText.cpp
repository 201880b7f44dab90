#include "kit/widgets/KavrelBoundedEditableText.h"

#include <QAbstractSpinBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <limits>

namespace {

class NoEdits final : public QAccessibleEditableTextInterface
{
public:
    void deleteText(int, int) override {}
    void insertText(int, const QString &) override {}
    void replaceText(int, int, const QString &) override {}
};

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

QAccessibleEditableTextInterface *KavrelBoundedEditableText::none()
{
    static NoEdits *const edits = new NoEdits;
    return edits;
}

bool KavrelBoundedEditableText::userMayEdit(const QObject *object)
{
    const auto *widget = qobject_cast<const QWidget *>(object);
    if (!widget || !widget->isEnabled())
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

bool KavrelBoundedEditableText::allows(int startOffset, int endOffset, const QString &text) const
{
    if (!m_qt || !m_text || !userMayEdit(m_object))
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

void KavrelBoundedEditableText::deleteText(int startOffset, int endOffset)
{
    if (allows(startOffset, endOffset, QString()) && !type(startOffset, endOffset, QString()))
        m_qt->deleteText(startOffset, endOffset);
}

void KavrelBoundedEditableText::insertText(int offset, const QString &text)
{
    const QString sent = withoutPadding(text);
    if (allows(offset, offset, sent) && !type(offset, offset, sent))
        m_qt->insertText(offset, sent);
}

void KavrelBoundedEditableText::replaceText(int startOffset, int endOffset, const QString &text)
{
    const QString sent = withoutPadding(text);
    if (allows(startOffset, endOffset, sent) && !type(startOffset, endOffset, sent))
        m_qt->replaceText(startOffset, endOffset, sent);
}
