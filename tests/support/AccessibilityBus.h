#pragma once

// The accessibility bus a screen reader listens on, for a test on the test services' X server:
// with it Qt tells of focus and changes (offscreen, or with no bus, Qt tells no one), and its item
// views keep their accessible rows in step with their models.

#include <QAccessible>
#include <QList>
#include <QProcess>
#include <QString>

namespace AccessibilityBus {

// What an event was about, read when it was sent.
struct Event
{
    QAccessible::Event type;
    QAccessible::Id id;
    QAccessible::Role role;
    QString name;
    QString parentName;
};

class Listener
{
public:
    // Starts the bus and waits until Qt tells it of events; fails the running test otherwise.
    // When `hear`, the test sees the events Qt sends, instead of the bus; with `passOn` as well,
    // the events go on afterwards to whoever heard them before (the kit's announcer, Qt's bridge).
    explicit Listener(bool hear = true, bool passOn = false);
    ~Listener();

    // The events since the last call, oldest first.
    QList<Event> take();

private:
    QProcess m_launcher;
    bool m_hears;
    QAccessible::UpdateHandler m_previous = nullptr;
};

} // namespace AccessibilityBus
