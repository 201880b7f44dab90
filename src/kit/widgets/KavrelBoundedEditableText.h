#pragma once

#include <QAccessible>
#include <QPointer>

class QObject;

// What a client on the accessibility bus may change of a text: what the user may change of it
// at the keyboard, and no more. Qt 6.4's interfaces change a read-only text view or field as
// readily as an editable one, and insert at an offset past the end by first filling the gap with
// spaces (a client's 2147483647 becomes gigabytes). So a part the kit's factory answers for offers
// one of these only while the user may type into it (an enabled field, spin box or text view that
// is not read-only), over Qt's own, with every offset and length checked first; everywhere else it
// offers no editable text at all, and the bus lists none. Qt's bus bridge answers every edit it is
// sent with success, edits a part with no editable text by rebuilding its text itself with the
// same fill and handing it to the part as its new value, and reads the answer of neither:
// KavrelAccessibilityBusGate.h answers the bus's edits itself, through edit() below.
//
// A change is made only when it lies in the text and the text it leaves fits the field. A D-Bus
// string cannot carry a NUL character: a NUL and whatever follows it are the bridge's padding for
// a length a client asked past the text it sent (clients count a text's length in UTF-8 bytes, so
// "встреча" comes with 14). The padding is dropped and the text sent goes in; no NUL ever does.
// (KavrelAccessibilityBusGate.h cuts such a length to the text sent before any padding is made:
// the bridge padded with whatever the memory held, NULs only by chance.)
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

    // Whether the user may change the text of `object` at the keyboard: an enabled field or
    // text view that is not read-only, and not held for the keyboard (KavrelFocusHold.h).
    static bool userMayEdit(const QObject *object);

    // Whether the field offers its text to be edited now: the user may type into it.
    bool offered() const;

    // Replaces what lies between the offsets with `text` (an insert where they meet, a deletion
    // where `text` is empty), as the user would. False where nothing changed though something was
    // asked: the field is not offered, the offsets lie outside the text, the text left would not
    // fit, or the field refused what was typed (a character its validator does not take).
    bool edit(int startOffset, int endOffset, const QString &text);

    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString &text) override;
    void replaceText(int startOffset, int endOffset, const QString &text) override;

private:
    bool allows(int startOffset, int endOffset, const QString &text) const;
    // Replaces what lies between the offsets, as the user would; false where Qt's interface does it.
    bool type(int startOffset, int endOffset, const QString &text);
    // The field's own text (not what it shows: a password field shows a mask).
    QString fieldText() const;

    QPointer<QObject> m_object;
    QAccessibleEditableTextInterface *m_qt;
    QAccessibleTextInterface *m_text;
};
