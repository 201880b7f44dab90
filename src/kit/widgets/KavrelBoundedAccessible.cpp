#include "kit/widgets/KavrelBoundedAccessible.h"

#include "kit/widgets/KavrelBoundedEditableText.h"
#include "kit/widgets/KavrelBoundedPart.h"
#include "kit/widgets/KavrelBoundedText.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "kit/widgets/KavrelReadableText.h"

#include <QWidget>

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
    , m_qtId(QAccessible::uniqueId(qtInterface))
    , m_qtTable(qtInterface->tableInterface())
    , m_qtActions(qtInterface->actionInterface())
{
    QAccessibleTextInterface *qtText = qtInterface->textInterface();
    m_text = qtText ? std::make_unique<KavrelBoundedText>(qtInterface->object(), qtText)
                    : std::make_unique<KavrelBoundedText>([this] { return KavrelBoundedText::shownWords(inner()); },
                                                          qtInterface->object());
    m_editable = std::make_unique<KavrelBoundedEditableText>(qtInterface->object(), qtInterface->editableTextInterface(),
                                                             qtText ? m_text.get() : nullptr);
}

KavrelBoundedAccessible::~KavrelBoundedAccessible()
{
    for (const QAccessible::Id id : std::as_const(m_parts))
        QAccessible::deleteAccessibleInterface(id);
    // The one inside goes with this one, unless the cache let it go first (as it may when the
    // widget goes, or at exit); the cache may drop this one alone, and the one inside would then
    // stay for as long as the program runs.
    if (QAccessible::accessibleInterface(m_qtId) == m_qt)
        QAccessible::deleteAccessibleInterface(m_qtId);
}

QAccessibleInterface *KavrelBoundedAccessible::inner() const
{
    // Compared by address only: once the cache let it go, its id answers none (or, much later,
    // another interface).
    return QAccessible::accessibleInterface(m_qtId) == m_qt ? m_qt : nullptr;
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

int KavrelBoundedAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    // Qt's item views read the parent of whatever they are given, and take a cell for one of
    // their own: an interface that is not one of ours is not asked about, and a cell is asked
    // about as the cell Qt gave.
    if (!child || !child->isValid() || child->parent() != static_cast<const QAccessibleInterface *>(this))
        return -1;
    const QAccessibleInterface *qtChild = inward(child);
    const QAccessibleInterface *qt = inner();
    if (!qtChild || !qt)
        return -1;
    const int index = qt->indexOfChild(qtChild);
    return index >= 0 && index < childCount() ? index : -1;
}

void KavrelBoundedAccessible::setText(QAccessible::Text kind, const QString &text)
{
    QAccessibleInterface *qt = inner();
    if (!qt)
        return;
    if (kind != QAccessible::Value) {
        qt->setText(kind, text);
        return;
    }
    // A value is what the user types, and it is typed as the user types it; where the user types
    // nothing, nobody else does either.
    if (qt->textInterface() && qt->editableTextInterface())
        m_editable->replaceText(0, m_text->characterCount(), text);
    else if (KavrelBoundedEditableText::userMayEdit(qt->object()))
        qt->setText(kind, text);
}

QString KavrelBoundedAccessible::text(QAccessible::Text kind) const
{
    const QString text = KavrelForwardingAccessible::text(kind);
    // Qt describes a control by its tooltip, which often names it: a reader would say it twice.
    if (kind == QAccessible::Description && !text.isEmpty() && text == KavrelForwardingAccessible::text(QAccessible::Name))
        return QString();
    return text;
}

bool KavrelBoundedAccessible::readByKeyboard() const
{
    const QAccessibleInterface *qt = inner();
    const QObject *object = qt ? qt->object() : nullptr;
    return object && object->isWidgetType()
           && dynamic_cast<const KavrelReadableText *>(static_cast<const QWidget *>(object));
}

QAccessible::Role KavrelBoundedAccessible::role() const
{
    // A text the keyboard reads, as a text view that is not edited reads.
    return readByKeyboard() ? QAccessible::EditableText : KavrelForwardingAccessible::role();
}

QAccessible::State KavrelBoundedAccessible::state() const
{
    QAccessible::State state = KavrelForwardingAccessible::state();
    if (readByKeyboard()) {
        state.readOnly = true;
        state.multiLine = true;
        state.selectableText = true;
    }
    // Not enabled, and still where the keyboard is.
    if (held())
        state.disabled = true;
    return state;
}

bool KavrelBoundedAccessible::held() const
{
    const QAccessibleInterface *qt = inner();
    const QObject *object = qt ? qt->object() : nullptr;
    return object && object->isWidgetType() && KavrelFocusHold::isHeld(static_cast<const QWidget *>(object));
}

void *KavrelBoundedAccessible::interface_cast(QAccessible::InterfaceType type)
{
    // What is handed out reads the inner interface's parts: a client asks for it anew at each
    // question, so none is read once the inner one is gone.
    QAccessibleInterface *qt = inner();
    if (!qt)
        return nullptr;
    switch (type) {
    case QAccessible::TableInterface:
        return m_qtTable ? static_cast<QAccessibleTableInterface *>(this) : nullptr;
    case QAccessible::TextInterface:
        return static_cast<QAccessibleTextInterface *>(m_text.get());
    // Offered only while the user may type into the widget: the bus lists the interfaces a part
    // offers, and a screen reader takes the part for an editable one by it.
    case QAccessible::EditableTextInterface:
        return m_editable->offered() ? static_cast<QAccessibleEditableTextInterface *>(m_editable.get()) : nullptr;
    case QAccessible::ActionInterface:
        return m_qtActions ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    default:
        return qt->interface_cast(type);
    }
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

QStringList KavrelBoundedAccessible::actionNames() const
{
    // A held control offers nothing to press; the keyboard may still be put on it.
    QStringList names = m_qtActions->actionNames();
    if (held())
        names.removeIf([](const QString &name) { return name != setFocusAction(); });
    return names;
}

QString KavrelBoundedAccessible::localizedActionName(const QString &name) const
{
    return m_qtActions->localizedActionName(name);
}

QString KavrelBoundedAccessible::localizedActionDescription(const QString &name) const
{
    return m_qtActions->localizedActionDescription(name);
}

void KavrelBoundedAccessible::doAction(const QString &name)
{
    if (held() && name != setFocusAction())
        return;
    m_qtActions->doAction(name);
}

QStringList KavrelBoundedAccessible::keyBindingsForAction(const QString &name) const
{
    return m_qtActions->keyBindingsForAction(name);
}
