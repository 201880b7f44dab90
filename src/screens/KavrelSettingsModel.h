#pragma once

#include "kit/KavrelAppearanceMode.h"

#include <QObject>
#include <QPointer>

#include <functional>

class UserDefaults;

// The two settings of the settings window, stored in the user defaults and applied by the
// application: the appearance ("kavrel.appearanceMode", a stored text that is not one of the
// three modes reads as system) and whether the mini window shows during a session
// ("kavrel.isMiniWindowEnabled", on unless stored off). Switching the mini window off, from
// here or anywhere else, closes an open one at once. Main thread only.
class KavrelSettingsModel final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *miniWindowEnabledKey = "kavrel.isMiniWindowEnabled";

    // `closeMiniWindow` closes the mini window and brings back a main window hidden for it.
    KavrelSettingsModel(UserDefaults &defaults, std::function<void()> closeMiniWindow, QObject *parent = nullptr);

    KavrelAppearanceMode appearanceMode() const;
    void setAppearanceMode(KavrelAppearanceMode mode);

    bool isMiniWindowEnabled() const;
    void setMiniWindowEnabled(bool enabled);

Q_SIGNALS:
    void appearanceModeChanged(KavrelAppearanceMode mode);
    void miniWindowEnabledChanged(bool enabled);

private:
    void storedValueChanged(const QString &key);

    QPointer<UserDefaults> m_defaults;
    std::function<void()> m_closeMiniWindow;
    KavrelAppearanceMode m_appearanceMode;
    bool m_isMiniWindowEnabled;
};
