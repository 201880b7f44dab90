// Where the desktop shows no tray, the program keeps its windows: the tray item stays hidden
// and nothing can hide every window while listening goes on.

#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "session/KavrelListeningStarter.h"
#include "services/KavrelUpdateController.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "app/widgets/KavrelListeningMiniView.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "app/widgets/KavrelTrayItem.h"
#include "platform/UserDefaults.h"
#include "support/FakeBackend.h"
#include "support/FakeSessionSurface.h"
#include "support/TestAuth.h"

#include <QTemporaryDir>
#include <QTest>

class tst_KavrelTrayFallback : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void withoutATrayHostNothingHidesEveryWindow();
};

void tst_KavrelTrayFallback::withoutATrayHostNothingHidesEveryWindow()
{
    QVERIFY(!KavrelTrayItem::isAvailable());
    FakeBackend backend;
    QVERIFY(backend.start());
    auto service = TestAuth::signedInService(backend.baseUrl());
    AuthSessionStore authStore(service.get());
    QTRY_VERIFY(!authStore.isRestoringSession());
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    FakeSessionSurface session;
    session.state.hasActiveSession = true;
    KavrelMiniWindowCoordinator windows([] { return std::optional<X11WindowListSnapshot>(); });
    KavrelPresentationStore presentation(windows, &KavrelTrayItem::isAvailable);
    KavrelListeningStarter starter(&authStore, &session);
    KavrelUpdateController updates([](QObject *parent) { return new KavrelUpdater(std::nullopt, QStringLiteral("1.0"), parent); });
    KavrelTrayItem tray(session, authStore, presentation, starter, defaults, updates, [](const QString &) {});
    QVERIFY(!tray.show());
    QVERIFY(!tray.trayIcon().isVisible());

    QWidget mainWindow;
    mainWindow.setWindowTitle(QStringLiteral("КАВРЕЛ"));
    mainWindow.show();
    KavrelListeningMiniView view(session, presentation, defaults, [] {});
    view.show();
    QVERIFY(!view.hideCompletelyButton()->isEnabled());
    presentation.enterBackgroundOnlyMode();
    QVERIFY(!presentation.isBackgroundOnly());
    QVERIFY(mainWindow.isVisible());
    QVERIFY(view.isVisible());
}

QTEST_MAIN(tst_KavrelTrayFallback)
#include "tst_KavrelTrayFallback.moc"
