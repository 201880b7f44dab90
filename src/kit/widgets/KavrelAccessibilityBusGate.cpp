#include "kit/widgets/KavrelAccessibilityBusGate.h"

#include "kit/widgets/KavrelBoundedEditableText.h"

#include <QAccessible>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QHash>

#include <algorithm>

namespace {

// Where Qt's bridge answers for every accessible part, on the connection it names "a11y".
const QString bridgePath = QStringLiteral("/org/a11y/atspi/accessible");
const QString busName = QStringLiteral("a11y");
const QString editableTextInterface = QStringLiteral("org.a11y.atspi.EditableText");

// The part at `path`, as the bridge finds it: the program itself at "root", otherwise the
// accessible id the path ends in.
QAccessibleInterface *partAt(const QString &path)
{
    if (!path.startsWith(bridgePath + QLatin1Char('/')))
        return nullptr;
    const QStringView last = QStringView(path).mid(bridgePath.size() + 1);
    if (last == QLatin1String("root"))
        return QAccessible::queryAccessibleInterface(QCoreApplication::instance());
    bool isNumber = false;
    const QAccessible::Id id = last.toUInt(&isNumber);
    return isNumber ? QAccessible::accessibleInterface(id) : nullptr;
}

// Makes the edit `message` asks of a part and answers it; false where the bridge is to answer.
bool answerEdit(const QDBusMessage &message, const QDBusConnection &connection)
{
    if (message.interface() != editableTextInterface)
        return false;
    const QString member = message.member();
    const QString signature = message.signature();
    static const QHash<QString, QString> takes{
        {QStringLiteral("SetTextContents"), QStringLiteral("s")}, {QStringLiteral("InsertText"), QStringLiteral("isi")},
        {QStringLiteral("DeleteText"), QStringLiteral("ii")},     {QStringLiteral("CutText"), QStringLiteral("ii")},
        {QStringLiteral("PasteText"), QStringLiteral("i")},       {QStringLiteral("CopyText"), QStringLiteral("ii")},
    };
    const auto expected = takes.constFind(member);
    if (expected == takes.cend())
        return false;
    if (signature != *expected) {
        connection.send(message.createErrorReply(QDBusError::InvalidArgs,
                                                 QStringLiteral("%1 takes (%2), not (%3)").arg(member, *expected, signature)));
        return true;
    }
    // A copy changes nothing, and a part that is not there is the bridge's to answer, as it
    // answers every other question of it.
    QAccessibleInterface *part = member != QLatin1String("CopyText") ? partAt(message.path()) : nullptr;
    if (!part)
        return false;

    const QList<QVariant> arguments = message.arguments();
    auto *edits = dynamic_cast<KavrelBoundedEditableText *>(part->editableTextInterface());
    const QAccessibleTextInterface *text = part->textInterface();
    bool done = false;
    if (edits && text) {
        const int first = arguments.at(0).toInt();
        if (member == QLatin1String("SetTextContents")) {
            done = edits->edit(0, text->characterCount(), arguments.at(0).toString());
        } else if (member == QLatin1String("InsertText")) {
            // A length below none inserts nothing, as the bridge reads it.
            done = edits->edit(first, first, arguments.at(1).toString().left(std::max(0, arguments.at(2).toInt())));
        } else if (member == QLatin1String("DeleteText")) {
            done = edits->edit(first, arguments.at(1).toInt(), QString());
        } else if (member == QLatin1String("CutText")) {
            // What is cut is what the text reads (a password field's mask), and only once it is gone.
            const int end = arguments.at(1).toInt();
            const QString cut = text->text(first, end);
            done = edits->edit(first, end, QString());
            if (done)
                QGuiApplication::clipboard()->setText(cut);
        } else {
            done = edits->edit(first, first, QGuiApplication::clipboard()->text());
        }
    }
    connection.send(message.createReply(done));
    return true;
}

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
    if (message.member() == QLatin1String("InsertText") && message.interface() == editableTextInterface
        && arguments.size() == 3) {
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
    if (!m_bridge)
        return false;
    const QDBusMessage asked = admitted(message);
    return answerEdit(asked, connection) || m_bridge->handleMessage(asked, connection);
}
