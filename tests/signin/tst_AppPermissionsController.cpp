#include "platform/PulseAudioContext.h"
#include "signin/AppPermissionsController.h"
#include "signin/PermissionsOnboardingContent.h"
#include "signin/PulseAudioMicrophoneAuthorization.h"
#include "support/FakeBackend.h"
#include "support/TaskResult.h"
#include "signin/ScriptedMicrophoneAuthorization.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

using Status = MicrophoneAuthorization::Status;
using State = AppPermissionsController::MicrophoneState;

} // namespace

class tst_AppPermissionsController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initialState_data()
    {
        QTest::addColumn<std::optional<Status>>("cached");
        QTest::addColumn<Status>("platform");
        QTest::addColumn<State>("atOnce");
        QTest::addColumn<State>("settled");

        QTest::newRow("known at once") << std::optional(Status::authorized) << Status::authorized << State::granted << State::granted;
        QTest::newRow("restricted") << std::optional(Status::restricted) << Status::restricted << State::denied << State::denied;
        QTest::newRow("read in the background, granted") << std::optional<Status>() << Status::authorized << State::notDetermined << State::granted;
        QTest::newRow("read in the background, denied") << std::optional<Status>() << Status::denied << State::notDetermined << State::denied;
    }

    void initialState()
    {
        QFETCH(std::optional<Status>, cached);
        QFETCH(Status, platform);
        QFETCH(State, atOnce);
        QFETCH(State, settled);
        auto authorization = std::make_shared<ScriptedAuthorization>();
        authorization->cached = cached;
        authorization->current = platform;
        authorization->holdReads = !cached;
        AppPermissionsController controller(authorization);
        QCOMPARE(controller.microphoneState(), atOnce);
        authorization->gate.open();
        QVERIFY(FakeBackend::waitUntil([&] { return controller.microphoneState() == settled; }));
        QCOMPARE(authorization->prompts, 0);
    }

    void request_data()
    {
        QTest::addColumn<Status>("before");
        QTest::addColumn<Status>("afterPrompt");
        QTest::addColumn<int>("prompts");
        QTest::addColumn<int>("settingsOpened");
        QTest::addColumn<State>("state");

        QTest::newRow("asked and allowed") << Status::notDetermined << Status::authorized << 1 << 0 << State::granted;
        QTest::newRow("asked and refused") << Status::notDetermined << Status::denied << 1 << 0 << State::denied;
        QTest::newRow("refused earlier") << Status::denied << Status::denied << 0 << 1 << State::denied;
        QTest::newRow("restricted") << Status::restricted << Status::denied << 0 << 1 << State::denied;
        QTest::newRow("already granted") << Status::authorized << Status::authorized << 0 << 0 << State::granted;
    }

    void request()
    {
        QFETCH(Status, before);
        QFETCH(Status, afterPrompt);
        QFETCH(int, prompts);
        QFETCH(int, settingsOpened);
        QFETCH(State, state);
        auto authorization = std::make_shared<ScriptedAuthorization>();
        authorization->current = before;
        authorization->afterPrompt = afterPrompt;
        AppPermissionsController controller(authorization);
        QSignalSpy requesting(&controller, &AppPermissionsController::isRequestingMicrophoneAccessChanged);

        runTask(controller.requestMicrophoneAccess());
        QCOMPARE(authorization->prompts, prompts);
        QCOMPARE(authorization->settingsOpened, settingsOpened);
        QCOMPARE(controller.microphoneState(), state);
        QVERIFY(!controller.isRequestingMicrophoneAccess());
        QCOMPARE(requesting.count(), 2); // on, then off
    }

    void tapsDuringThePromptDoNothing()
    {
        auto authorization = std::make_shared<ScriptedAuthorization>();
        authorization->holdPrompt = true;
        AppPermissionsController controller(authorization);
        QVERIFY(FakeBackend::waitUntil([&] { return authorization->prompts == 0 && !controller.isRequestingMicrophoneAccess(); }));

        QCoro::Task<void> first = controller.requestMicrophoneAccess();
        QVERIFY(FakeBackend::waitUntil([&] { return authorization->prompts == 1; }));
        QVERIFY(controller.isRequestingMicrophoneAccess());
        // The second call ends at once, with no second prompt.
        runTask(controller.requestMicrophoneAccess());
        QCOMPARE(authorization->prompts, 1);
        QVERIFY(controller.isRequestingMicrophoneAccess());

        authorization->gate.open();
        runTask(std::move(first));
        QVERIFY(!controller.isRequestingMicrophoneAccess());
        QCOMPARE(controller.microphoneState(), State::granted);
    }

    // Access granted in the sound settings shows on the next refresh, without a request;
    // an older read that answers late cannot undo a newer one.
    void refreshKeepsTheNewestRead()
    {
        auto authorization = std::make_shared<ScriptedAuthorization>();
        authorization->current = Status::denied;
        AppPermissionsController controller(authorization);
        QVERIFY(FakeBackend::waitUntil([&] { return controller.microphoneState() == State::denied; }));

        authorization->holdReads = true;
        controller.refreshMicrophoneState(); // reads "denied", answers late
        authorization->current = Status::authorized;
        controller.refreshMicrophoneState(); // reads "authorized"
        authorization->gate.open();
        QVERIFY(FakeBackend::waitUntil([&] { return controller.microphoneState() == State::granted; }));
        QCOMPARE(controller.microphoneState(), State::granted);
        QCOMPARE(authorization->prompts, 0);
    }

    void controllerGoneBeforeTheAnswer()
    {
        auto authorization = std::make_shared<ScriptedAuthorization>();
        authorization->holdPrompt = true;
        auto controller = std::make_unique<AppPermissionsController>(authorization);
        QCoro::Task<void> request = controller->requestMicrophoneAccess();
        QVERIFY(FakeBackend::waitUntil([&] { return authorization->prompts == 1; }));
        controller.reset();
        authorization->gate.open();
        runTask(std::move(request));
    }

    void onboardingContent_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("requesting");
        QTest::addColumn<int>("percent");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("footerNote");
        QTest::addColumn<bool>("stepComplete");

        QTest::newRow("not requested") << State::notDetermined << false << 75 << "Not requested" << "Allow access" << "mic.badge.plus" << true << true << false;
        QTest::newRow("prompt open") << State::notDetermined << true << 75 << "Not requested" << "Allow access" << "mic.badge.plus" << false << true << false;
        QTest::newRow("denied") << State::denied << false << 75 << "Needs attention" << "Open settings" << "gearshape" << true << true << false;
        QTest::newRow("granted") << State::granted << false << 100 << "Granted" << "Allowed" << "checkmark" << false << false << true;
    }

    void onboardingContent()
    {
        QFETCH(State, state);
        QFETCH(bool, requesting);
        QFETCH(int, percent);
        QFETCH(QString, status);
        QFETCH(QString, action);
        QFETCH(QString, icon);
        QFETCH(bool, enabled);
        QFETCH(bool, footerNote);
        QFETCH(bool, stepComplete);
        const PermissionsOnboardingContent content = PermissionsOnboardingContent::make(state, requesting);
        QCOMPARE(content.progressPercent, percent);
        QCOMPARE(content.progress, percent / 100.0);
        QCOMPARE(content.microphoneStatusTitle, status);
        QCOMPARE(content.microphoneActionTitle, action);
        QCOMPARE(content.microphoneActionIcon, icon);
        QCOMPARE(content.isActionEnabled, enabled);
        QCOMPARE(content.isActionInProgress, requesting);
        QCOMPARE(content.showsFooterNote, footerNote);
        QCOMPARE(content.isQuickPathComplete, stepComplete);
    }

    // The real layer: granted with the private audio server and its microphone, denied
    // when no server answers.
    void audioServer()
    {
        const QByteArray savedServer = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/kavrel/pulse/native");
        {
            auto context = std::make_shared<PulseAudioContext>(nullptr, PulseAudioContext::Timings{.connectTimeout = std::chrono::milliseconds(2000)});
            PulseAudioMicrophoneAuthorization authorization(context);
            QCOMPARE(runTask(authorization.status()).value, std::optional(Status::denied));
        }
        qputenv("PULSE_SERVER", savedServer);
        if (savedServer.isEmpty())
            qunsetenv("PULSE_SERVER");

        if (qEnvironmentVariableIsEmpty("KAVREL_TEST_PULSE"))
            QSKIP("No private audio server: run under scripts/test.");
        auto context = std::make_shared<PulseAudioContext>();
        PulseAudioMicrophoneAuthorization authorization(context);
        QCOMPARE(runTask(authorization.status()).value, std::optional(Status::authorized));
        QCOMPARE(authorization.cachedStatus(), std::optional(Status::authorized));
        AppPermissionsController controller(std::make_shared<PulseAudioMicrophoneAuthorization>(context));
        QCOMPARE(controller.microphoneState(), State::granted);
    }

    void soundSettings_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("started"); // program and arguments; empty: none

        const QStringList all{QStringLiteral("gnome-control-center"), QStringLiteral("systemsettings"), QStringLiteral("pavucontrol")};
        QTest::newRow("GNOME") << "ubuntu:GNOME" << all << "gnome-control-center sound";
        QTest::newRow("KDE") << "KDE" << all << "systemsettings kcm_pulseaudio";
        QTest::newRow("other desktop") << "XFCE" << all << "gnome-control-center sound";
        QTest::newRow("only the mixer") << "GNOME" << QStringList{QStringLiteral("pavucontrol")} << "pavucontrol";
        QTest::newRow("nothing installed") << "GNOME" << QStringList() << QString();
    }

    void soundSettings()
    {
        QFETCH(QString, desktop);
        QFETCH(QStringList, installed);
        QFETCH(QString, started);
        QTemporaryDir bin;
        const QString log = bin.filePath(QStringLiteral("started.log"));
        for (const QString &program : installed) {
            QFile script(bin.filePath(program));
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write(QStringLiteral("#!/bin/sh\necho \"${0##*/} $*\" >> '%1'\n").arg(log).toUtf8());
            script.close();
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QByteArray savedPath = qgetenv("PATH");
        const QByteArray savedDesktop = qgetenv("XDG_CURRENT_DESKTOP");
        qputenv("PATH", bin.path().toUtf8());
        qputenv("XDG_CURRENT_DESKTOP", desktop.toUtf8());
        PulseAudioMicrophoneAuthorization(nullptr).openSettings();
        qputenv("PATH", savedPath);
        qputenv("XDG_CURRENT_DESKTOP", savedDesktop);

        if (started.isEmpty()) {
            QVERIFY(!QFile::exists(log));
            return;
        }
        QVERIFY(FakeBackend::waitUntil([&] { return QFile::exists(log) && QFileInfo(log).size() > 0; }));
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()).trimmed(), started);
    }
};

QTEST_GUILESS_MAIN(tst_AppPermissionsController)
#include "tst_AppPermissionsController.moc"
