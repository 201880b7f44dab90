#include "localization/KavrelLocalizationStore.h"
#include "platform/UserDefaults.h"
#include "services/KavrelUpdateController.h"
#include "services/KavrelVersion.h"
#include "support/CompressedBody.h"
#include "support/FakeBackend.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

class tst_KavrelUpdateController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void versionOrder_data();
    void versionOrder();
    void versionReadability_data();
    void versionReadability();
    void withoutFeedTheUserLearnsUpdatesComeFromThePackage();
    void startupChecksOnceNowAndOnceLater_data();
    void startupChecksOnceNowAndOnceLater();
    void publishedVersionFollowsTheFeed();
    void userCheckReportsEachOutcome_data();
    void userCheckReportsEachOutcome();
    void userRequestsJoinTheCheckThatRuns_data();
    void userRequestsJoinTheCheckThatRuns();
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

// The message of the box that answers the user, in Russian.
QString shownInRussian(const KavrelUserUpdateCheck &result)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("preferences.ini")));
    KavrelLocalizationStore store(defaults);
    store.setLanguage(KavrelAppLanguage::russian);
    return store.localizedFormat(result.messageKey(), QStringList{store.localizedMessage(result.messageArgument())});
}

// A Latin word: what an English word left in a Russian text looks like.
QRegularExpression latinWord()
{
    return QRegularExpression(QStringLiteral("[A-Za-z]{2,}"));
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
    QTest::newRow("eighteen digits") << "999999999999999999.0" << "999999999999999998.9" << 1;
}

void tst_KavrelUpdateController::versionOrder()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    QCOMPARE(KavrelVersion::compare(a, b), order);
    QCOMPARE(KavrelVersion::compare(b, a), -order);
}

void tst_KavrelUpdateController::versionReadability_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("readable");
    QTest::newRow("numbers") << "1.4.2" << true;
    QTest::newRow("one number") << "7" << true;
    QTest::newRow("leading v") << "v2.0" << true;
    QTest::newRow("pre-release and build") << "2.0.0-rc.1+build-7" << true;
    QTest::newRow("leading zeros") << "01.004" << true;
    QTest::newRow("too large to hold") << "99999999999999999999999.0" << false;
    QTest::newRow("not a number") << "1.x" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("empty part") << "1..2" << false;
    QTest::newRow("trailing dot") << "1.2." << false;
    QTest::newRow("sign") << "+1.0" << false;
    QTest::newRow("words") << "latest" << false;
    QTest::newRow("blank inside") << "1. 2" << false;
    QTest::newRow("empty pre-release") << "1.0-" << false;
    QTest::newRow("pre-release with a space") << "1.0-beta 2" << false;
    QTest::newRow("other digits") << QString::fromUtf8("\u0661.\u0662") << false;
}

void tst_KavrelUpdateController::versionReadability()
{
    QFETCH(QString, text);
    QFETCH(bool, readable);
    QCOMPARE(KavrelVersion::isReadable(text), readable);
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

// The later check is made even when the first one is still running by then (a slow feed).
void tst_KavrelUpdateController::startupChecksOnceNowAndOnceLater_data()
{
    QTest::addColumn<int>("answerMilliseconds");
    QTest::newRow("answered at once") << 0;
    QTest::newRow("answered after the later check was due") << 300;
}

void tst_KavrelUpdateController::startupChecksOnceNowAndOnceLater()
{
    QFETCH(int, answerMilliseconds);
    FakeBackend backend;
    QVERIFY(backend.start());
    backend.route("GET", feedPath, feedWith(R"({"version":"1.4.0"})").withDelay(answerMilliseconds));
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
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("feed");
    QTest::addColumn<QByteArray>("coding"); // Content-Encoding, when the feed is sent compressed
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("argument");
    using Outcome = KavrelUserUpdateCheck::Outcome;
    // What the feed names stands in the answer as it is (here in Cyrillic, so that any Latin
    // word left in a shown text is ours).
    QTest::newRow("newer") << 200 << QByteArray(R"j({"version":"1.5","displayVersion":"1.5 (весна)"})j") << QByteArray()
                           << int(Outcome::updateAvailable) << QStringLiteral("1.5 (весна)");
    QTest::newRow("same") << 200 << QByteArray(R"({"version":"1.4.0"})") << QByteArray() << int(Outcome::upToDate) << "1.4.0";
    QTest::newRow("older") << 200 << QByteArray(R"({"version":"1.3"})") << QByteArray() << int(Outcome::upToDate) << "1.4.0";
    QTest::newRow("newer, compressed") << 200 << CompressedBody::gzip(R"({"version":"2.0"})") << QByteArray("gzip")
                                       << int(Outcome::updateAvailable) << "2.0";
    // A version that cannot be read is not older than this one.
    QTest::newRow("version too large to hold")
        << 200 << QByteArray(R"({"version":"99999999999999999999999.0"})") << QByteArray() << int(Outcome::failed)
        << "The update feed names a version that cannot be read.";
    QTest::newRow("version not a number") << 200 << QByteArray(R"({"version":"1.x"})") << QByteArray()
                                          << int(Outcome::failed) << "The update feed names a version that cannot be read.";
    QTest::newRow("version empty") << 200 << QByteArray(R"({"version":"  "})") << QByteArray() << int(Outcome::failed)
                                   << "The update feed could not be read.";
    QTest::newRow("version missing") << 200 << QByteArray(R"({"displayVersion":"9"})") << QByteArray()
                                     << int(Outcome::failed) << "The update feed could not be read.";
    QTest::newRow("version not text") << 200 << QByteArray(R"({"version":2})") << QByteArray() << int(Outcome::failed)
                                      << "The update feed could not be read.";
    QTest::newRow("not json") << 200 << QByteArray("<rss/>") << QByteArray() << int(Outcome::failed)
                              << "The update feed could not be read.";
    QTest::newRow("json cut short") << 200 << QByteArray(R"({"version":"1.5)") << QByteArray() << int(Outcome::failed)
                                    << "The update feed could not be read.";
    QTest::newRow("refused") << 503 << QByteArray("busy") << QByteArray() << int(Outcome::failed)
                             << "The update feed answered with status 503.";
    QTest::newRow("compressed body that does not decompress")
        << 200 << QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03not-deflate-data", 24) << QByteArray("gzip")
        << int(Outcome::failed) << "A network error occurred.";
}

void tst_KavrelUpdateController::userCheckReportsEachOutcome()
{
    QFETCH(int, status);
    QFETCH(QByteArray, feed);
    QFETCH(QByteArray, coding);
    QFETCH(int, outcome);
    QFETCH(QString, argument);
    FakeBackend backend;
    QVERIFY(backend.start());
    FakeResponse response = FakeResponse::text(status, feed, "application/json");
    if (!coding.isEmpty())
        response.withHeader("Content-Encoding", coding);
    backend.route("GET", feedPath, response);
    KavrelUpdateController controller(updaterOver(backend));
    KavrelUpdater &updater = controller.updaterController();
    QSignalSpy answers(&updater, &KavrelUpdater::userCheckFinished);
    updater.checkForUpdates();
    QVERIFY(answers.wait());
    const auto result = answers.at(0).at(0).value<KavrelUserUpdateCheck>();
    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(result.messageArgument(), argument);
    const QString shown = shownInRussian(result);
    QVERIFY2(!shown.contains(latinWord()), qPrintable(shown));
}

// A feed that answers late, or never, while the start-up check waits for it: the user's
// requests, three in a row, each show at once that a check is under way, and all of them
// get the one answer of that check, when it comes; nothing else is asked of the feed.
void tst_KavrelUpdateController::userRequestsJoinTheCheckThatRuns_data()
{
    QTest::addColumn<bool>("hangs");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("shown");
    QTest::newRow("slow feed") << false << int(KavrelUserUpdateCheck::Outcome::updateAvailable)
                               << QStringLiteral("Доступна версия КАВРЕЛ 1.5. Обновите её через менеджер пакетов системы.");
    QTest::newRow("feed that never answers") << true << int(KavrelUserUpdateCheck::Outcome::failed)
                                             << QStringLiteral("Не удалось проверить обновления: Время ожидания запроса истекло.");
}

void tst_KavrelUpdateController::userRequestsJoinTheCheckThatRuns()
{
    QFETCH(bool, hangs);
    QFETCH(int, outcome);
    QFETCH(QString, shown);
    FakeBackend backend;
    QVERIFY(backend.start());
    const FakeResponse answer = FakeResponse::json(200, QByteArray(R"({"version":"1.5"})"));
    backend.route("GET", feedPath, hangs ? FakeResponse::hang() : FakeResponse(answer).withDelay(400));
    KavrelUpdateController controller(updaterOver(backend));
    KavrelUpdater &updater = controller.updaterController();
    updater.setTimeout(1000ms);
    QSignalSpy started(&updater, &KavrelUpdater::userCheckStarted);
    QSignalSpy answers(&updater, &KavrelUpdater::userCheckFinished);
    QSignalSpy cycles(&updater, &KavrelUpdater::didFinishUpdateCycle);
    // A background check runs, as the one at start-up does.
    updater.checkForUpdateInformation();
    QVERIFY(FakeBackend::waitUntil([&] { return backend.requestCount(feedPath) == 1; }));
    for (int request = 1; request <= 3; ++request) {
        updater.checkForUpdates();
        QCOMPARE(started.count(), request);
        QTest::qWait(20);
    }
    QCOMPARE(answers.count(), 0);
    QVERIFY(answers.wait(5000));
    // Longer than another check would take.
    QTest::qWait(600);
    QCOMPARE(answers.count(), 1);
    QCOMPARE(cycles.count(), 1);
    QCOMPARE(backend.requestCount(feedPath), 1);
    const auto result = answers.at(0).at(0).value<KavrelUserUpdateCheck>();
    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(shownInRussian(result), shown);

    // Once answered, the next request is a check of its own.
    backend.route("GET", feedPath, answer);
    updater.checkForUpdates();
    QCOMPARE(started.count(), 4);
    QVERIFY(answers.wait());
    QCOMPARE(answers.count(), 2);
    QCOMPARE(backend.requestCount(feedPath), 2);
}

QTEST_GUILESS_MAIN(tst_KavrelUpdateController)
#include "tst_KavrelUpdateController.moc"
