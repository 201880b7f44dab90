#pragma once

#include <QAccessible>
#include <QPointer>

class QObject;

// What a client on the accessibility bus may change of a text: what the user may change of it
// at the keyboard, and no more. Qt 6.4's interfaces change a read-only text view or field as
// readily as an editable one, and insert at an offset past the end by first filling the gap with
// spaces (a client's 2147483647 becomes gigabytes); and where a part has no editable text, the
// bus bridge rebuilds the part's text itself with the same fill and hands it to the part as its
// new value (a list item takes it as its new name). So every part the kit's factory answers for
// has one of these: over Qt's own for a field the user may type into, with every offset and
// length checked first; one that changes nothing everywhere else (with an empty text beside it,
// KavrelBoundedText::none(), which the bridge reads whenever it sets a text).
//
// A change is made only when it lies in the text, the text it leaves fits the field, and the
// text given holds no NUL character: a D-Bus string cannot carry one, so the NULs are the
// bridge's padding for a length a client asked past the text it sent.
class KavrelBoundedEditableText final : public QAccessibleEditableTextInterface
{
public:
    // Over `qtEditable`, the interface Qt gives the field `object`, and `text`, the field's text
    // interface (both live as long as the part that holds this one).
    KavrelBoundedEditableText(QObject *object, QAccessibleEditableTextInterface *qtEditable, QAccessibleTextInterface *text);

    // One that changes nothing, for any number of parts.
    static QAccessibleEditableTextInterface *none();

    // Whether the user may change the text of `object` at the keyboard: an enabled field or
    // text view that is not read-only.
    static bool userMayEdit(const QObject *object);

    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString &text) override;
    void replaceText(int startOffset, int endOffset, const QString &text) override;

private:
    bool allows(int startOffset, int endOffset, const QString &text) const;

    QPointer<QObject> m_object;
    QAccessibleEditableTextInterface *m_qt;
    QAccessibleTextInterface *m_text;
};
