#include "AccessibilityBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTest>

#include <utility>

namespace AccessibilityBus {

namespace {

QList<Event> &events()
{
    static QList<Event> list;
    return list;
}

QAccessible::UpdateHandler passedOnTo = nullptr;

const QString busLauncherName = QStringLiteral("org.a11y.Bus");

// Whether the launcher of an earlier test still holds the bus's name on the session bus: a new
// launcher started meanwhile gives up, and Qt's bridge asks the going one for its address.
bool busLauncherGone()
{
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    return !bus || !bus->isServiceRegistered(busLauncherName).value();
}

void record(QAccessibleEvent *event)
{
    QAccessibleInterface *accessible = event->accessibleInterface();
    if (accessible && accessible->isValid()) {
        QAccessibleInterface *parent = accessible->parent();
        events().append({event->type(), QAccessible::uniqueId(accessible), accessible->role(),
                         accessible->text(QAccessible::Name), parent ? parent->text(QAccessible::Name) : QString()});
    }
    if (passedOnTo)
        passedOnTo(event);
}

} // namespace

Listener::Listener(bool hear, bool passOn)
    : m_hears(hear)
{
    // Qt's bridge joins the bus when it appears, and speaks on it whether or not a reader says
    // it listens.
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    // The bus starts the registry daemon, which may outlive it: none of them may hold the test's
    // output open, or the test runner waits for it.
    m_launcher.setStandardInputFile(QProcess::nullDevice());
    m_launcher.setStandardOutputFile(QProcess::nullDevice());
    m_launcher.setStandardErrorFile(QProcess::nullDevice());
    QTRY_VERIFY_WITH_TIMEOUT(busLauncherGone(), 15000);
    m_launcher.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"), {QStringLiteral("--launch-immediately")});
    QVERIFY2(m_launcher.waitForStarted(), "at-spi-bus-launcher did not start (scripts/install-deps installs at-spi2-core)");
    QTRY_VERIFY_WITH_TIMEOUT(QAccessible::isActive(), 10000);
    events().clear();
    if (hear)
        m_previous = QAccessible::installUpdateHandler(record);
    passedOnTo = passOn ? m_previous : nullptr;
}

Listener::~Listener()
{
    if (m_hears)
        QAccessible::installUpdateHandler(m_previous);
    passedOnTo = nullptr;
    events().clear();
    m_launcher.terminate();
    if (!m_launcher.waitForFinished(5000))
        m_launcher.kill();
    QTRY_VERIFY_WITH_TIMEOUT(busLauncherGone(), 15000);
}

QList<Event> Listener::take()
{
    return std::exchange(events(), {});
}

} // namespace AccessibilityBus
