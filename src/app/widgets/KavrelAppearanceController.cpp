#include "app/widgets/KavrelAppearanceController.h"

#include "kit/KavrelPalette.h"
#include "base/KavrelDiagnostics.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString portalInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceGroup = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

// The portal wraps the value in one or two variants depending on its version.
std::optional<uint> unwrapPortalValue(QVariant value)
{
    for (int depth = 0; depth < 3 && value.canConvert<QDBusVariant>(); ++depth)
        value = value.value<QDBusVariant>().variant();
    if (value.typeId() == QMetaType::UInt || value.typeId() == QMetaType::Int)
        return value.toUInt();
    return std::nullopt;
}

} // namespace

KavrelAppearanceController::KavrelAppearanceController(UserDefaults &defaults, QObject *parent)
    : QObject(parent), m_defaults(defaults), m_desktopScheme(kavrelColorScheme(QGuiApplication::palette()))
{
    connect(&m_defaults, &UserDefaults::valueChanged, this, [this](const QString &key) {
        if (key == QLatin1String(KavrelAppearance::defaultsKey))
            update();
    });
    update();
}

KavrelAppearanceController::~KavrelAppearanceController() = default;

void KavrelAppearanceController::followDesktopPortal()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Any sender on the portal's path: naming the service would look its owner up with a call
    // that blocks.
    bus.connect(QString(), portalPath, portalInterface, QStringLiteral("SettingChanged"), this,
                SLOT(portalSettingChanged(QDBusMessage)));
    QDBusMessage read = QDBusMessage::createMethodCall(portalService, portalPath, portalInterface, QStringLiteral("Read"));
    read << appearanceGroup << colorSchemeKey;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        QDBusPendingReply<QVariant> reply = *call;
        if (reply.isError())
            return; // no portal: the desktop palette decides
        if (const auto value = unwrapPortalValue(reply.value()))
            setDesktopPreference(schemeFromPortalValue(*value));
    });
}

void KavrelAppearanceController::portalSettingChanged(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 3 || arguments.at(0).toString() != appearanceGroup || arguments.at(1).toString() != colorSchemeKey)
        return;
    if (const auto number = unwrapPortalValue(arguments.at(2)))
        setDesktopPreference(schemeFromPortalValue(*number));
}

void KavrelAppearanceController::setDesktopPreference(std::optional<KavrelColorScheme> preference)
{
    m_desktopPreference = preference;
    update();
}

std::optional<KavrelColorScheme> KavrelAppearanceController::schemeFromPortalValue(uint value)
{
    if (value == 1)
        return KavrelColorScheme::dark;
    if (value == 2)
        return KavrelColorScheme::light;
    return std::nullopt;
}

void KavrelAppearanceController::update()
{
    const QString stored = m_defaults.stringValue(QString::fromLatin1(KavrelAppearance::defaultsKey), QStringLiteral("system"));
    const std::optional<KavrelColorScheme> forced = KavrelAppearance::preferredColorScheme(stored);
    const std::optional<KavrelColorScheme> chosen = forced ? forced : m_desktopPreference;
    const KavrelColorScheme effective = chosen.value_or(m_desktopScheme);

    // Our palette even where the desktop's has the same scheme: the screens' secondary and
    // placeholder greys were chosen to read on our surfaces, and a desktop's own greys (the
    // placeholder at half the text's opacity, say) do not.
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        QApplication::setPalette(palette(effective));

    const bool changed = !m_applied || effective != m_effective;
    m_effective = effective;
    m_applied = true;
    if (changed)
        Q_EMIT schemeChanged(effective);
}

QPalette KavrelAppearanceController::palette(KavrelColorScheme scheme)
{
    const bool dark = scheme == KavrelColorScheme::dark;
    const QColor window = dark ? QColor(0x2d, 0x2e, 0x31) : QColor(0xef, 0xef, 0xf1);
    const QColor base = dark ? QColor(0x1f, 0x1f, 0x22) : QColor(0xff, 0xff, 0xff);
    const QColor text = dark ? QColor(0xee, 0xef, 0xf2) : QColor(0x1d, 0x1d, 0x1f);
    const QColor button = dark ? QColor(0x3a, 0x3b, 0x3f) : QColor(0xf7, 0xf7, 0xf9);
    const QColor highlight = KavrelSystemColors::selection.resolve(scheme);
    const QColor disabledText = dark ? QColor(0x80, 0x82, 0x88) : QColor(0xa0, 0xa2, 0xa8);

    QPalette palette(window);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, dark ? QColor(0x27, 0x28, 0x2b) : QColor(0xf5, 0xf5, 0xf7));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    // Placeholders are read, unlike disabled text: they keep a readable contrast on the fields.
    palette.setColor(QPalette::PlaceholderText, dark ? QColor(0x95, 0x96, 0x9c) : QColor(0x68, 0x69, 0x6f));
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    // A link is text on the window's own surfaces, where the selection blue is too dark in the dark scheme.
    palette.setColor(QPalette::Link, KavrelSystemColors::accent.resolve(scheme));
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, dark ? QColor(0x4a, 0x4b, 0x50) : Qt::white);
    palette.setColor(QPalette::Midlight, dark ? QColor(0x3f, 0x40, 0x44) : QColor(0xe3, 0xe3, 0xe6));
    palette.setColor(QPalette::Mid, dark ? QColor(0x2a, 0x2b, 0x2e) : QColor(0xb8, 0xb8, 0xbd));
    palette.setColor(QPalette::Dark, dark ? QColor(0x18, 0x18, 0x1a) : QColor(0x9a, 0x9a, 0xa0));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    // Styles etch disabled text with the light colour; on the window colour it stays flat.
    palette.setColor(QPalette::Disabled, QPalette::Light, window);
    return palette;
}
