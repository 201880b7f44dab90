#include "kit/widgets/KavrelAccessibleFactory.h"

#include "kit/widgets/KavrelBoundedAccessible.h"
#include "kit/widgets/KavrelBoundedEditableText.h"
#include "kit/widgets/KavrelBoundedText.h"
#include "kit/widgets/KavrelSegmentedPicker.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

namespace {

struct Registration
{
    QAccessible::Role role = QAccessible::Client;
    bool isButton = false;
    KavrelAccessibleFactory::Builder build = nullptr;
};

QHash<QString, Registration> &registrations()
{
    static QHash<QString, Registration> classes;
    return classes;
}

class ButtonInterface final : public QAccessibleWidget
{
public:
    ButtonInterface(QAbstractButton *button, QAccessible::Role role) : QAccessibleWidget(button, role) {}

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        if (button()->isCheckable()) {
            state.checkable = true;
            state.checked = button()->isChecked();
        }
        state.pressed = button()->isDown();
        return state;
    }

    QString text(QAccessible::Text kind) const override
    {
        QString text = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && text.isEmpty())
            text = button()->text().remove(QLatin1Char('&'));
        return text;
    }

    QStringList actionNames() const override
    {
        QStringList names;
        if (widget()->isEnabled())
            names << (button()->isCheckable() ? toggleAction() : pressAction());
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (action != pressAction() && action != toggleAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        // A click, never a bare toggle: the setting behind the button follows its clicks.
        if (widget()->isEnabled())
            button()->click();
    }

private:
    QAbstractButton *button() const { return static_cast<QAbstractButton *>(widget()); }
};

// One segment of a picker: a tab a screen reader can name, see selected and press.
class SegmentInterface final : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    SegmentInterface(KavrelSegmentedPicker *picker, int index) : m_picker(picker), m_index(index) {}

    bool isValid() const override { return m_picker && m_index >= 0 && m_index < m_picker->segmentCount(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return parent() ? parent()->window() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_picker.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    void setText(QAccessible::Text, const QString &) override {}

    QString text(QAccessible::Text kind) const override
    {
        if (!isValid() || kind != QAccessible::Name)
            return QString();
        return m_picker->segment(m_index).name;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid())
            return state;
        state.selectable = true;
        state.selected = m_picker->selectedIndex() == m_index;
        state.invisible = !m_picker->isVisible();
        state.disabled = !m_picker->isEnabled();
        return state;
    }

    QRect rect() const override
    {
        if (!isValid())
            return QRect();
        const QRect area = m_picker->segmentArea(m_index);
        return QRect(m_picker->mapToGlobal(area.topLeft()), area.size());
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::EditableTextInterface)
            return KavrelBoundedEditableText::none();
        if (type == QAccessible::TextInterface)
            return KavrelBoundedText::none();
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &action) override
    {
        if (action == pressAction() && isValid() && m_picker->isEnabled())
            m_picker->pick(m_index);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QPointer<KavrelSegmentedPicker> m_picker;
    int m_index;
};

class PickerInterface final : public QAccessibleWidget
{
public:
    explicit PickerInterface(KavrelSegmentedPicker *picker) : QAccessibleWidget(picker, QAccessible::PageTabList) {}

    ~PickerInterface() override
    {
        for (QAccessible::Id id : std::as_const(m_segments))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return int(picker()->segmentCount()); }

    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto known = m_segments.constFind(index); known != m_segments.cend())
            return QAccessible::accessibleInterface(*known);
        auto *segment = new SegmentInterface(picker(), index);
        m_segments.insert(index, QAccessible::registerAccessibleInterface(segment));
        return segment;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (auto it = m_segments.cbegin(); it != m_segments.cend(); ++it) {
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key();
        }
        return -1;
    }

    QString text(QAccessible::Text kind) const override
    {
        // The chosen segment is the picker's value.
        const qsizetype selected = picker()->selectedIndex();
        if (kind == QAccessible::Value && selected >= 0)
            return picker()->segment(selected).name;
        return QAccessibleWidget::text(kind);
    }

    // Pressing the picker itself moves on to the next segment, as Space does.
    QStringList actionNames() const override
    {
        QStringList names;
        if (widget()->isEnabled() && childCount() > 0)
            names << pressAction();
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (widget()->isEnabled() && childCount() > 0)
            picker()->pick((picker()->selectedIndex() + 1) % childCount());
    }

private:
    KavrelSegmentedPicker *picker() const { return static_cast<KavrelSegmentedPicker *>(widget()); }

    mutable QHash<int, QAccessible::Id> m_segments;
};

// What a widget reads as inside the bounds: a kit control's own interface, or none, so that Qt
// makes its own.
QAccessibleInterface *buildInner(const QString &className, QObject *object)
{
    const auto registered = registrations().constFind(className);
    if (registered == registrations().cend())
        return nullptr;
    if (auto *picker = qobject_cast<KavrelSegmentedPicker *>(object))
        return new PickerInterface(picker);
    if (auto *button = qobject_cast<QAbstractButton *>(object); button && registered->isButton)
        return new ButtonInterface(button, registered->role);
    return new QAccessibleWidget(static_cast<QWidget *>(object), registered->role);
}

QAccessibleInterface *build(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    if (KavrelBoundedAccessible::isBuildingInner(object))
        return buildInner(className, object);
    // An interface of its own answers for itself, bounds and edits included.
    const auto registered = registrations().constFind(className);
    if (registered != registrations().cend() && registered->build)
        return registered->build(static_cast<QWidget *>(object));
    return KavrelBoundedAccessible::create(object);
}

void add(const QMetaObject &type, Registration registration)
{
    KavrelAccessibleFactory::install();
    registrations().insert(QString::fromLatin1(type.className()), registration);
}

} // namespace

namespace KavrelAccessibleFactory {

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(build);
        return true;
    }();
    Q_UNUSED(installed);
}

void registerButton(const QMetaObject &type, QAccessible::Role role)
{
    add(type, Registration{role, true});
}

void registerWidget(const QMetaObject &type, QAccessible::Role role)
{
    add(type, Registration{role, false});
}

void registerInterface(const QMetaObject &type, Builder build)
{
    add(type, Registration{QAccessible::Client, false, build});
}

} // namespace KavrelAccessibleFactory
