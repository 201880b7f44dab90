#include "kit/widgets/KavrelBoundedAccessible.h"

#include "kit/widgets/KavrelBoundedEditableText.h"
#include "kit/widgets/KavrelBoundedPart.h"
#include "kit/widgets/KavrelBoundedText.h"

#include <algorithm>
#include <utility>

namespace {

// The widget whose interface without the bounds is being made.
QObject *buildingInner = nullptr;

} // namespace

bool KavrelBoundedAccessible::isBuildingInner(const QObject *object)
{
    return object && object == buildingInner;
}

QAccessibleInterface *KavrelBoundedAccessible::create(QObject *object)
{
    if (!object || !object->isWidgetType() || isBuildingInner(object))
        return nullptr;
    QObject *const outer = std::exchange(buildingInner, object);
    QAccessibleInterface *inner = QAccessible::queryAccessibleInterface(object);
    buildingInner = outer;
    return inner ? new KavrelBoundedAccessible(inner) : nullptr;
}

KavrelBoundedAccessible::KavrelBoundedAccessible(QAccessibleInterface *qtInterface)
    : m_qt(qtInterface)
    , m_qtTable(qtInterface->tableInterface())
{
    if (QAccessibleTextInterface *qtText = qtInterface->textInterface())
        m_text = std::make_unique<KavrelBoundedText>(qtInterface->object(), qtText);
    m_editable = std::make_unique<KavrelBoundedEditableText>(qtInterface->object(), qtInterface->editableTextInterface(),
                                                             m_text.get());
}

KavrelBoundedAccessible::~KavrelBoundedAccessible()
{
    for (const QAccessible::Id id : std::as_const(m_parts))
        QAccessible::deleteAccessibleInterface(id);
}

QAccessibleInterface *KavrelBoundedAccessible::outward(QAccessibleInterface *qtPart) const
{
    if (!KavrelBoundedPart::standsFor(qtPart))
        return qtPart;
    const QAccessible::Id qtId = QAccessible::uniqueId(qtPart);
    if (const auto known = m_parts.constFind(qtId); known != m_parts.cend()) {
        if (QAccessibleInterface *part = QAccessible::accessibleInterface(*known))
            return part;
    }
    // Qt lets its parts go as the model or the menu changes; the ones standing for them go now and then.
    if (m_parts.size() >= m_partsBeforeSweep) {
        forgetPartsQtLetGo();
        m_partsBeforeSweep = std::max<qsizetype>(64, 2 * m_parts.size());
    }
    auto *part = new KavrelBoundedPart(qtId);
    m_parts.insert(qtId, QAccessible::registerAccessibleInterface(part));
    return part;
}

const QAccessibleInterface *KavrelBoundedAccessible::inward(const QAccessibleInterface *part)
{
    if (const auto *bounded = dynamic_cast<const KavrelBoundedPart *>(part))
        return bounded->qtPart();
    return part;
}

void KavrelBoundedAccessible::forgetPartsQtLetGo() const
{
    for (auto it = m_parts.begin(); it != m_parts.end();) {
        if (QAccessible::accessibleInterface(it.key())) {
            ++it;
            continue;
        }
        QAccessible::deleteAccessibleInterface(it.value());
        it = m_parts.erase(it);
    }
}

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
    return outward(m_qt->focusChild());
}

QAccessibleInterface *KavrelBoundedAccessible::childAt(int x, int y) const
{
    return outward(m_qt->childAt(x, y));
}

QAccessibleInterface *KavrelBoundedAccessible::parent() const
{
    return m_qt->parent();
}

QAccessibleInterface *KavrelBoundedAccessible::child(int index) const
{
    if (index < 0 || index >= m_qt->childCount())
        return nullptr;
    return outward(m_qt->child(index));
}

int KavrelBoundedAccessible::childCount() const
{
    return m_qt->childCount();
}

int KavrelBoundedAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    // Qt's item views read the parent of whatever they are given, and take a cell for one of
    // their own: an interface that is not one of ours is not asked about, and a cell is asked
    // about as the cell Qt gave.
    if (!child || !child->isValid() || child->parent() != static_cast<const QAccessibleInterface *>(this))
        return -1;
    const QAccessibleInterface *qtChild = inward(child);
    if (!qtChild)
        return -1;
    const int index = m_qt->indexOfChild(qtChild);
    return index >= 0 && index < childCount() ? index : -1;
}

QString KavrelBoundedAccessible::text(QAccessible::Text kind) const
{
    return m_qt->text(kind);
}

void KavrelBoundedAccessible::setText(QAccessible::Text kind, const QString &text)
{
    // A value is what the user types; where the user types nothing, nobody else does either.
    if (kind == QAccessible::Value && !KavrelBoundedEditableText::userMayEdit(m_qt->object()))
        return;
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
        return m_text ? static_cast<QAccessibleTextInterface *>(m_text.get()) : KavrelBoundedText::none();
    if (type == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface *>(m_editable.get());
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
    QAccessibleInterface *cell = hasRow(row) && hasColumn(column) ? outward(m_qtTable->cellAt(row, column)) : nullptr;
    return cell ? cell : KavrelBoundedPart::absent();
}

int KavrelBoundedAccessible::selectedCellCount() const
{
    return m_qtTable->selectedCellCount();
}

QList<QAccessibleInterface *> KavrelBoundedAccessible::selectedCells() const
{
    QList<QAccessibleInterface *> cells = m_qtTable->selectedCells();
    for (QAccessibleInterface *&cell : cells)
        cell = outward(cell);
    return cells;
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
    forgetPartsQtLetGo();
}
