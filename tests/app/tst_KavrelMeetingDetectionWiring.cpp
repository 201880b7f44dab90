// The shell wires meeting detection: its prompts stay away in background-only mode, and a
// prompt's Start Listening runs the shell's start, which leaves a hidden program hidden.

#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "session/KavrelListeningStarter.h"
#include "services/KavrelUpdateController.h"
#include "app/widgets/KavrelMiniWindowCoordinator.h"
#include "app/widgets/KavrelPresentationStore.h"
#include "app/widgets/KavrelTrayItem.h"
#include "detection/MeetingDetectionHarness.h"
#include "platform/UserDefaults.h"
#include "support/FakeBackend.h"
#include "support/FakeSessionSurface.h"
#include "support/TestAuth.h"

#include <QTemporaryDir>
#include <QTest>

using namespace MeetingDetectionTest;

class tst_KavrelMeetingDetectionWiring : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void trayWiresTheDetector();
};

void tst_KavrelMeetingDetectionWiring::trayWiresTheDetector()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    auto service = TestAuth::signedInService(backend.baseUrl());
    AuthSessionStore authStore(service.get());
    QTRY_VERIFY(!authStore.isRestoringSession());
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("prefs.ini")));
    FakeSessionSurface session;
    KavrelMiniWindowCoordinator windows([] { return std::optional<X11WindowListSnapshot>(); });
    KavrelPresentationStore presentation(windows, [] { return true; });
    KavrelListeningStarter starter(&authStore, &session);
    KavrelUpdateController updates([](QObject *parent) { return new KavrelUpdater(std::nullopt, QStringLiteral("1.0"), parent); });
    QStringList opened;
    KavrelTrayItem tray(session, authStore, presentation, starter, defaults, updates,
                        [&](const QString &identifier) { opened << identifier; });

    Harness h(nullptr);
    auto detectorSession = std::make_shared<FakeSession>();
    tray.setMeetingDetection({h.store.get(), detectorSession});
    tray.show(); // wires whether or not the desktop shows a tray
    QCOMPARE(h.store->viewModel(), detectorSession.get());

    presentation.enterBackgroundOnlyMode();
    h.poll(zoomWindow());
    QCOMPARE(h.shown(), Shown::nothing);

    presentation.restoreApplication([] {});
    opened.clear();
    h.advance(200);
    h.poll(zoomWindow());
    QCOMPARE(h.shown(), Shown::detected);
    h.click("startListeningButton");
    // The shell's start, not the view model's own: refresh, then start with the stored choice.
    QTRY_COMPARE(session.commands, QStringList{QStringLiteral("promptAndStartListening(false)")});
    QCOMPARE(detectorSession->starts, 0);
    QTRY_COMPARE(opened, QStringList{QStringLiteral("kavrel-main")});
}

QTEST_MAIN(tst_KavrelMeetingDetectionWiring)
#include "tst_KavrelMeetingDetectionWiring.moc"
