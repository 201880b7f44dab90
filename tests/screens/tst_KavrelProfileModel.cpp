#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "screens/KavrelProfileModel.h"
#include "services/KavrelBillingService.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QTest>

#include <memory>

namespace {

const QString summaryPath = QString::fromLatin1(FakeBillingBackend::summaryPath);
const QString mePath = QString::fromLatin1(FakeAuthBackend::mePath);

// The profile screen's model over the fake backend, signed in as the test user.
struct Profile
{
    FakeBackend backend;
    std::unique_ptr<FakeAuthBackend> auth;
    std::unique_ptr<FakeBillingBackend> billing;
    std::unique_ptr<AuthService> authService;
    std::unique_ptr<AuthSessionStore> store;
    std::unique_ptr<KavrelBillingService> billingService;
    std::unique_ptr<KavrelProfileModel> model;

    explicit Profile(bool signedIn = true)
    {
        backend.start();
        auth = std::make_unique<FakeAuthBackend>(&backend);
        billing = std::make_unique<FakeBillingBackend>(&backend);
        const AuthSession session = TestAuth::defaultSession();
        auth->addAccount(session.user.email, QStringLiteral("secret-password"), session.user.displayName, false);
        auth->registerSession(session);
        authService = TestAuth::signedInService(backend.baseUrl(), signedIn ? std::optional(session) : std::nullopt);
        store = std::make_unique<AuthSessionStore>(authService.get());
        QVERIFY(QTest::qWaitFor([this] { return !store->isRestoringSession(); }));
        billingService = std::make_unique<KavrelBillingService>(authService.get(), TestAuth::configurationFor(backend.baseUrl()));
        model = std::make_unique<KavrelProfileModel>(store.get(), billingService.get(), KavrelLocalizationStore::shared());
    }

    void pass() { QVERIFY(runTask(model->refreshProfileScreenData()).succeeded()); }

    QString stripText() const
    {
        const auto strip = model->syncStrip();
        return strip ? strip->text : QStringLiteral("(none)");
    }

    QString stripColor() const
    {
        const auto strip = model->syncStrip();
        return strip ? strip->tint.resolve(KavrelColorScheme::light).name() : QString();
    }

    void delayNextSummary(int milliseconds)
    {
        FakeResponse reply = FakeResponse::json(200, billing->summaryJson());
        billing->failNext(FakeBillingBackend::summaryPath, reply.withDelay(milliseconds));
    }
};

const QString blue = QColor::fromRgbF(0.17f, 0.54f, 0.95f).name();
const QString red = QColor::fromRgbF(0.84f, 0.33f, 0.30f).name();
const QString amber = QColor::fromRgbF(0.86f, 0.62f, 0.20f).name();
const QString green = QColor::fromRgbF(0.15f, 0.67f, 0.46f).name();

} // namespace

class tst_KavrelProfileModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void loadsProfileAndBilling();
    void billingServerErrorThenRetry();
    void failedLoadKeepsThePreviousSummary();
    void profileFailureWinsTheStrip();
    void passesDoNotOverlap();
    void cancelledPassWritesNothingAndFreesTheWay();
    void passOfAUserNoLongerSignedInIsDropped();
    void withoutSessionBillingAsksForSignIn();
};

void tst_KavrelProfileModel::initTestCase()
{
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
}

void tst_KavrelProfileModel::loadsProfileAndBilling()
{
    Profile profile;
    QCOMPARE(profile.stripText(), QStringLiteral("Account and billing data are up to date."));
    profile.auth->setProfileOverride({{QStringLiteral("display_name"), QStringLiteral("Ada King")}});

    profile.model->startRefresh();
    QVERIFY(profile.model->isRefreshingProfile());
    QCOMPARE(profile.stripText(), QStringLiteral("Syncing account and billing…"));
    QCOMPARE(profile.stripColor(), blue);
    QVERIFY(QTest::qWaitFor([&] { return !profile.model->isRefreshingProfile(); }));

    QVERIFY(profile.model->billingSummary());
    QCOMPARE(profile.model->billingSummary()->subscription.planName, QStringLiteral("Pro"));
    QVERIFY(!profile.model->profileRefreshErrorMessage());
    QVERIFY(!profile.model->billingRefreshErrorMessage());
    QCOMPARE(profile.store->currentUser()->displayName, QStringLiteral("Ada King"));
    QCOMPARE(profile.stripText(), QStringLiteral("Account and billing data are up to date."));
    QCOMPARE(profile.stripColor(), green);

    // The profile first, then the summary with the session's token.
    const QList<RecordedRequest> requests = profile.backend.requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests.at(0).path, mePath);
    QCOMPARE(requests.at(1).path, summaryPath);
    QCOMPARE(requests.at(1).header("Authorization"), QByteArrayLiteral("Bearer test-access-token"));
}

void tst_KavrelProfileModel::billingServerErrorThenRetry()
{
    Profile profile;
    profile.billing->failNext(FakeBillingBackend::summaryPath,
                              FakeBillingBackend::problem(503, QStringLiteral("Service Unavailable"), QStringLiteral("Try later")));
    profile.pass();
    QVERIFY(!profile.model->billingSummary());
    QCOMPARE(profile.model->billingRefreshErrorMessage(), QStringLiteral("Service Unavailable: Try later"));
    QCOMPARE(profile.stripText(),
             QStringLiteral("Account synced, but billing is unavailable right now: Service Unavailable: Try later"));
    QCOMPARE(profile.stripColor(), amber);

    // "Retry billing" runs the whole pass again, the profile included.
    profile.backend.clearRecords();
    profile.pass();
    QVERIFY(profile.model->billingSummary());
    QVERIFY(!profile.model->billingRefreshErrorMessage());
    QCOMPARE(profile.backend.requestCount(mePath), 1);
    QCOMPARE(profile.stripColor(), green);
}

void tst_KavrelProfileModel::failedLoadKeepsThePreviousSummary()
{
    Profile profile;
    profile.pass();
    const std::optional<KavrelBillingSummary> loaded = profile.model->billingSummary();
    QVERIFY(loaded);

    profile.billing->failNext(FakeBillingBackend::summaryPath, FakeResponse::text(500, QByteArray()));
    profile.pass();
    QCOMPARE(profile.model->billingSummary(), loaded);
    QCOMPARE(profile.model->billingRefreshErrorMessage(), QStringLiteral("Billing request failed with status 500."));
    QCOMPARE(profile.stripColor(), amber);

    // A body the client cannot read keeps it too.
    profile.billing->failNext(FakeBillingBackend::summaryPath, FakeResponse::json(200, QByteArrayLiteral("{\"usage\":1}")));
    profile.pass();
    QCOMPARE(profile.model->billingSummary(), loaded);
    QCOMPARE(profile.model->billingRefreshErrorMessage(),
             QStringLiteral("The billing backend returned a response КАВРЕЛ could not understand."));
}

void tst_KavrelProfileModel::profileFailureWinsTheStrip()
{
    Profile profile;
    profile.backend.route("GET", mePath, FakeAuthBackend::errorReply(500, QStringLiteral("message"), QStringLiteral("Profile store down")));
    profile.billing->failNext(FakeBillingBackend::summaryPath, FakeBillingBackend::problem(502, QStringLiteral("Bad Gateway"), std::nullopt));
    const AuthenticatedUser before = *profile.store->currentUser();
    profile.pass();
    QVERIFY(profile.model->profileRefreshErrorMessage());
    QCOMPARE(profile.stripText(), *profile.model->profileRefreshErrorMessage());
    QCOMPARE(profile.stripColor(), red);
    QCOMPARE(profile.model->billingRefreshErrorMessage(), QStringLiteral("Bad Gateway"));
    QCOMPARE(*profile.store->currentUser(), before);

    // The next pass with the profile back clears the red strip; billing still failing shows amber.
    FakeAuthBackend fresh(&profile.backend);
    fresh.addAccount(before.email, QStringLiteral("secret-password"), before.displayName, false);
    fresh.registerSession(TestAuth::defaultSession());
    profile.billing->failNext(FakeBillingBackend::summaryPath, FakeBillingBackend::problem(502, QStringLiteral("Bad Gateway"), std::nullopt));
    profile.pass();
    QVERIFY(!profile.model->profileRefreshErrorMessage());
    QCOMPARE(profile.stripColor(), amber);
}

void tst_KavrelProfileModel::passesDoNotOverlap()
{
    Profile profile;
    profile.delayNextSummary(300);
    profile.model->startRefresh();
    QVERIFY(profile.model->isRefreshingProfile());
    // A second press and a "Retry billing" while it runs do nothing.
    QVERIFY(runTask(profile.model->refreshProfileScreenData()).succeeded());
    profile.model->startRefresh();
    QVERIFY(QTest::qWaitFor([&] { return !profile.model->isRefreshingProfile(); }));
    QCOMPARE(profile.backend.requestCount(summaryPath), 1);
    QCOMPARE(profile.backend.requestCount(mePath), 1);
    QVERIFY(profile.model->billingSummary());
}

void tst_KavrelProfileModel::cancelledPassWritesNothingAndFreesTheWay()
{
    Profile profile;
    profile.delayNextSummary(400);
    profile.model->startRefresh();
    QVERIFY(QTest::qWaitFor([&] { return profile.backend.requestCount(summaryPath) == 1; }));

    profile.model->cancelRefresh();
    QVERIFY2(!profile.model->isRefreshingProfile(), "the guard is released at once");

    // A new pass runs at once and its outcome is the one kept.
    profile.billing->failNext(FakeBillingBackend::summaryPath, FakeBillingBackend::problem(500, QStringLiteral("Broken"), std::nullopt));
    profile.pass();
    QCOMPARE(profile.model->billingRefreshErrorMessage(), QStringLiteral("Broken"));
    QVERIFY(!profile.model->billingSummary());

    // The cancelled pass never writes its summary, even if its answer would still arrive.
    QTest::qWait(500);
    QVERIFY(!profile.model->billingSummary());
    QCOMPARE(profile.model->billingRefreshErrorMessage(), QStringLiteral("Broken"));
}

void tst_KavrelProfileModel::passOfAUserNoLongerSignedInIsDropped()
{
    Profile profile;
    profile.delayNextSummary(300);
    profile.model->startRefresh();
    QVERIFY(QTest::qWaitFor([&] { return profile.backend.requestCount(summaryPath) == 1; }));

    // Another account signs in while the pass waits for the first user's summary.
    AuthSession other = TestAuth::defaultSession();
    other.user.id = QStringLiteral("user-2");
    other.user.email = QStringLiteral("grace@example.com");
    profile.store->setSession(other);

    QVERIFY(QTest::qWaitFor([&] { return !profile.model->isRefreshingProfile(); }));
    QVERIFY(!profile.model->billingSummary());
    QVERIFY(!profile.model->billingRefreshErrorMessage());
    QVERIFY(!profile.model->profileRefreshErrorMessage());
}

void tst_KavrelProfileModel::withoutSessionBillingAsksForSignIn()
{
    Profile profile(false);
    QCOMPARE(profile.stripText(), QStringLiteral("(none)"));
    profile.pass();
    QCOMPARE(profile.model->billingRefreshErrorMessage(), QStringLiteral("Sign in to load billing data."));
    QVERIFY(profile.model->profileRefreshErrorMessage());
    QCOMPARE(profile.backend.requestCount(summaryPath), 0);
    QVERIFY(profile.stripColor() != green);
}

QTEST_GUILESS_MAIN(tst_KavrelProfileModel)
#include "tst_KavrelProfileModel.moc"
