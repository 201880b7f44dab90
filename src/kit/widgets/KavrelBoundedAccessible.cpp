#include "kit/widgets/KavrelBoundedAccessible.h"

#include "kit/widgets/KavrelBoundedText.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QToolButton>

#include <utility>

namespace {

// A cell that is not there. It is not valid, so the bridge names it the null object; it still has
// a table-cell interface, because some of the bridge's table calls read one from whatever a cell
// lookup gives without checking for none.
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

QAccessibleInterface *absentCell()
{
    // Never in the cache, never deleted: any number of tables hand out the same one.
    static AbsentCell *const cell = new AbsentCell;
    return cell;
}

bool needsBounds(QObject *object)
{
    return qobject_cast<QAbstractScrollArea *>(object) || qobject_cast<QMenu *>(object)
           || qobject_cast<QMenuBar *>(object) || qobject_cast<QToolButton *>(object)
           || qobject_cast<QLineEdit *>(object) || qobject_cast<QAbstractSpinBox *>(object);
}

} // namespace

QAccessibleInterface *KavrelBoundedAccessible::create(QObject *object)
{
    // While Qt makes its own interface for the object, the factory stays out of its way.
    static QObject *askingQt = nullptr;
    if (!object || object == askingQt || !needsBounds(object))
        return nullptr;
    QObject *const outer = std::exchange(askingQt, object);
    QAccessibleInterface *qtInterface = QAccessible::queryAccessibleInterface(object);
    askingQt = outer;
    return qtInterface ? new KavrelBoundedAccessible(qtInterface) : nullptr;
}

KavrelBoundedAccessible::KavrelBoundedAccessible(QAccessibleInterface *qtInterface)
    : m_qt(qtInterface)
    , m_qtTable(qtInterface->tableInterface())
{
    if (QAccessibleTextInterface *qtText = qtInterface->textInterface())
        m_text = std::make_unique<KavrelBoundedText>(qtInterface->object(), qtText);
}

KavrelBoundedAccessible::~KavrelBoundedAccessible() = default;

bool KavrelBoundedAccessible::isValid() const
{
    return m_qt->isValid();
}

QObject *KavrelBoundedAccessible::object() const
{
    return m_qt->object();
}

QWindow *KavrelBoundedAccessible::window() const
{
    return m_qt->window();
}

QList<QPair<QAccessibleInterface *, QAccessible::Relation>> KavrelBoundedAccessible::relations(QAccessible::Relation match) const
{
    return m_qt->relations(match);
}

QAccessibleInterface *KavrelBoundedAccessible::focusChild() const
{
    return m_qt->focusChild();
}

QAccessibleInterface *KavrelBoundedAccessible::childAt(int x, int y) const
{
    return m_qt->childAt(x, y);
}

QAccessibleInterface *KavrelBoundedAccessible::parent() const
{
    return m_qt->parent();
}

QAccessibleInterface *KavrelBoundedAccessible::child(int index) const
{
    if (index < 0 || index >= m_qt->childCount())
        return nullptr;
    return m_qt->child(index);
}

int KavrelBoundedAccessible::childCount() const
{
    return m_qt->childCount();
}

int KavrelBoundedAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    // Qt's item views read the parent of whatever they are given; an interface that is not one of
    // ours is not asked about.
    if (!child || !child->isValid() || child->parent() != static_cast<const QAccessibleInterface *>(this))
        return -1;
    const int index = m_qt->indexOfChild(child);
    return index >= 0 && index < childCount() ? index : -1;
}

QString KavrelBoundedAccessible::text(QAccessible::Text kind) const
{
    return m_qt->text(kind);
}

void KavrelBoundedAccessible::setText(QAccessible::Text kind, const QString &text)
{
    m_qt->setText(kind, text);
}

QRect KavrelBoundedAccessible::rect() const
{
    return m_qt->rect();
}

QAccessible::Role KavrelBoundedAccessible::role() const
{
    return m_qt->role();
}

QAccessible::State KavrelBoundedAccessible::state() const
{
    return m_qt->state();
}

QColor KavrelBoundedAccessible::foregroundColor() const
{
    return m_qt->foregroundColor();
}

QColor KavrelBoundedAccessible::backgroundColor() const
{
    return m_qt->backgroundColor();
}

void *KavrelBoundedAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableInterface)
        return m_qtTable ? static_cast<QAccessibleTableInterface *>(this) : nullptr;
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(m_text.get());
    return m_qt->interface_cast(type);
}

void KavrelBoundedAccessible::virtual_hook(int id, void *data)
{
    m_qt->virtual_hook(id, data);
}

QAccessibleInterface *KavrelBoundedAccessible::caption() const
{
    return m_qtTable->caption();
}

QAccessibleInterface *KavrelBoundedAccessible::summary() const
{
    return m_qtTable->summary();
}

QAccessibleInterface *KavrelBoundedAccessible::cellAt(int row, int column) const
{
    QAccessibleInterface *cell = hasRow(row) && hasColumn(column) ? m_qtTable->cellAt(row, column) : nullptr;
    return cell ? cell : absentCell();
}

int KavrelBoundedAccessible::selectedCellCount() const
{
    return m_qtTable->selectedCellCount();
}

QList<QAccessibleInterface *> KavrelBoundedAccessible::selectedCells() const
{
    return m_qtTable->selectedCells();
}

QString KavrelBoundedAccessible::columnDescription(int column) const
{
    return hasColumn(column) ? m_qtTable->columnDescription(column) : QString();
}

QString KavrelBoundedAccessible::rowDescription(int row) const
{
    return hasRow(row) ? m_qtTable->rowDescription(row) : QString();
}

int KavrelBoundedAccessible::selectedColumnCount() const
{
    return m_qtTable->selectedColumnCount();
}

int KavrelBoundedAccessible::selectedRowCount() const
{
    return m_qtTable->selectedRowCount();
}

int KavrelBoundedAccessible::columnCount() const
{
    return m_qtTable->columnCount();
}

int KavrelBoundedAccessible::rowCount() const
{
    return m_qtTable->rowCount();
}

QList<int> KavrelBoundedAccessible::selectedColumns() const
{
    return m_qtTable->selectedColumns();
}

QList<int> KavrelBoundedAccessible::selectedRows() const
{
    return m_qtTable->selectedRows();
}

bool KavrelBoundedAccessible::isColumnSelected(int column) const
{
    return hasColumn(column) && m_qtTable->isColumnSelected(column);
}

bool KavrelBoundedAccessible::isRowSelected(int row) const
{
    return hasRow(row) && m_qtTable->isRowSelected(row);
}

bool KavrelBoundedAccessible::selectRow(int row)
{
    return hasRow(row) && m_qtTable->selectRow(row);
}

bool KavrelBoundedAccessible::selectColumn(int column)
{
    return hasColumn(column) && m_qtTable->selectColumn(column);
}

bool KavrelBoundedAccessible::unselectRow(int row)
{
    return hasRow(row) && m_qtTable->unselectRow(row);
}

bool KavrelBoundedAccessible::unselectColumn(int column)
{
    return hasColumn(column) && m_qtTable->unselectColumn(column);
}

void KavrelBoundedAccessible::modelChange(QAccessibleTableModelChangeEvent *event)
{
    m_qtTable->modelChange(event);
}
