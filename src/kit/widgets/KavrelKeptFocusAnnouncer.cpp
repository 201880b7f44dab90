#include "kit/widgets/KavrelKeptFocusAnnouncer.h"

#include "kit/widgets/KavrelBoundedText.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <utility>

namespace {

QAccessible::UpdateHandler passedOnTo = nullptr;

// Controls that changed while they kept the keyboard, to be announced once the change is done.
QList<QPointer<QWidget>> &changed()
{
    static QList<QPointer<QWidget>> controls;
    return controls;
}

// How the control with the keyboard was last told to a screen reader. A view refreshed with what
// it shows already (the same name set again, a hold set twice) has nothing new to tell.
struct Told
{
    QPointer<QWidget> control;
    QString name;
    bool available = true;
};

Told &told()
{
    static Told last;
    return last;
}

Told asItReads(QWidget *control)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
    if (!accessible)
        return {control, QString(), true};
    return {control, accessible->text(QAccessible::Name), !accessible->state().disabled};
}

bool toldAlready(QWidget *control)
{
    const Told &last = told();
    if (last.control != control)
        return false;
    const Told now = asItReads(control);
    return now.name == last.name && now.available == last.available;
}

void hear(QAccessibleEvent *event);

// Qt's own way, with no handler installed, reaches the bridge (whoever listens in front of this
// one stays in front); it also tells a table of a model change first, which was done already, and
// the bridge ignores that event.
void passOn(QAccessibleEvent *event)
{
    if (passedOnTo) {
        passedOnTo(event);
        return;
    }
    if (event->type() == QAccessible::TableModelChanged)
        return;
    const QAccessible::UpdateHandler listening = QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(listening);
}

bool changesWhatIsSpoken(QAccessibleEvent *event)
{
    if (event->type() == QAccessible::NameChanged)
        return true;
    return event->type() == QAccessible::StateChanged
           && static_cast<QAccessibleStateChangeEvent *>(event)->changedStates().disabled;
}

void announce()
{
    const QList<QPointer<QWidget>> controls = std::exchange(changed(), {});
    for (const QPointer<QWidget> &control : controls) {
        if (!control || !control->hasFocus() || !QAccessible::isActive() || toldAlready(control.data()))
            continue;
        // A new identity: the interface known so far goes, and the focus event hands out a new one.
        if (QAccessibleInterface *known = QAccessible::queryAccessibleInterface(control.data()))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(known));
        QAccessibleEvent focus(control.data(), QAccessible::Focus);
        QAccessible::updateAccessibility(&focus);
    }
}

// A caret that moves in a field without the keyboard (a field being filled as a form is built) is
// not told: a screen reader takes a caret for where the keyboard is, and takes the field for the
// one it is on already, silently, so that the focus coming to it a moment later is no news.
bool caretAwayFromTheKeyboard(QAccessibleEvent *event)
{
    if (event->type() != QAccessible::TextCaretMoved)
        return false;
    const auto *widget = qobject_cast<QWidget *>(event->object());
    return widget && !widget->hasFocus();
}

void hear(QAccessibleEvent *event)
{
    if (caretAwayFromTheKeyboard(event))
        return;
    // A secret field's change goes on as its mask tells it, never with what was typed.
    const std::unique_ptr<QAccessibleEvent> masked = KavrelBoundedText::masked(event);
    passOn(masked ? masked.get() : event);
    if (event->type() == QAccessible::Focus) {
        auto *focused = qobject_cast<QWidget *>(event->object());
        told() = focused && event->child() < 0 ? asItReads(focused) : Told{};
        return;
    }
    if (!changesWhatIsSpoken(event) || event->child() >= 0)
        return;
    auto *control = qobject_cast<QWidget *>(event->object());
    if (!control || !control->hasFocus() || changed().contains(control) || !QCoreApplication::instance())
        return;
    if (changed().isEmpty())
        QMetaObject::invokeMethod(QCoreApplication::instance(), &announce, Qt::QueuedConnection);
    changed().append(control);
}

} // namespace

namespace KavrelKeptFocusAnnouncer {

void install()
{
    static const bool installed = [] {
        passedOnTo = QAccessible::installUpdateHandler(hear);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace KavrelKeptFocusAnnouncer
