#include "kit/widgets/KavrelAccessibilityBusGate.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>

#include <algorithm>

namespace {

// Where Qt's bridge answers for every accessible part, on the connection it names "a11y".
const QString bridgePath = QStringLiteral("/org/a11y/atspi/accessible");
const QString busName = QStringLiteral("a11y");

class Activation final : public QAccessible::ActivationObserver
{
public:
    void accessibilityActiveChanged(bool active) override
    {
        // The bridge registers itself right after it says it is active.
        if (active && QCoreApplication::instance())
            QMetaObject::invokeMethod(QCoreApplication::instance(), &KavrelAccessibilityBusGate::install, Qt::QueuedConnection);
    }
};

} // namespace

KavrelAccessibilityBusGate::KavrelAccessibilityBusGate(QDBusVirtualObject *bridge, QObject *parent)
    : QDBusVirtualObject(parent), m_bridge(bridge)
{
}

void KavrelAccessibilityBusGate::install()
{
    static Activation activation;
    static const bool observed = [] {
        QAccessible::installActivationObserver(&activation);
        return true;
    }();
    Q_UNUSED(observed);
    if (QAccessible::isActive())
        standInFront();
}

void KavrelAccessibilityBusGate::standInFront()
{
    QDBusConnection bus(busName);
    if (!bus.isConnected() || !QCoreApplication::instance())
        return;
    auto *bridge = qobject_cast<QDBusVirtualObject *>(bus.objectRegisteredAt(bridgePath));
    if (!bridge || qobject_cast<KavrelAccessibilityBusGate *>(bridge))
        return;
    auto *gate = new KavrelAccessibilityBusGate(bridge, QCoreApplication::instance());
    bus.unregisterObject(bridgePath);
    if (!bus.registerVirtualObject(bridgePath, gate, QDBusConnection::SubPath)) {
        bus.registerVirtualObject(bridgePath, bridge, QDBusConnection::SubPath);
        delete gate;
    }
}

QDBusMessage KavrelAccessibilityBusGate::admitted(const QDBusMessage &message)
{
    QDBusMessage admitted = message;
    QList<QVariant> arguments = message.arguments();
    if (message.member() == QLatin1String("InsertText")
        && message.interface() == QLatin1String("org.a11y.atspi.EditableText") && arguments.size() == 3) {
        const int length = arguments.at(2).toInt();
        const int sent = int(std::min<qsizetype>(arguments.at(1).toString().size(), length));
        if (sent != length) {
            arguments[2] = sent;
            admitted.setArguments(arguments);
        }
    }
    return admitted;
}

QString KavrelAccessibilityBusGate::introspect(const QString &path) const
{
    return m_bridge ? m_bridge->introspect(path) : QString();
}

bool KavrelAccessibilityBusGate::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    return m_bridge && m_bridge->handleMessage(admitted(message), connection);
}
