#include "app/widgets/KavrelApp.h"

#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "session/KavrelListeningStarter.h"
#include "localization/KavrelLocalizationStore.h"
#include "session/KavrelSessionSurface.h"
#include "services/KavrelUpdateController.h"
#include "services/KavrelUpdater.h"
#include "app/widgets/KavrelBackgroundCoordinator.h"
#include "app/widgets/KavrelListeningMiniWindow.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "app/widgets/KavrelTrayItem.h"
#include "history/KavrelHistoryViewModel.h"
#include "history/widgets/KavrelHistoryView.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "kit/widgets/KavrelWindowFront.h"
#include "platform/ApplicationInfo.h"
#include "screens/KavrelSettingsModel.h"
#include "screens/widgets/KavrelSettingsView.h"
#include "screens/widgets/KavrelWorkspaceShellView.h"
#include "session/MeetingsInUse.h"
#include "session/SessionCompanionSet.h"
#include "session/SignedInAccountFollower.h"
#include "session/SubtitleViewModel.h"
#include "signin/widgets/KavrelRootView.h"
#include "workspace/widgets/ContentView.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QKeySequence>
#include <QPointer>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

KavrelApp::KavrelApp(Dependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_dependencies(std::move(dependencies))
{
    // The sign-in screen that follows a sign-out tells what became of the meeting that listened.
    SubtitleViewModel *engine = m_dependencies.viewModel;
    if (AuthSessionStore *store = m_dependencies.authStore; store && engine && engine->companionSet()) {
        connect(engine->companionSet()->accounts(), &SignedInAccountFollower::listeningStoppedBySignOut, store, [store] {
            store->setSignOutNotice(QString::fromUtf8(SignedInAccountFollower::listeningStoppedNotice));
        });
    }
}

KavrelApp::~KavrelApp()
{
    // The windows hold references to the stores; they go before them.
    delete m_miniWindow.data();
    delete m_settingsWindow.data();
    delete m_mainWindow.data();
}

std::function<void(const QString &)> KavrelApp::windowOpener()
{
    QPointer<KavrelApp> self(this);
    return [self](const QString &identifier) {
        if (self)
            self->openWindow(identifier);
    };
}

QWidget *KavrelApp::window(const QString &identifier) const
{
    if (identifier == QLatin1String(mainWindowIdentifier))
        return m_mainWindow;
    if (identifier == QLatin1String(settingsWindowIdentifier))
        return m_settingsWindow;
    if (identifier == QLatin1String(miniWindowIdentifier))
        return m_miniWindow;
    return nullptr;
}

QWidget *KavrelApp::questionWindow()
{
    if (!m_mainWindow) {
        m_mainWindow = makeMainWindow();
        KavrelScreenFit::keepOnScreen(m_mainWindow);
    }
    return m_mainWindow;
}

void KavrelApp::openWindow(const QString &identifier)
{
    QWidget *target = window(identifier);
    if (!target) {
        if (identifier == QLatin1String(mainWindowIdentifier))
            target = m_mainWindow = makeMainWindow();
        else if (identifier == QLatin1String(settingsWindowIdentifier))
            target = m_settingsWindow = makeSettingsWindow();
        else if (identifier == QLatin1String(miniWindowIdentifier))
            target = m_miniWindow = makeMiniWindow();
        else
            return;
    }
    // Asked for, a window comes where it can be seen, wherever it was left.
    KavrelScreenFit::keepOnScreen(target);
    if (identifier == QLatin1String(mainWindowIdentifier) && m_dependencies.miniWindows)
        m_dependencies.miniWindows->noteMainWindowRevealed();
    // The mini window floats without taking the focus from the meeting.
    KavrelWindowFront::bringForward(target, identifier == QLatin1String(miniWindowIdentifier)
                                                ? KavrelWindowFront::Focus::leave
                                                : KavrelWindowFront::Focus::take);
}

void KavrelApp::launch(KavrelTrayItem &trayItem)
{
    // The installed icon; without it the windows keep the default one.
    const QIcon icon = QIcon::fromTheme(QStringLiteral("kavrel"));
    if (!icon.isNull())
        QApplication::setWindowIcon(icon);
    if (!trayItem.show()) {
        openWindow(QString::fromLatin1(mainWindowIdentifier));
        return;
    }
    // With a tray a signed-in user starts there. Whether anyone is signed in is known once the
    // saved session is restored; until then the window is made but kept off the screen, so it
    // neither flashes up for the signed-in nor leaves the first run without a window.
    m_mainWindow = makeMainWindow();
    KavrelScreenFit::keepOnScreen(m_mainWindow);
    m_launchPending = true;
    AuthSessionStore *store = m_dependencies.authStore;
    if (store && store->isRestoringSession()) {
        connect(store, &AuthSessionStore::isRestoringSessionChanged, this, &KavrelApp::finishLaunch,
                Qt::SingleShotConnection);
    } else {
        // The next turn: a link handed over with the launch is routed first.
        QTimer::singleShot(0, this, &KavrelApp::finishLaunch);
    }
}

void KavrelApp::finishLaunch()
{
    if (!std::exchange(m_launchPending, false) || !m_mainWindow)
        return;
    // A link or the tray's menu asked for the window meanwhile: it stays.
    if (m_mainWindow->isVisible())
        return;
    const bool signedIn = m_dependencies.authStore && m_dependencies.authStore->isAuthenticated();
    if (signedIn)
        m_mainWindow->close();
    else
        openWindow(QString::fromLatin1(mainWindowIdentifier)); // the sign-in screen
}

bool KavrelApp::hasVisibleWindows() const
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (KavrelMiniWindowCoordinator::isProgramWindow(widget) && widget->isVisible() && !KavrelWindowFront::isMinimized(widget))
            return true;
    }
    return false;
}

void KavrelApp::activate()
{
    for (QWidget *widget : {m_settingsWindow.data(), m_miniWindow.data(), m_mainWindow.data()}) {
        if (!widget || !widget->isVisible())
            continue;
        KavrelScreenFit::keepOnScreen(widget);
        KavrelWindowFront::bringForward(widget, widget == m_miniWindow ? KavrelWindowFront::Focus::leave
                                                                       : KavrelWindowFront::Focus::take);
    }
}

QWidget *KavrelApp::makeMainWindow()
{
    auto *window = new QWidget();
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setObjectName(QString::fromLatin1(mainWindowIdentifier));
    window->setWindowTitle(ApplicationInfo::displayName());
    window->resize(1240, 820);
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);

    KavrelRootView::Dependencies root;
    root.authStore = m_dependencies.authStore;
    root.defaults = m_dependencies.defaults;
    root.makeWorkspace = [this] { return makeWorkspaceShell(); };
    root.audioServer = m_dependencies.audioServer;
    layout->addWidget(new KavrelRootView(std::move(root), window));

    auto *settings = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma), window);
    connect(settings, &QShortcut::activated, this, [this] { openWindow(QString::fromLatin1(settingsWindowIdentifier)); });
    addQuitShortcut(window);
    window->installEventFilter(this);

    // The mini-window decisions live with the main window's content.
    auto *coordinator = new KavrelBackgroundCoordinator(*m_dependencies.session, *m_dependencies.presentation,
                                                        *m_dependencies.miniWindows, *m_dependencies.defaults,
                                                        windowOpener(), window);
    coordinator->setMeetingDetection(m_dependencies.meetingDetection, m_dependencies.starter);
    coordinator->start();
    m_backgroundCoordinator = coordinator;
    return window;
}

QWidget *KavrelApp::makeWorkspaceShell()
{
    KavrelWorkspaceShellView::Dependencies shell;
    shell.defaults = m_dependencies.defaults;
    shell.authStore = m_dependencies.authStore;
    shell.updateController = m_dependencies.updates;
    shell.avatarLoader = m_dependencies.avatarLoader;
    shell.openWindow = windowOpener();
    // The tray's menu holds Quit where there is one.
    if (!isTrayAvailable()) {
        QPointer<KavrelApp> self(this);
        shell.quit = [self] {
            if (self)
                self->quit();
        };
    }
    shell.makeWorkspace = [this] { return makeContentView(); };
    shell.makeHistory = [this] { return makeHistoryView(); };
    return new KavrelWorkspaceShellView(std::move(shell));
}

QWidget *KavrelApp::makeContentView()
{
    return new ContentView(*m_dependencies.viewModel, *m_dependencies.authStore, *m_dependencies.session,
                           *m_dependencies.starter, *m_dependencies.defaults);
}

QWidget *KavrelApp::makeHistoryView()
{
    auto *view = new KavrelHistoryView(m_dependencies.authService);
    // The meeting being recorded, and those waiting for the server, are not deleted from under
    // the engine.
    if (SubtitleViewModel *engine = m_dependencies.viewModel) {
        view->viewModel()->setMeetingsInUseReader([engine = QPointer<SubtitleViewModel>(engine)] {
            return engine ? MeetingsInUse::of(*engine) : MeetingsInUse();
        });
        // A summary made here for the meeting still being written stays with it.
        view->viewModel()->setSavedSummaryListener(
            [engine = QPointer<SubtitleViewModel>(engine)](const QString &sessionID, const QString &summary) {
                if (engine)
                    engine->keepSummarySavedFromHistory(sessionID, summary);
            });
    }
    return view;
}

QWidget *KavrelApp::makeSettingsWindow()
{
    if (!m_settingsModel) {
        QPointer<KavrelMiniWindowCoordinator> miniWindows(m_dependencies.miniWindows);
        m_settingsModel = std::make_unique<KavrelSettingsModel>(*m_dependencies.defaults, [miniWindows] {
            if (miniWindows)
                miniWindows->closeMiniWindow(true);
        });
    }
    KavrelUpdateController *updates = m_dependencies.updates;
    auto *window = new KavrelSettingsView(*m_settingsModel, [updates] {
        if (updates)
            updates->updaterController().checkForUpdates();
    });
    window->setAttribute(Qt::WA_DeleteOnClose);
    addQuitShortcut(window);
    window->installEventFilter(this);
    return window;
}

QWidget *KavrelApp::makeMiniWindow()
{
    auto open = windowOpener();
    auto *window = new KavrelListeningMiniWindow(*m_dependencies.session, *m_dependencies.presentation,
                                                 *m_dependencies.defaults,
                                                 [open] { open(QString::fromLatin1(mainWindowIdentifier)); });
    addQuitShortcut(window);
    return window;
}

void KavrelApp::addQuitShortcut(QWidget *window)
{
    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), window);
    connect(shortcut, &QShortcut::activated, this, &KavrelApp::quit);
}

void KavrelApp::quit()
{
    if (m_dependencies.quit)
        m_dependencies.quit();
    else
        QCoreApplication::quit();
}

bool KavrelApp::isTrayAvailable() const
{
    return m_dependencies.presentation && m_dependencies.presentation->isTrayAvailable();
}

bool KavrelApp::eventFilter(QObject *watched, QEvent *event)
{
    // With a tray the program lives on in it whatever the windows do.
    if (event->type() != QEvent::Close || isTrayAvailable() || !m_dependencies.presentation
        || m_dependencies.presentation->isQuitting())
        return QObject::eventFilter(watched, event);
    const bool listening = m_dependencies.session && m_dependencies.session->hasActiveSession();
    if (watched == m_mainWindow && listening && m_dependencies.miniWindows) {
        // Nothing else would show that the meeting is still being listened to, nor let it be
        // stopped: the main window is kept, hidden, and the mini window stands in for it.
        event->ignore();
        m_dependencies.miniWindows->hideMainWindowClosedWhileListening();
        if (m_backgroundCoordinator)
            m_backgroundCoordinator->synchronizeMiniWindowVisibility();
        return true;
    }
    // Once the window has gone (it may still refuse to).
    QTimer::singleShot(0, this, &KavrelApp::quitWhenNoWindowIsLeft);
    return QObject::eventFilter(watched, event);
}

void KavrelApp::quitWhenNoWindowIsLeft()
{
    if (isTrayAvailable() || !m_dependencies.presentation || m_dependencies.presentation->isQuitting())
        return;
    // While listening the main window comes back when the meeting ends.
    if (m_dependencies.session && m_dependencies.session->hasActiveSession())
        return;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (KavrelMiniWindowCoordinator::isProgramWindow(widget) && widget->isVisible())
            return;
    }
    quit();
}
