#include "services/KavrelUpdateController.h"
#include "services/KavrelVersion.h"
#include "support/FakeBackend.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

class tst_KavrelUpdateController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void versionOrder_data();
    void versionOrder();
    void withoutFeedTheUserLearnsUpdatesComeFromThePackage();
    void startupChecksOnceNowAndOnceLater();
    void publishedVersionFollowsTheFeed();
    void userCheckReportsEachOutcome_data();
    void userCheckReportsEachOutcome();
};

namespace {

const QString feedPath = QStringLiteral("/feed.json");

KavrelUpdateController::UpdaterFactory updaterOver(const FakeBackend &backend, QString version = QStringLiteral("1.4.0"))
{
    const QUrl feed = backend.baseUrl().resolved(QUrl(feedPath));
    return [feed, version](QObject *parent) { return new KavrelUpdater(feed, version, parent); };
}

FakeResponse feedWith(const QByteArray &json)
{
    return FakeResponse::json(200, json);
}

} // namespace

void tst_KavrelUpdateController::versionOrder_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order");
    QTest::newRow("equal") << "1.4.0" << "1.4.0" << 0;
    QTest::newRow("missing parts are zero") << "1.4" << "1.4.0" << 0;
    QTest::newRow("numbers, not text") << "1.10" << "1.9" << 1;
    QTest::newRow("older minor") << "1.3.9" << "1.4" << -1;
    QTest::newRow("pre-release is older") << "2.0.0-beta.1" << "2.0.0" << -1;
    QTest::newRow("pre-releases by text") << "2.0.0-rc.1" << "2.0.0-beta.2" << 1;
    QTest::newRow("leading v") << "v2.1" << "2.0.9" << 1;
    QTest::newRow("build metadata ignored") << "1.0.0+42" << "1.0.0" << 0;
    QTest::newRow("garbage part counts as zero") << "1.x" << "1.0" << 0;
}

void tst_KavrelUpdateController::versionOrder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    QCOMPARE(KavrelVersion::compare(a, b), order);
    QCOMPARE(KavrelVersion::compare(b, a), -order);
}

void tst_KavrelUpdateController::withoutFeedTheUserLearnsUpdatesComeFromThePackage()
{
    for (const std::optional<QUrl> &feed : {std::optional<QUrl>(), std::optional<QUrl>(QUrl(QStringLiteral("file:///tmp/feed.json")))}) {
        KavrelUpdateController controller([feed](QObject *parent) { return new KavrelUpdater(feed, QStringLiteral("1.0"), parent); });
        controller.setStartupRefreshDelay(1ms);
        controller.activate();
        KavrelUpdater &updater = controller.updaterController();
        QVERIFY(!updater.hasFeed());
        QVERIFY(!updater.canCheckForUpdates());

        QSignalSpy cycles(&updater, &KavrelUpdater::didFinishUpdateCycle);
        QSignalSpy answers(&updater, &KavrelUpdater::userCheckFinished);
        updater.checkForUpdates();
        QCOMPARE(answers.count(), 1);
        const auto result = answers.at(0).at(0).value<KavrelUserUpdateCheck>();
        QCOMPARE(result.outcome, KavrelUserUpdateCheck::Outcome::updatesComeFromPackage);
        QVERIFY(result.messageKey().contains(QStringLiteral("package manager")));
        QTest::qWait(20);
        QCOMPARE(cycles.count(), 0);
        QVERIFY(!controller.availableUpdateDisplayVersion());
    }
}

void tst_KavrelUpdateController::startupChecksOnceNowAndOnceLater()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.route("GET", feedPath, feedWith(R"({"version":"1.4.0"})"));
    KavrelUpdateController controller(updaterOver(backend));
    controller.setStartupRefreshDelay(50ms);
    controller.activate();
    controller.activate(); // a check already runs, and the later one is scheduled only once
    QVERIFY(FakeBackend::waitUntil([&] { return backend.requestCount(feedPath) == 2; }));
    QTest::qWait(200);
    QCOMPARE(backend.requestCount(feedPath), 2);
}

void tst_KavrelUpdateController::publishedVersionFollowsTheFeed()
{
    FakeBackend backend;
    QVERIFY(backend.start());
    KavrelUpdateController controller(updaterOver(backend));
    KavrelUpdater &updater = controller.updaterController();
    QSignalSpy changes(&controller, &KavrelUpdateController::availableUpdateDisplayVersionChanged);
    auto checkOnce = [&] {
        QSignalSpy cycles(&updater, &KavrelUpdater::didFinishUpdateCycle);
        QVERIFY(updater.canCheckForUpdates());
        updater.checkForUpdateInformation();
        QVERIFY(!updater.canCheckForUpdates());
        QVERIFY(cycles.wait());
    };

    backend.route("GET", feedPath, feedWith(R"({"version":"2.1.0","displayVersion":"2.1"})"));
    checkOnce();
    QCOMPARE(controller.availableUpdateDisplayVersion(), std::optional<QString>(QStringLiteral("2.1")));
    QCOMPARE(changes.count(), 1);

    backend.route("GET", feedPath, feedWith(R"({"version":"1.4"})"));
    checkOnce();
    QVERIFY(!controller.availableUpdateDisplayVersion());

    backend.route("GET", feedPath, feedWith(R"({"version":"2.1.0"})"));
    checkOnce();
    QCOMPARE(controller.availableUpdateDisplayVersion(), std::optional<QString>(QStringLiteral("2.1.0")));
    // A failed cycle clears what was offered.
    backend.route("GET", feedPath, FakeResponse::text(500, "broken"));
    checkOnce();
    QVERIFY(!controller.availableUpdateDisplayVersion());
    QCOMPARE(changes.count(), 4);
}

void tst_KavrelUpdateController::userCheckReportsEachOutcome_data()
{
    QTest::addColumn<QByteArray>("feed");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("argument");
    using Outcome = KavrelUserUpdateCheck::Outcome;
    QTest::newRow("newer") << QByteArray(R"j({"version":"1.5","displayVersion":"1.5 (spring)"})j") << int(Outcome::updateAvailable) << "1.5 (spring)";
    QTest::newRow("same") << QByteArray(R"({"version":"1.4.0"})") << int(Outcome::upToDate) << "1.4.0";
    QTest::newRow("older") << QByteArray(R"({"version":"1.3"})") << int(Outcome::upToDate) << "1.4.0";
    QTest::newRow("version missing") << QByteArray(R"({"displayVersion":"9"})") << int(Outcome::failed) << "";
    QTest::newRow("version not text") << QByteArray(R"({"version":2})") << int(Outcome::failed) << "";
    QTest::newRow("not json") << QByteArray("<rss/>") << int(Outcome::failed) << "";
}

void tst_KavrelUpdateController::userCheckReportsEachOutcome()
{
    QFETCH(QByteArray, feed);
    QFETCH(int, outcome);
    QFETCH(QString, argument);
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.route("GET", feedPath, feedWith(feed));
    KavrelUpdateController controller(updaterOver(backend));
    KavrelUpdater &updater = controller.updaterController();
    QSignalSpy answers(&updater, &KavrelUpdater::userCheckFinished);
    updater.checkForUpdates();
    QVERIFY(answers.wait());
    const auto result = answers.at(0).at(0).value<KavrelUserUpdateCheck>();
    QCOMPARE(int(result.outcome), outcome);
    if (outcome == int(KavrelUserUpdateCheck::Outcome::failed))
        QVERIFY(!result.messageArgument().isEmpty());
    else
        QCOMPARE(result.messageArgument(), argument);
}

QTEST_GUILESS_MAIN(tst_KavrelUpdateController)
#include "tst_KavrelUpdateController.moc"
