#pragma once

#include <QObject>
#include <QUuid>

#include <functional>

class KavrelMiniWindowCoordinator;

// The program's presentation mode. In the regular mode the main window is shown, and while a
// session runs the floating mini window may stand in for it. In background-only mode every
// window is gone and only the tray item remains while listening goes on; that mode needs a
// tray to come back from, so without one the program never enters it.
//
// The one way back to the regular mode is restoreApplication(). Quitting takes every window and
// the tray item off the screen for good, while the session's saves finish behind them. Main
// thread only.
class KavrelPresentationStore final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isBackgroundOnly READ isBackgroundOnly NOTIFY isBackgroundOnlyChanged)
    Q_PROPERTY(QUuid miniWindowGeneration READ miniWindowGeneration NOTIFY miniWindowGenerationChanged)

public:
    // Whether the desktop shows tray items; the program asks QSystemTrayIcon.
    using TrayAvailability = std::function<bool()>;

    enum class ActivationPolicy { regular, accessory };

    // The main window's identifier among the windows the program opens by name.
    static constexpr const char *mainWindowIdentifier = "kavrel-main";

    KavrelPresentationStore(KavrelMiniWindowCoordinator &coordinator, TrayAvailability trayAvailability,
                            QObject *parent = nullptr);

    bool isBackgroundOnly() const { return m_isBackgroundOnly; }
    QUuid miniWindowGeneration() const { return m_miniWindowGeneration; }
    ActivationPolicy activationPolicy() const { return m_activationPolicy; }

    // Whether the desktop shows the tray item now.
    bool isTrayAvailable() const;
    // False while no tray is available: hiding everything would leave nothing to come back by.
    bool canEnterBackgroundOnlyMode() const;
    // Hides every window while listening goes on. Does nothing when already in it, or when no
    // tray is available.
    void enterBackgroundOnlyMode();
    // Back to the regular mode: the mini window closes, a main window hidden for it comes back
    // and `openWindow` opens the main window, which is then activated.
    void restoreApplication(std::function<void()> openWindow);
    // restoreApplication() with an action that opens the window `identifier` through `openWindow`;
    // that window, not the main one, ends in front.
    void restoreApplicationOpening(const std::function<void(const QString &)> &openWindow, const QString &identifier);

    // The program is quitting: every window leaves the screen at once, the background-only rules
    // keep the mini window and the meeting prompts away, nothing restores the regular mode, and
    // a window shown from now on never reaches the screen.
    void leaveScreenForQuit();
    bool isQuitting() const { return m_isQuitting; }

Q_SIGNALS:
    void isBackgroundOnlyChanged();
    void miniWindowGenerationChanged();
    // leaveScreenForQuit() was called: the tray item goes too.
    void quittingStarted();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void restore(std::function<void()> openWindow, bool opensMainWindow);
    void reveal(const std::function<void()> &openWindow, bool opensMainWindow);

    KavrelMiniWindowCoordinator &m_coordinator;
    TrayAvailability m_trayAvailability;
    bool m_isBackgroundOnly = false;
    bool m_isQuitting = false;
    QUuid m_miniWindowGeneration = QUuid::createUuid();
    ActivationPolicy m_activationPolicy = ActivationPolicy::regular;
};
