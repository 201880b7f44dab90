#include "app/widgets/KavrelPresentationStore.h"

#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "base/KavrelDiagnostics.h"
#include "kit/widgets/KavrelWindowFront.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace {

// Under an XEmbed tray host the tray icon is a top-level widget; the tray item hides it itself.
bool isTrayIcon(const QWidget *window)
{
    return window->inherits("QSystemTrayIconSys");
}

} // namespace

KavrelPresentationStore::KavrelPresentationStore(KavrelMiniWindowCoordinator &coordinator,
                                                 TrayAvailability trayAvailability, QObject *parent)
    : QObject(parent), m_coordinator(coordinator), m_trayAvailability(std::move(trayAvailability))
{
}

bool KavrelPresentationStore::isTrayAvailable() const
{
    return m_trayAvailability && m_trayAvailability();
}

bool KavrelPresentationStore::canEnterBackgroundOnlyMode() const
{
    return isTrayAvailable();
}

void KavrelPresentationStore::enterBackgroundOnlyMode()
{
    if (m_isBackgroundOnly)
        return;
    if (!canEnterBackgroundOnlyMode()) {
        qCWarning(KavrelDiagnostics::app()) << "no system tray available, staying in the regular presentation mode";
        return;
    }
    m_isBackgroundOnly = true;
    Q_EMIT isBackgroundOnlyChanged();
    qCInfo(KavrelDiagnostics::app()) << "entering background-only presentation mode";
    m_coordinator.hideAllWindowsForBackgroundMode();
    // With every window hidden the program has no taskbar entry; the tray item stays.
    m_activationPolicy = ActivationPolicy::accessory;
}

void KavrelPresentationStore::restoreApplication(std::function<void()> openWindow)
{
    restore(std::move(openWindow), true);
}

void KavrelPresentationStore::restore(std::function<void()> openWindow, bool opensMainWindow)
{
    if (m_isQuitting)
        return;
    const bool wasBackgroundOnly = m_isBackgroundOnly;
    m_isBackgroundOnly = false;
    if (wasBackgroundOnly) {
        Q_EMIT isBackgroundOnlyChanged();
        m_miniWindowGeneration = QUuid::createUuid();
        Q_EMIT miniWindowGenerationChanged();
    }
    qCInfo(KavrelDiagnostics::app()) << "restoring regular application presentation mode";
    if (m_activationPolicy != ActivationPolicy::regular) {
        m_activationPolicy = ActivationPolicy::regular;
        // Let the mode change settle for one event-loop turn before windows come back.
        QPointer<KavrelPresentationStore> self(this);
        QTimer::singleShot(0, this, [self, openWindow = std::move(openWindow), opensMainWindow] {
            if (self)
                self->reveal(openWindow, opensMainWindow);
        });
        return;
    }
    reveal(openWindow, opensMainWindow);
}

void KavrelPresentationStore::restoreApplicationOpening(const std::function<void(const QString &)> &openWindow,
                                                        const QString &identifier)
{
    restore([openWindow, identifier] {
        if (openWindow)
            openWindow(identifier);
    }, identifier == QLatin1String(mainWindowIdentifier));
}

void KavrelPresentationStore::reveal(const std::function<void()> &openWindow, bool opensMainWindow)
{
    m_coordinator.closeMiniWindow(false);
    if (m_coordinator.mainWindowHiddenForMiniWindow())
        m_coordinator.restoreHiddenMainWindow();
    if (openWindow)
        openWindow();
    m_coordinator.noteMainWindowRevealed();
    // Another window asked for (the settings) was raised and activated as it opened; raising
    // the main window after it would bury it.
    if (!opensMainWindow)
        return;
    QPointer<KavrelMiniWindowCoordinator> coordinator(&m_coordinator);
    QTimer::singleShot(0, this, [coordinator] {
        if (!coordinator)
            return;
        KavrelWindowFront::bringForward(coordinator->mainWindow());
    });
}

void KavrelPresentationStore::leaveScreenForQuit()
{
    if (m_isQuitting)
        return;
    m_isQuitting = true;
    qCInfo(KavrelDiagnostics::app()) << "quitting: every window leaves the screen";
    // Set before any window goes, so that whatever answers a window hiding sees the mode.
    if (!m_isBackgroundOnly) {
        m_isBackgroundOnly = true;
        Q_EMIT isBackgroundOnlyChanged();
    }
    m_activationPolicy = ActivationPolicy::accessory;
    m_coordinator.closeMiniWindow(false);
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && !isTrayIcon(window))
            window->hide();
    }
    // Prompts, dialogs and late replies may still show a window while the session stops; none
    // of them is a reason to come back on screen.
    qApp->installEventFilter(this);
    Q_EMIT quittingStarted();
}

bool KavrelPresentationStore::eventFilter(QObject *watched, QEvent *event)
{
    // A window's show event comes before it is mapped; so marked, it never is.
    if (m_isQuitting && event->type() == QEvent::Show && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->isWindow() && !isTrayIcon(widget) && !widget->testAttribute(Qt::WA_DontShowOnScreen))
            widget->setAttribute(Qt::WA_DontShowOnScreen);
    }
    return QObject::eventFilter(watched, event);
}
