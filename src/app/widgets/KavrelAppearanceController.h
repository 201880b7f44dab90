#pragma once

#include "kit/KavrelAppearanceMode.h"

#include <QObject>
#include <QDBusMessage>
#include <QPalette>

#include <optional>

class UserDefaults;

// Decides whether the windows are drawn light or dark and gives the application our palette
// of that scheme (never the desktop's own). The stored "kavrel.appearanceMode" wins when it says "light" or "dark"; for "system"
// the desktop decides: the portal's colour-scheme setting when the desktop has one, else the
// window colour of the palette the desktop gave the application.
//
// Theme colours resolve against the palette of the widget being painted (KavrelPalette.h), so
// setting the palette is all it takes to recolour every screen.
class KavrelAppearanceController final : public QObject
{
    Q_OBJECT

public:
    // Reads the desktop palette's scheme as it is now; create it before anything else sets one.
    explicit KavrelAppearanceController(UserDefaults &defaults, QObject *parent = nullptr);
    ~KavrelAppearanceController() override;

    KavrelColorScheme effectiveScheme() const { return m_effective; }

    // Asks the desktop portal for its colour scheme and follows its changes. Without a session
    // bus or portal nothing happens and the desktop palette decides.
    void followDesktopPortal();
    // The portal's preference: dark, light, or none when it states none.
    void setDesktopPreference(std::optional<KavrelColorScheme> preference);

    // The program's own palettes for a forced scheme.
    static QPalette palette(KavrelColorScheme scheme);
    // Reads the portal's "color-scheme" value: 1 prefers dark, 2 prefers light, others none.
    static std::optional<KavrelColorScheme> schemeFromPortalValue(uint value);

Q_SIGNALS:
    void schemeChanged(KavrelColorScheme scheme);

private Q_SLOTS:
    void portalSettingChanged(const QDBusMessage &message);

private:
    void update();

    UserDefaults &m_defaults;
    KavrelColorScheme m_desktopScheme;
    std::optional<KavrelColorScheme> m_desktopPreference;
    KavrelColorScheme m_effective = KavrelColorScheme::light;
    bool m_applied = false;
};
