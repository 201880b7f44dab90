#pragma once

#include <QAccessible>
#include <QAccessibleInterface>

// A cell of a list, table or tree as a client on the accessibility bus reaches it: Qt's own cell,
// which it may let go of whenever the view's model changes, asked by its id at each question.
//
// Qt 6.4's bus bridge takes any part with a table-cell interface for a table when a client asks
// it a table's question, and reads the table interface the part does not have (a list item asked
// for its rows ends the program); and it hands a cell a client's new text as the cell's value,
// which Qt writes into the model (a language list's item takes it as its name). Here a cell's
// table is one with no rows and no columns, and its name and value stay the view's. Everything
// else is Qt's cell; a cell Qt let go of is not valid.
class KavrelBoundedCell final : public QAccessibleInterface
{
public:
    explicit KavrelBoundedCell(QAccessible::Id qtCell);

    // Whether Qt's `part` is a cell (one that has a table-cell interface and is no table).
    static bool isCell(QAccessibleInterface *part);
    // A cell that is not there: not valid, with a table-cell interface of no place, for a table's
    // answer where the bridge reads a cell's table-cell interface without checking for none.
    static QAccessibleInterface *absent();

    // Qt's cell, or none once Qt let it go.
    QAccessibleInterface *qtCell() const;
    QAccessible::Id qtCellId() const { return m_qtCell; }

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
    QAccessible::Id m_qtCell;
};
