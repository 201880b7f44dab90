#include "kit/widgets/KavrelAccessibleFactory.h"

#include "kit/widgets/KavrelAccessibilityBusGate.h"
#include "kit/widgets/KavrelBoundedAccessible.h"
#include "kit/widgets/KavrelDrawnPart.h"
#include "kit/widgets/KavrelKeptFocusAnnouncer.h"
#include "kit/widgets/KavrelTabList.h"

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

// One tab of a tab list: named, selected when it is the one shown, focused while the list has the
// keyboard and it is shown; pressing it picks it.
class TabInterface final : public KavrelDrawnPart
{
public:
    TabInterface(QWidget *list, int index) : m_list(list), m_index(index) {}

    bool isValid() const override { return tabs() && m_index < tabs()->tabCount(); }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_list.data()); }
    QAccessible::Role role() const override { return QAccessible::PageTab; }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        const bool shown = tabs()->selectedTab() == m_index;
        state.selectable = true;
        state.selected = shown;
        state.focusable = true;
        state.focused = shown && m_list->hasFocus();
        state.invisible = !m_list->isVisible();
        state.disabled = !m_list->isEnabled();
        return state;
    }

    QRect rect() const override
    {
        if (!isValid())
            return QRect();
        const QRect area = tabs()->tabArea(m_index);
        return QRect(m_list->mapToGlobal(area.topLeft()), area.size());
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &action) override
    {
        if (action == pressAction() && isValid() && m_list->isEnabled())
            tabs()->pickTab(m_index);
    }

protected:
    QString name() const override { return tabs()->tabName(m_index); }

private:
    // None once the list goes (also while it is being destroyed, when it is a tab list no more).
    KavrelTabList *tabs() const { return dynamic_cast<KavrelTabList *>(m_list.data()); }

    QPointer<QWidget> m_list;
    int m_index;
};

class TabListInterface final : public QAccessibleWidget
{
public:
    explicit TabListInterface(QWidget *list) : QAccessibleWidget(list, QAccessible::PageTabList) {}

    ~TabListInterface() override
    {
        for (QAccessible::Id id : std::as_const(m_tabs))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return tabs() ? tabs()->tabCount() : 0; }

    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto known = m_tabs.constFind(index); known != m_tabs.cend())
            return QAccessible::accessibleInterface(*known);
        auto *tab = new TabInterface(widget(), index);
        m_tabs.insert(index, QAccessible::registerAccessibleInterface(tab));
        return tab;
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (auto it = m_tabs.cbegin(); it != m_tabs.cend(); ++it) {
            if (QAccessible::accessibleInterface(it.value()) == child)
                return it.key() < childCount() ? it.key() : -1;
        }
        return -1;
    }

    QAccessibleInterface *focusChild() const override
    {
        const int shown = tabs() ? tabs()->selectedTab() : -1;
        return widget()->hasFocus() && shown >= 0 ? child(shown) : nullptr;
    }

    QString text(QAccessible::Text kind) const override
    {
        // The tab shown is the list's value.
        const int shown = tabs() ? tabs()->selectedTab() : -1;
        if (kind == QAccessible::Value && shown >= 0)
            return tabs()->tabName(shown);
        return QAccessibleWidget::text(kind);
    }

    // Pressing the list itself moves on to the next tab, as Space does.
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
            tabs()->pickTab((tabs()->selectedTab() + 1) % childCount());
    }

private:
    // None while the widget is being destroyed.
    KavrelTabList *tabs() const { return dynamic_cast<KavrelTabList *>(widget()); }

    mutable QHash<int, QAccessible::Id> m_tabs;
};

// What a widget reads as inside the bounds: a kit control's own interface, or none, so that Qt
// makes its own.
QAccessibleInterface *buildInner(const QString &className, QObject *object)
{
    const auto registered = registrations().constFind(className);
    if (registered == registrations().cend())
        return nullptr;
    if (auto *widget = static_cast<QWidget *>(object); dynamic_cast<KavrelTabList *>(widget))
        return new TabListInterface(widget);
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
        KavrelAccessibilityBusGate::install();
        KavrelKeptFocusAnnouncer::install();
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
