#pragma once

#include "kit/widgets/KavrelForwardingAccessible.h"

#include <QHash>

#include <memory>

class KavrelBoundedEditableText;
class KavrelBoundedText;

// What a screen reader reaches of a widget: the interface it would have without this one (Qt's
// own, or a kit control's), with every index a client gives checked first. Qt 6.4 takes a child's
// index on trust in its scroll areas (text views, item views), menus and menu buttons: a scroll
// area reads its child list past the end (its scroll bars come and go with the content, so a count
// a screen reader read a moment ago is soon one too many), a menu reads index -1, a menu button
// hands out its menu as a child it does not count, and a list answers a row out of range with no
// cell, which the accessibility bus bridge then dereferences. Here an index out of range gives
// nothing; everything else is the inner interface's. Their text, where they have one, is read
// through KavrelBoundedText.h, which checks the offsets and finds the items Qt's text interface
// loops on; it is changed through KavrelBoundedEditableText.h, offered only while the user may
// type into the widget, and changing only what lies within the text; and the parts Qt makes with
// no widget of their own (an item view's cells, a menu's items) are handed out as
// KavrelBoundedPart.h. A widget with no text of its own reads as its text the words it shows; one
// whose text the keyboard reads (KavrelReadableText.h) reads as a read-only text, its caret the
// keyboard's. A description that repeats the name (Qt takes a tooltip for one) is none.
//
// A control held for the keyboard (KavrelFocusHold.h) reads as one that is not enabled, keeping its
// focus, and its actions do nothing, as its keys and clicks do nothing.
//
// The kit's accessibility factory builds one for every widget, over the interface made for it
// without this one; Qt keeps that one in the cache beside this one, and this one drops it when it
// goes with the widget. The cache may also drop the one inside first (at exit it drops whatever
// is left in any order, while a window that outlived the program's end still holds its widgets):
// from then on this one is not valid and reads nothing of it, not even its widget.
class KavrelBoundedAccessible final : public KavrelForwardingAccessible,
                                      public QAccessibleTableInterface,
                                      public QAccessibleActionInterface
{
public:
    // The interface for the widget `object`, or none while the one inside it is being made.
    static QAccessibleInterface *create(QObject *object);
    // Whether the interface being asked for `object` is the one inside this one: the factory then
    // answers as it would without the bounds.
    static bool isBuildingInner(const QObject *object);
    ~KavrelBoundedAccessible() override;

    int indexOfChild(const QAccessibleInterface *child) const override;
    QString text(QAccessible::Text kind) const override;
    void setText(QAccessible::Text kind, const QString &text) override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    // A cell out of range is one that is not valid (the bridge reads a cell's table-cell interface
    // without checking for none); a row or column out of range is neither selected nor selectable.
    QAccessibleInterface *caption() const override;
    QAccessibleInterface *summary() const override;
    QAccessibleInterface *cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface *> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int row) const override;
    int selectedColumnCount() const override;
    int selectedRowCount() const override;
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedColumns() const override;
    QList<int> selectedRows() const override;
    bool isColumnSelected(int column) const override;
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int column) override;
    bool unselectRow(int row) override;
    bool unselectColumn(int column) override;
    void modelChange(QAccessibleTableModelChangeEvent *event) override;

    QStringList actionNames() const override;
    QString localizedActionName(const QString &name) const override;
    QString localizedActionDescription(const QString &name) const override;
    void doAction(const QString &name) override;
    QStringList keyBindingsForAction(const QString &name) const override;

protected:
    QAccessibleInterface *inner() const override;
    // A part with no widget of its own as a KavrelBoundedPart.
    QAccessibleInterface *outward(QAccessibleInterface *qtPart) const override;

private:
    explicit KavrelBoundedAccessible(QAccessibleInterface *qtInterface);

    bool hasRow(int row) const { return row >= 0 && row < rowCount(); }
    // What Qt's interface is asked about for a part a client gives.
    static const QAccessibleInterface *inward(const QAccessibleInterface *part);
    // Whether the widget is held for the keyboard, unable to act.
    bool held() const;
    // Whether the widget shows a text the keyboard reads (KavrelReadableText.h).
    bool readByKeyboard() const;
    void forgetPartsQtLetGo() const;
    bool hasColumn(int column) const { return column >= 0 && column < columnCount(); }

    // The inner interface (named for Qt's, which it mostly is): in the cache beside this one,
    // which has it deleted when it goes. Read only through inner(), which finds it gone; its
    // table, actions and text below are handed out only while it is there.
    QAccessibleInterface *m_qt;
    QAccessible::Id m_qtId;
    QAccessibleTableInterface *m_qtTable;
    QAccessibleActionInterface *m_qtActions;
    // Qt's text of the widget, or the words it shows.
    std::unique_ptr<KavrelBoundedText> m_text;
    std::unique_ptr<KavrelBoundedEditableText> m_editable;
    // The parts handed out, by the id of Qt's part each stands for.
    mutable QHash<QAccessible::Id, QAccessible::Id> m_parts;
    mutable qsizetype m_partsBeforeSweep = 64;
};
