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
// A change is made only when it lies in the text and the text it leaves fits the field. A D-Bus
// string cannot carry a NUL character: a NUL and whatever follows it are the bridge's padding for
// a length a client asked past the text it sent (clients count a text's length in UTF-8 bytes, so
// "встреча" comes with 14). The padding is dropped and the text sent goes in; no NUL ever does.
// (KavrelAccessibilityBusGate.h keeps the bridge from padding at all: it pads with whatever the
// memory held, NULs only by chance.)
//
// A change to a line edit, or to a spin box's, is made as the user makes it at the keyboard: what
// it replaces is selected and the new text typed over it, so the field tells its owner the user
// edited it (textEdited), and checks and limits it as it does the user's typing.
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
    // Replaces what lies between the offsets, as the user would; false where Qt's interface does it.
    bool type(int startOffset, int endOffset, const QString &text);

    QPointer<QObject> m_object;
    QAccessibleEditableTextInterface *m_qt;
    QAccessibleTextInterface *m_text;
};
