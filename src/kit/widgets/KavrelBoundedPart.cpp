#include "kit/widgets/KavrelBoundedPart.h"

#include "kit/widgets/KavrelBoundedText.h"

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

KavrelBoundedPart::KavrelBoundedPart(QAccessible::Id qtPart) : m_qtPart(qtPart) {}

KavrelBoundedPart::~KavrelBoundedPart() = default;

bool KavrelBoundedPart::standsFor(QAccessibleInterface *part)
{
    return part && part->isValid() && !(part->object() && part->object()->isWidgetType())
           && part->role() != QAccessible::Application && !dynamic_cast<KavrelBoundedPart *>(part);
}

QAccessibleInterface *KavrelBoundedPart::absent()
{
    return absentCell();
}

QAccessibleInterface *KavrelBoundedPart::qtPart() const
{
    return QAccessible::accessibleInterface(m_qtPart);
}

QObject *KavrelBoundedPart::object() const
{
    // Qt's part keeps its object (a menu item's action): the cache takes the interface of an
    // object for the one it drops with the object, and that is Qt's.
    return nullptr;
}

void KavrelBoundedPart::setText(QAccessible::Text, const QString &)
{
    // An item's name is the view's or the menu's to give: the user renames none.
}

void *KavrelBoundedPart::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::EditableTextInterface)
        return nullptr;
    QAccessibleInterface *part = qtPart();
    void *qt = part ? part->interface_cast(type) : nullptr;
    switch (type) {
    case QAccessible::TextInterface:
        if (qt)
            return qt;
        if (!m_words)
            m_words = std::make_unique<KavrelBoundedText>([this] { return KavrelBoundedText::shownWords(qtPart()); });
        return static_cast<QAccessibleTextInterface *>(m_words.get());
    // The bridge asks the part a client named for its table whenever the part has a table-cell
    // interface, and reads it without checking for none.
    case QAccessible::TableInterface:
        return qt || (part && !part->tableCellInterface()) ? qt : noTable();
    case QAccessible::TableCellInterface:
        return qt || part ? qt : absentCell()->interface_cast(type);
    default:
        return qt;
    }
}
