#include "app/widgets/KavrelBackgroundCoordinator.h"

#include "session/KavrelListeningStarter.h"
#include "app/KavrelNotifications.h"
#include "session/KavrelSessionSurface.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "base/KavrelDiagnostics.h"
#include "platform/UserDefaults.h"

#include <QGuiApplication>

KavrelBackgroundCoordinator::KavrelBackgroundCoordinator(KavrelSessionSurface &session, KavrelPresentationStore &presentation,
                                                         KavrelMiniWindowCoordinator &miniWindows, UserDefaults &defaults,
                                                         OpenWindow openWindow, QObject *parent)
    : QObject(parent), m_session(session), m_presentation(&presentation), m_miniWindows(&miniWindows),
      m_defaults(defaults), m_openWindow(std::move(openWindow))
{
    m_visibilityTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_visibilityTimer, &QTimer::timeout, this, &KavrelBackgroundCoordinator::synchronizeMiniWindowVisibility);
}

void KavrelBackgroundCoordinator::setTimings(const Timings &timings)
{
    m_timings = timings;
    m_visibilityTimer.setInterval(timings.tick);
}

void KavrelBackgroundCoordinator::start()
{
    if (m_meetingDetection.isSet() && m_starter)
        m_meetingDetection.wire(KavrelMeetingDetectionWiring::promptStart(*m_starter, m_presentation, m_openWindow), m_presentation);
    connect(&KavrelNotifications::defaultCenter(), &KavrelNotifications::posted, this, [this](const QString &name) {
        if (name != KavrelNotifications::interfaceLanguageWillChange || !m_presentation || !m_miniWindows)
            return;
        m_suppressMiniWindowUntil = m_clock().addMSecs(m_timings.languageChangeSuppression.count());
        m_miniWindows->closeMiniWindow(!m_presentation->isBackgroundOnly());
    });
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive) {
            synchronizeMiniWindowVisibility();
        } else {
            QPointer<KavrelBackgroundCoordinator> self(this);
            QTimer::singleShot(m_timings.afterResignActive, this, [self] {
                if (self)
                    self->synchronizeMiniWindowVisibility();
            });
        }
    });
    connect(&m_session, &KavrelSessionSurface::hasActiveSessionChanged, this, [this] {
        followSession();
        synchronizeMiniWindowVisibility();
    });
    m_visibilityTimer.setInterval(m_timings.tick);
    followSession();
}

// Without a session every rule before the window list closes the mini window, and the events
// that matter (a session starting, the program losing or gaining the focus) decide at once;
// the ticks, and the window list they read, are needed only while a session runs.
void KavrelBackgroundCoordinator::followSession()
{
    if (!m_session.hasActiveSession())
        m_visibilityTimer.stop();
    else if (!m_visibilityTimer.isActive())
        m_visibilityTimer.start();
}

bool KavrelBackgroundCoordinator::isMiniWindowEnabled() const
{
    return m_defaults.boolValue(QString::fromLatin1(miniWindowEnabledKey), true);
}

// The first rule that applies decides:
//  1. background-only mode: no mini window, and the main window stays hidden;
//  2. mini window disabled, 3. no active session: no mini window, and the main window comes back,
//     where no tray shows the program even from minimized (closeMiniWindowForGood);
//  4. within the pause after a language change,
//  5. main window in sight: no mini window, and the main window comes back;
//  6. otherwise the main window goes and the mini window shows.
void KavrelBackgroundCoordinator::synchronizeMiniWindowVisibility()
{
    if (!m_presentation || !m_miniWindows)
        return;
    KavrelMiniWindowCoordinator &windows = *m_miniWindows;
    if (m_presentation->isBackgroundOnly()) {
        windows.closeMiniWindow(false);
        return;
    }
    if (!isMiniWindowEnabled() || !m_session.hasActiveSession()) {
        closeMiniWindowForGood();
        return;
    }
    if (m_suppressMiniWindowUntil.isValid() && m_clock() < m_suppressMiniWindowUntil) {
        windows.closeMiniWindow(true);
        return;
    }
    // Only from here on does the window list count. The list read now serves the next decision;
    // this one uses the latest at hand.
    windows.requestWindowListRefresh();
    if (!windows.shouldPresentMiniWindow()) {
        windows.closeMiniWindow(true);
        return;
    }
    windows.hideMainWindowIfNeeded();
    if (windows.isMiniWindowVisible()) {
        windows.presentMiniWindowOverOtherApps();
        return;
    }
    qCInfo(KavrelDiagnostics::app()).noquote()
        << QStringLiteral("opening mini window transcriptChars=%1 translationChars=%2 transcriptEntries=%3 translationEntries=%4")
               .arg(m_session.subtitlesText().size())
               .arg(m_session.translatedText().size())
               .arg(m_session.transcriptEntryCount())
               .arg(m_session.translationEntryCount());
    ++m_miniWindowOpenCount;
    if (m_openWindow)
        m_openWindow(QString::fromLatin1(miniWindowWindowIdentifier));
    QPointer<KavrelBackgroundCoordinator> self(this);
    QTimer::singleShot(m_timings.followUp, this, [self] {
        if (self)
            self->followUpAfterOpening();
    });
}

// The mini window goes until the next session, and a main window hidden for it comes back.
// Where no tray shows the program, a main window the user minimized while the mini window stood
// in for it comes back too: nothing else would show the program or let it be quit, and under
// Wayland nothing but the program can give the window back.
void KavrelBackgroundCoordinator::closeMiniWindowForGood()
{
    const bool stoodIn = m_miniWindows->isMiniWindowVisible();
    m_miniWindows->closeMiniWindow(true);
    if (stoodIn && !m_presentation->isTrayAvailable())
        m_miniWindows->restoreMinimizedMainWindow();
}

// A moment after opening, the mini window stays only if it is still due (the language-change
// pause is not consulted here).
void KavrelBackgroundCoordinator::followUpAfterOpening()
{
    if (!m_presentation || !m_miniWindows)
        return;
    const bool backgroundOnly = m_presentation->isBackgroundOnly();
    if (isMiniWindowEnabled() && m_session.hasActiveSession() && !backgroundOnly && m_miniWindows->shouldPresentMiniWindow())
        m_miniWindows->presentMiniWindowOverOtherApps();
    else
        m_miniWindows->closeMiniWindow(!backgroundOnly);
}

void KavrelBackgroundCoordinator::startListeningAfterAuthRefresh(KavrelListeningStarter &starter)
{
    KavrelMeetingDetectionWiring::promptStart(starter, m_presentation, m_openWindow)();
}

void KavrelBackgroundCoordinator::setMeetingDetection(KavrelMeetingDetectionWiring wiring, KavrelListeningStarter *starter)
{
    m_meetingDetection = std::move(wiring);
    m_starter = starter;
}
