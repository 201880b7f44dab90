#include "kit/widgets/KavrelBoundedCell.h"

#include "kit/widgets/KavrelBoundedEditableText.h"
#include "kit/widgets/KavrelBoundedText.h"

#include <QColor>
#include <QRect>

namespace {

// Not valid, so the bridge names it the null object; it still has a table-cell interface,
// because some of the bridge's table calls read one from whatever a cell lookup gives.
class AbsentCell final : public QAccessibleInterface, public QAccessibleTableCellInterface
{
public:
    bool isValid() const override { return false; }
    QObject *object() const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override { return nullptr; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text) const override { return QString(); }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override { return QRect(); }
    QAccessible::Role role() const override { return QAccessible::NoRole; }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.invalid = true;
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::TableCellInterface ? static_cast<QAccessibleTableCellInterface *>(this) : nullptr;
    }

    bool isSelected() const override { return false; }
    QList<QAccessibleInterface *> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return -1; }
    int rowIndex() const override { return -1; }
    int columnExtent() const override { return 0; }
    int rowExtent() const override { return 0; }
    QAccessibleInterface *table() const override { return nullptr; }
};

AbsentCell *absentCell()
{
    // Never in the cache, never deleted: any number of tables hand out the same one.
    static AbsentCell *const cell = new AbsentCell;
    return cell;
}

// The table a cell is asked for: no rows, no columns, nothing to select.
class NoTable final : public QAccessibleTableInterface
{
public:
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int, int) const override { return absentCell(); }
    int selectedCellCount() const override { return 0; }
    QList<QAccessibleInterface *> selectedCells() const override { return {}; }
    QString columnDescription(int) const override { return QString(); }
    QString rowDescription(int) const override { return QString(); }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return 0; }
    int columnCount() const override { return 0; }
    int rowCount() const override { return 0; }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int) const override { return false; }
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent *) override {}
};

QAccessibleTableInterface *noTable()
{
    static NoTable *const table = new NoTable;
    return table;
}

} // namespace

KavrelBoundedCell::KavrelBoundedCell(QAccessible::Id qtCell) : m_qtCell(qtCell) {}

bool KavrelBoundedCell::isCell(QAccessibleInterface *part)
{
    return part && part->tableCellInterface() && !part->tableInterface();
}

QAccessibleInterface *KavrelBoundedCell::absent()
{
    return absentCell();
}

QAccessibleInterface *KavrelBoundedCell::qtCell() const
{
    return QAccessible::accessibleInterface(m_qtCell);
}

bool KavrelBoundedCell::isValid() const
{
    QAccessibleInterface *cell = qtCell();
    return cell && cell->isValid();
}

QObject *KavrelBoundedCell::object() const
{
    QAccessibleInterface *cell = qtCell();
    return cell ? cell->object() : nullptr;
}

QWindow *KavrelBoundedCell::window() const
{
    QAccessibleInterface *cell = qtCell();
    return cell ? cell->window() : nullptr;
}

QList<QPair<QAccessibleInterface *, QAccessible::Relation>> KavrelBoundedCell::relations(QAccessible::Relation match) const
{
    QAccessibleInterface *cell = qtCell();
    return cell ? cell->relations(match) : QList<QPair<QAccessibleInterface *, QAccessible::Relation>>();
}

QAccessibleInterface *KavrelBoundedCell::focusChild() const
{
    QAccessibleInterface *cell = qtCell();
    return cell ? cell->focusChild() : nullptr;
}

QAccessibleInterface *KavrelBoundedCell::childAt(int x, int y) const
{
    QAccessibleInterface *cell = qtCell();
    return cell ? cell->childAt(x, y) : nullptr;
}

QAccessibleInterface *KavrelBoundedCell::parent() const
{
    QAccessibleInterface *cell = qtCell();
    return cell ? cell->parent() : nullptr;
}

QAccessibleInterface *KavrelBoundedCell::child(int index) const
{
    QAccessibleInterface *cell = qtCell();
    return cell && index >= 0 && index < cell->childCount() ? cell->child(index) : nullptr;
}

int KavrelBoundedCell::childCount() const
{
    QAccessibleInterface *cell = qtCell();
    return cell ? cell->childCount() : 0;
}

int KavrelBoundedCell::indexOfChild(const QAccessibleInterface *child) const
{
    QAccessibleInterface *cell = qtCell();
    return cell && child ? cell->indexOfChild(child) : -1;
}

QString KavrelBoundedCell::text(QAccessible::Text kind) const
{
    QAccessibleInterface *cell = qtCell();
    return cell ? cell->text(kind) : QString();
}

void KavrelBoundedCell::setText(QAccessible::Text, const QString &)
{
    // An item's name is the view's to give: the user renames no item of these lists.
}

QRect KavrelBoundedCell::rect() const
{
    QAccessibleInterface *cell = qtCell();
    return cell ? cell->rect() : QRect();
}

QAccessible::Role KavrelBoundedCell::role() const
{
    QAccessibleInterface *cell = qtCell();
    return cell ? cell->role() : QAccessible::NoRole;
}

QAccessible::State KavrelBoundedCell::state() const
{
    QAccessibleInterface *cell = qtCell();
    if (cell)
        return cell->state();
    QAccessible::State state;
    state.invalid = true;
    return state;
}

QColor KavrelBoundedCell::foregroundColor() const
{
    QAccessibleInterface *cell = qtCell();
    return cell ? cell->foregroundColor() : QColor();
}

QColor KavrelBoundedCell::backgroundColor() const
{
    QAccessibleInterface *cell = qtCell();
    return cell ? cell->backgroundColor() : QColor();
}

void *KavrelBoundedCell::interface_cast(QAccessible::InterfaceType type)
{
    // The bridge asks the node a client named for its table whenever the node has a table-cell
    // interface, and reads it without checking for none.
    if (type == QAccessible::TableInterface)
        return noTable();
    if (type == QAccessible::EditableTextInterface)
        return KavrelBoundedEditableText::none();
    QAccessibleInterface *cell = qtCell();
    if (type == QAccessible::TextInterface) {
        void *text = cell ? cell->interface_cast(type) : nullptr;
        return text ? text : KavrelBoundedText::none();
    }
    if (!cell)
        return type == QAccessible::TableCellInterface ? absentCell()->interface_cast(type) : nullptr;
    return cell->interface_cast(type);
}
