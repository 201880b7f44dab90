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

// The longest text the field takes; a line edit cuts whatever is longer, after building it whole.
qsizetype longestText(const QObject *object)
{
    if (const auto *field = qobject_cast<const QLineEdit *>(object))
        return field->maxLength();
    if (const auto *box = qobject_cast<const QAbstractSpinBox *>(object)) {
        if (const auto *field = box->findChild<const QLineEdit *>())
            return field->maxLength();
    }
    return std::numeric_limits<int>::max();
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
    // The size first: a text padded to a length far past its end is never read through.
    if (text.size() > longestText(m_object) - (count - (endOffset - startOffset)))
        return false;
    return !text.contains(QChar(0));
}

void KavrelBoundedEditableText::deleteText(int startOffset, int endOffset)
{
    if (allows(startOffset, endOffset, QString()))
        m_qt->deleteText(startOffset, endOffset);
}

void KavrelBoundedEditableText::insertText(int offset, const QString &text)
{
    if (allows(offset, offset, text))
        m_qt->insertText(offset, text);
}

void KavrelBoundedEditableText::replaceText(int startOffset, int endOffset, const QString &text)
{
    if (allows(startOffset, endOffset, text))
        m_qt->replaceText(startOffset, endOffset, text);
}
