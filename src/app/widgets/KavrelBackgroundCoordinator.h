#pragma once

#include "app/widgets/KavrelMeetingDetectionWiring.h"
#include "app/widgets/KavrelPresentationStore.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>

class KavrelListeningStarter;
class KavrelMiniWindowCoordinator;
class KavrelPresentationStore;
class KavrelSessionSurface;
class UserDefaults;

// Decides, four times a second while a session runs and on the events that matter, whether the
// floating mini window should stand in for the main window: while a session is active, the mini window is enabled
// and the main window is out of sight, it hides the main window and shows the mini window;
// otherwise it closes the mini window and brings the main window back. It lives with the main
// window's content. Main thread only.
class KavrelBackgroundCoordinator final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *miniWindowEnabledKey = "kavrel.isMiniWindowEnabled";
    static constexpr const char *mainWindowIdentifier = KavrelPresentationStore::mainWindowIdentifier;
    static constexpr const char *miniWindowWindowIdentifier = "kavrel-listening-mini";

    // Opens a window by its identifier ("kavrel-main", "kavrel-listening-mini", ...).
    using OpenWindow = std::function<void(const QString &identifier)>;

    struct Timings
    {
        std::chrono::milliseconds tick{250};
        std::chrono::milliseconds afterResignActive{350};
        std::chrono::milliseconds followUp{100};
        std::chrono::milliseconds languageChangeSuppression{1500};
    };

    KavrelBackgroundCoordinator(KavrelSessionSurface &session, KavrelPresentationStore &presentation,
                                KavrelMiniWindowCoordinator &miniWindows, UserDefaults &defaults, OpenWindow openWindow,
                                QObject *parent = nullptr);

    void setTimings(const Timings &timings);
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    // Starts the decisions: the timer and the event handlers.
    void start();
    // The mini-window decision; see the rules in the source.
    void synchronizeMiniWindowVisibility();
    // The meeting prompts' start: refreshes the session and starts listening, then brings the
    // main window back unless background-only mode is on.
    void startListeningAfterAuthRefresh(KavrelListeningStarter &starter);
    // Meeting detection to wire when the coordinator starts, with the start of its prompts.
    void setMeetingDetection(KavrelMeetingDetectionWiring wiring, KavrelListeningStarter *starter);

    int miniWindowOpenCount() const { return m_miniWindowOpenCount; }

private:
    void followUpAfterOpening();
    void closeMiniWindowForGood();
    // Ticks while a session is active, not otherwise.
    void followSession();
    bool isMiniWindowEnabled() const;

    KavrelSessionSurface &m_session;
    QPointer<KavrelPresentationStore> m_presentation;
    QPointer<KavrelMiniWindowCoordinator> m_miniWindows;
    UserDefaults &m_defaults;
    OpenWindow m_openWindow;
    Timings m_timings;
    std::function<QDateTime()> m_clock = [] { return QDateTime::currentDateTimeUtc(); };
    QDateTime m_suppressMiniWindowUntil;
    QTimer m_visibilityTimer;
    int m_miniWindowOpenCount = 0;
    KavrelMeetingDetectionWiring m_meetingDetection;
    QPointer<KavrelListeningStarter> m_starter;
};
