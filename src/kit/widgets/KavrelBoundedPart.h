#pragma once

#include <QAccessible>
#include <QAccessibleInterface>

// A part of a widget that Qt makes itself, with no widget of its own (an item view's cells, a
// menu's items), as a client on the accessibility bus reaches it: Qt's own part, which Qt may let
// go of whenever the view's model or the menu changes, asked by its id at each question.
//
// Qt 6.4's bus bridge rebuilds the text of a part with no editable text itself, padded to any
// offset a client names, and hands it to the part as its value, which a cell writes into the
// model (a language list's item takes it as its name); and it takes any part with a table-cell
// interface for a table when a client asks it a table's question, and reads the table interface
// the part does not have (a list item asked for its rows ends the program). Here a part offers
// edits that change nothing and, where it has none, an empty text; it keeps the name and value it
// has, and a cell's table is one with no rows and no columns. Everything else is Qt's part; a part
// Qt let go of is not valid.
class KavrelBoundedPart final : public QAccessibleInterface
{
public:
    explicit KavrelBoundedPart(QAccessible::Id qtPart);

    // Whether Qt's `part` is one of those: no widget's (a widget's answers for itself).
    static bool standsFor(QAccessibleInterface *part);
    // A cell that is not there: not valid, with a table-cell interface of no place, for a table's
    // answer where the bridge reads a cell's table-cell interface without checking for none.
    static QAccessibleInterface *absent();

    // Qt's part, or none once Qt let it go.
    QAccessibleInterface *qtPart() const;

    bool isValid() const override;
    QObject *object() const override;
    QWindow *window() const override;
    QList<QPair<QAccessibleInterface *, QAccessible::Relation>> relations(QAccessible::Relation match) const override;
    QAccessibleInterface *focusChild() const override;
    QAccessibleInterface *childAt(int x, int y) const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QString text(QAccessible::Text kind) const override;
    void setText(QAccessible::Text kind, const QString &text) override;
    QRect rect() const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QColor foregroundColor() const override;
    QColor backgroundColor() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

private:
    QAccessible::Id m_qtPart;
};
