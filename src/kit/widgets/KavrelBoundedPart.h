#pragma once

#include "kit/widgets/KavrelForwardingAccessible.h"

#include <memory>

class KavrelBoundedText;

// A part of a widget that Qt makes itself, with no widget of its own (an item view's cells, a
// menu's items), as a client on the accessibility bus reaches it: Qt's own part, which Qt may let
// go of whenever the view's model or the menu changes, asked by its id at each question.
//
// Qt 6.4's bus bridge hands a client's edit of a part with no editable text to the part as its
// value, which a cell writes into the model (a language list's item takes it as its name); and it
// takes any part with a table-cell interface for a table when a client asks it a table's question,
// and reads the table interface the part does not have (a list item asked for its rows ends the
// program). Here a part offers no editable text (nobody types into it; the bus's edits of it are
// answered as refused, KavrelAccessibilityBusGate.h) and, where Qt's part has none, a text of the
// words it shows; it keeps the name and value it has, and a cell's table is one with no rows and
// no columns. Everything else is Qt's part; a part Qt let go of is not valid.
class KavrelBoundedPart final : public KavrelForwardingAccessible
{
public:
    explicit KavrelBoundedPart(QAccessible::Id qtPart);
    ~KavrelBoundedPart() override;

    // Whether Qt's `part` is one of those: no widget's (a widget's answers for itself).
    static bool standsFor(QAccessibleInterface *part);
    // A cell that is not there: not valid, with a table-cell interface of no place, for a table's
    // answer where the bridge reads a cell's table-cell interface without checking for none.
    static QAccessibleInterface *absent();

    // Qt's part, or none once Qt let it go.
    QAccessibleInterface *qtPart() const;

    QObject *object() const override;
    void setText(QAccessible::Text kind, const QString &text) override;
    void *interface_cast(QAccessible::InterfaceType type) override;

protected:
    QAccessibleInterface *inner() const override { return qtPart(); }

private:
    QAccessible::Id m_qtPart;
    // What the part shows, as its text where Qt's part has none.
    std::unique_ptr<KavrelBoundedText> m_words;
};
