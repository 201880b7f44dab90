#include "accounts/AuthService.h"
#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "app/widgets/KavrelAppearanceController.h"
#include "kit/widgets/KavrelCrossFade.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "kit/widgets/KavrelSymbols.h"
#include "signin/AppPermissionsController.h"
#include "signin/EmailAuthFlowController.h"
#include "signin/ScriptedMicrophoneAuthorization.h"
#include "signin/widgets/AuthInputFrame.h"
#include "signin/widgets/AuthMessageStrip.h"
#include "signin/widgets/AuthPasswordInput.h"
#include "signin/widgets/AuthTextInput.h"
#include "signin/widgets/AuthenticationLoadingView.h"
#include "signin/widgets/AuthenticationView.h"
#include "signin/widgets/PermissionAccessCard.h"
#include "signin/widgets/PermissionActionButton.h"
#include "signin/widgets/PermissionsOnboardingView.h"
#include "signin/widgets/SetupProgressBadge.h"
#include "signin/widgets/SetupReadinessMeter.h"
#include "signin/widgets/SetupStatusBadge.h"
#include "kit/widgets/KavrelIconButton.h"
#include "session/SignedInAccountFollower.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/ScreenFitCheck.h"
#include "support/Screenshots.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QBuffer>
#include <QCheckBox>
#include <QApplication>
#include <QImage>
#include <QJsonObject>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

namespace {

using Kind = EmailAuthFlow::Kind;

// A picture that looks like an authenticator's QR code, as a data URL.
QString qrLikeDataURL()
{
    QImage code(29, 29, QImage::Format_RGB32);
    code.fill(Qt::white);
    for (int y = 0; y < 29; ++y) {
        for (int x = 0; x < 29; ++x) {
            const bool finder = (x < 7 && y < 7) || (x > 21 && y < 7) || (x < 7 && y > 21);
            const bool finderDark = finder && (x % 22 == 0 || x % 22 == 6 || y % 22 == 0 || y % 22 == 6
                                               || ((x % 22) >= 2 && (x % 22) <= 4 && (y % 22) >= 2 && (y % 22) <= 4));
            const bool data = !finder && ((x * 7 + y * 13 + x * y) % 5 < 2);
            if (finderDark || data)
                code.setPixel(x, y, qRgb(0, 0, 0));
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    code.save(&buffer, "PNG");
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
}

void waitFor(const std::function<bool()> &predicate)
{
    QVERIFY(FakeBackend::waitUntil(predicate));
}

template<typename T>
T *child(QWidget *parent, const QString &name)
{
    T *found = parent->findChild<T *>(name);
    if (!found)
        qWarning() << "no child named" << name;
    return found;
}

} // namespace

class tst_SignInScreens : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeAuthBackend> m_auth;
    std::unique_ptr<AuthService> m_service;
    std::unique_ptr<AuthSessionStore> m_store;

    static void prepare(QWidget *screen, const Screenshots::Variant &variant, QSize size)
    {
        Screenshots::apply(screen, variant);
        ScreenFitCheck::resizeWindow(screen, size);
        screen->show();
        QCoreApplication::processEvents();
    }

    // Every step of the sign-in screen, driven through the controller with real answers.
    void writeSignInSteps(const Screenshots::Variant &variant)
    {
        KavrelLocalizationStore::shared().setLanguage(variant.language);
        AuthenticationView view(m_store.get());
        prepare(&view, variant, QSize(1000, 780));
        EmailAuthFlowController *flow = view.flow();

        flow->setEmail(QStringLiteral("ada@example"));
        flow->setPassword(QStringLiteral("secret"));
        QTest::mouseClick(child<QAbstractButton>(&view, QStringLiteral("Sign in with email")), Qt::LeftButton);
        Screenshots::write(&view, QStringLiteral("signin"), variant);

        flow->switchEmailMode();
        flow->setName(QStringLiteral("Ada Lovelace"));
        flow->setEmail(QStringLiteral("ada-%1@example.com").arg(variant.suffix));
        // The address selected, as for a copy or a correction.
        const QList<QLineEdit *> fields = view.findChildren<QLineEdit *>();
        const auto email = std::find_if(fields.begin(), fields.end(), [](QLineEdit *f) { return f->text().contains(u'@'); });
        QVERIFY(email != fields.end());
        (*email)->selectAll();
        Screenshots::write(&view, QStringLiteral("signin-register"), variant);

        flow->startRegistration();
        waitFor([&] { return flow->emailFlow().kind == Kind::verifyRegistration; });
        flow->setEmailCode(QString::fromLatin1(FakeAuthBackend::emailCode));
        Screenshots::write(&view, QStringLiteral("signin-verify"), variant);

        flow->verifyRegistrationCode(*flow->emailFlow().challenge);
        waitFor([&] { return flow->emailFlow().kind == Kind::completeRegistration; });
        flow->setPassword(QStringLiteral("Bright7$x"));
        flow->setConfirmPassword(QStringLiteral("Bright7$x"));
        flow->setWantsTotpDuringRegistration(true);
        Screenshots::write(&view, QStringLiteral("signin-password"), variant);

        flow->continueRegistration(*flow->emailFlow().verification);
        waitFor([&] { return flow->emailFlow().kind == Kind::registrationTotp; });
        flow->setMfaCode(QStringLiteral("480"));
        Screenshots::write(&view, QStringLiteral("signin-authenticator"), variant);

        // A login with a second factor, while its request runs.
        flow->switchEmailMode();
        flow->switchEmailMode();
        flow->setEmail(QStringLiteral("grace@example.com"));
        flow->setPassword(QStringLiteral("Bright7$x"));
        flow->loginWithEmail();
        waitFor([&] { return flow->emailFlow().kind == Kind::loginMfa; });
        m_store->setIsAuthenticating(true);
        m_store->setActiveAuthenticationProvider(AuthenticationProvider::email);
        Screenshots::write(&view, QStringLiteral("signin-second-factor"), variant);
        m_store->setIsAuthenticating(false);
        m_store->setActiveAuthenticationProvider(std::nullopt);
    }

    void writeOnboarding(const Screenshots::Variant &variant, MicrophoneAuthorization::Status status, const QString &name)
    {
        KavrelLocalizationStore::shared().setLanguage(variant.language);
        auto authorization = std::make_shared<ScriptedAuthorization>();
        authorization->cached = status;
        PermissionsOnboardingView view(std::make_unique<AppPermissionsController>(authorization), [] {});
        prepare(&view, variant, QSize(1180, 800));
        Screenshots::write(&view, name, variant);
    }

private Q_SLOTS:
    void initTestCase()
    {
        KavrelSymbols::setUsesIconTheme(false);
        KavrelLocalizationStore::shared().installBundleOverride();
    }

    void init()
    {
        KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
        m_backend = std::make_unique<FakeBackend>();
        QVERIFY(m_backend->start());
        m_auth = std::make_unique<FakeAuthBackend>(m_backend.get());
        m_auth->addAccount(QStringLiteral("grace@example.com"), QStringLiteral("Bright7$x"), QStringLiteral("Grace"), true);
        m_service = TestAuth::signedInService(m_backend->baseUrl(), std::nullopt);
        m_store = std::make_unique<AuthSessionStore>(m_service.get());
        runTask(m_store->restored());
    }

    void cleanup()
    {
        m_store.reset();
        m_service.reset();
        m_auth.reset();
        m_backend.reset();
    }

    void screenshots()
    {
        m_backend->route("POST", QString::fromLatin1(FakeAuthBackend::totpSetupPath), [](const RecordedRequest &) {
            QJsonObject reply;
            reply.insert(QStringLiteral("setupId"), QStringLiteral("setup-1"));
            reply.insert(QStringLiteral("otpauthUri"), QStringLiteral("otpauth://totp/Kavrel?secret=JBSWY3DPEHPK3PXP"));
            reply.insert(QStringLiteral("secret"), QStringLiteral("JBSWY3DPEHPK3PXP"));
            reply.insert(QStringLiteral("qrCodeDataUrl"), qrLikeDataURL());
            reply.insert(QStringLiteral("expiresIn"), 600);
            reply.insert(QStringLiteral("expiresAt"), FakeAuthBackend::isoDate(QDateTime::currentDateTimeUtc().addSecs(600)));
            return FakeResponse::json(200, reply);
        });
        for (const Screenshots::Variant &variant : Screenshots::variants()) {
            KavrelLocalizationStore::shared().setLanguage(variant.language);
            AuthenticationLoadingView loading;
            prepare(&loading, variant, QSize(880, 620));
            Screenshots::write(&loading, QStringLiteral("loading"), variant);
            writeSignInSteps(variant);
            writeOnboarding(variant, MicrophoneAuthorization::Status::denied, QStringLiteral("onboarding"));
            writeOnboarding(variant, MicrophoneAuthorization::Status::authorized, QStringLiteral("onboarding-granted"));
        }
    }

    void cardWidth_data()
    {
        QTest::addColumn<qreal>("container");
        QTest::addColumn<qreal>("card");
        QTest::newRow("minimum window") << 880.0 << 563.2;
        QTest::newRow("wider") << 1000.0 << 640.0;
        QTest::newRow("capped") << 1200.0 << 660.0;
        QTest::newRow("narrow") << 700.0 << 540.0;
    }

    void cardWidth()
    {
        QFETCH(qreal, container);
        QFETCH(qreal, card);
        QCOMPARE(AuthenticationView::cardWidth(container), card);
        AuthenticationView view(m_store.get());
        view.resize(int(container), 760);
        view.show();
        QCoreApplication::processEvents();
        // The screen never gets narrower than 880 (where the screen has the room), so neither
        // does the card get below 563.
        const int screenWidth = view.screen()->availableGeometry().width();
        QVERIFY(screenWidth >= 880 ? view.minimumWidth() == 880 : view.minimumWidth() <= screenWidth);
        QVERIFY(view.width() >= view.minimumWidth());
        QCOMPARE(view.card()->width(), int(std::lround(AuthenticationView::cardWidth(view.width()))));
    }

    // Which title, switch and buttons each step shows, and that the header never changes.
    void stepControls()
    {
        AuthenticationView view(m_store.get());
        view.resize(1000, 760);
        view.show();
        EmailAuthFlowController *flow = view.flow();
        QVERIFY(child<QAbstractButton>(&view, QStringLiteral("Create account")));
        QVERIFY(!view.findChild<QAbstractButton *>(QStringLiteral("Have an account?")));
        QTest::mouseClick(child<QAbstractButton>(&view, QStringLiteral("Create account")), Qt::LeftButton);
        QCOMPARE(flow->emailFlow().kind, Kind::registerAccount);
        QVERIFY(child<QAbstractButton>(&view, QStringLiteral("Have an account?")));

        QTest::keyClicks(child<AuthTextInput>(&view, QStringLiteral("Name"))->lineEdit(), QStringLiteral("Ada"));
        QTest::keyClicks(child<AuthTextInput>(&view, QStringLiteral("Email"))->lineEdit(), QStringLiteral("ada@exmaple.com"));
        QTest::mouseClick(child<QAbstractButton>(&view, QStringLiteral("Send verification code")), Qt::LeftButton);
        waitFor([&] { return flow->emailFlow().kind == Kind::verifyRegistration; });
        // The mode switch is gone; the code step names the address it wrote to.
        QVERIFY(!view.findChild<QAbstractButton *>(QStringLiteral("Have an account?")));
        QVERIFY(!view.findChild<QAbstractButton *>(QStringLiteral("Create account")));
        const QList<AuthMessageStrip *> strips = view.findChildren<AuthMessageStrip *>();
        const bool namesMaskedAddress = std::any_of(strips.begin(), strips.end(), [&](AuthMessageStrip *strip) {
            return strip->isVisibleTo(&view) && strip->text().contains(flow->emailFlow().challenge->maskedEmail);
        });
        QVERIFY(namesMaskedAddress);
    }

    void controlsWhileSigningIn_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<bool>("cancelLink");
        QTest::newRow("e-mail") << int(AuthenticationProvider::email) << false;
        QTest::newRow("google") << int(AuthenticationProvider::google) << true;
    }

    void controlsWhileSigningIn()
    {
        QFETCH(int, provider);
        QFETCH(bool, cancelLink);
        AuthenticationView view(m_store.get());
        view.resize(1000, 760);
        view.show();
        m_store->setIsAuthenticating(true);
        m_store->setActiveAuthenticationProvider(AuthenticationProvider(provider));
        QVERIFY(!child<QAbstractButton>(&view, QStringLiteral("Sign in with email"))->isEnabled());
        QVERIFY(!child<QAbstractButton>(&view, QStringLiteral("Create account"))->isEnabled());
        QVERIFY(child<AuthTextInput>(&view, QStringLiteral("Email"))->lineEdit()->isEnabled());
        QVERIFY(child<AuthMessageStrip>(&view, QStringLiteral("progressStrip"))->isVisibleTo(&view));
        auto *cancel = child<QAbstractButton>(&view, QStringLiteral("cancelSignIn"));
        QCOMPARE(cancel->isVisibleTo(&view), cancelLink);
        if (!cancelLink)
            return;
        QVERIFY(cancel->isEnabled());
        // Pressed from the keyboard, it leaves the keyboard on a field, never on a button that
        // would start the sign-in again.
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        cancel->setFocus(Qt::TabFocusReason);
        QVERIFY(FakeBackend::waitUntil([&] { return cancel->hasFocus(); }));
        QTest::keyClick(cancel, Qt::Key_Space);
        QVERIFY(!m_store->isAuthenticating());
        QVERIFY(qobject_cast<QLineEdit *>(QApplication::focusWidget()));
        QVERIFY(view.isAncestorOf(QApplication::focusWidget()));
        QVERIFY(child<QAbstractButton>(&view, QStringLiteral("Sign in with email"))->isEnabled());
        auto *error = child<AuthMessageStrip>(&view, QStringLiteral("errorStrip"));
        QVERIFY(error->isVisibleTo(&view));
        QCOMPARE(error->text(), QStringLiteral("Sign-in was canceled."));
    }

    void signOutNoticeBesideTheError_data()
    {
        QTest::addColumn<bool>("beforeTheScreen");
        QTest::newRow("told before the screen is made") << true;
        QTest::newRow("told while it shows") << false;
    }

    // A sign-out that stopped the listening is told on the sign-in screen beside the error, in
    // the interface language, until someone signs in.
    void signOutNoticeBesideTheError()
    {
        QFETCH(bool, beforeTheScreen);
        KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);
        const QString notice = QString::fromUtf8(SignedInAccountFollower::listeningStoppedNotice);
        m_store->setErrorMessage(QStringLiteral("Срок входа истёк. Войдите снова, чтобы продолжить."));
        if (beforeTheScreen)
            m_store->setSignOutNotice(notice);
        AuthenticationView view(m_store.get());
        view.resize(1000, 760);
        view.show();
        auto *strip = child<AuthMessageStrip>(&view, QStringLiteral("noticeStrip"));
        QCOMPARE(strip->isVisibleTo(&view), beforeTheScreen);
        if (!beforeTheScreen)
            m_store->setSignOutNotice(notice);
        QVERIFY(strip->isVisibleTo(&view));
        QVERIFY2(strip->text().startsWith(QStringLiteral("Прослушивание остановлено")), qPrintable(strip->text()));
        QVERIFY(child<AuthMessageStrip>(&view, QStringLiteral("errorStrip"))->isVisibleTo(&view));

        m_store->setSession(TestAuth::defaultSession());
        QVERIFY(!m_store->signOutNotice());
        QVERIFY(!strip->isVisibleTo(&view));
        KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::english);
    }

    // The card's shadow reaches below it, past what Qt repaints when the card changes height:
    // after each change the screen as shown, not a fresh render, must hold no trace of the
    // shadow's earlier place.
    void cardShadowFollowsTheCardsHeight()
    {
        AuthenticationView view(m_store.get());
        view.resize(1000, 760);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        EmailAuthFlowController *flow = view.flow();
        const auto shownMatchesAFreshRender = [&] {
            for (int round = 0; round < 5; ++round)
                QCoreApplication::processEvents();
            const QImage shown = view.screen()->grabWindow(view.winId()).toImage().convertToFormat(QImage::Format_RGB32);
            const QImage fresh = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
            // Below the card, as far down as the shadow of a taller card would reach.
            const QRect card = view.card()->geometry();
            const QRect below = QRect(card.left() - 40, card.bottom() + 1, card.width() + 80, 160) & view.rect();
            return shown.copy(below) == fresh.copy(below);
        };
        QVERIFY(shownMatchesAFreshRender());
        const int shortHeight = view.card()->height();

        flow->setEmail(QStringLiteral("grace@example.com"));
        flow->setPassword(QStringLiteral("wrong password"));
        flow->loginWithEmail();
        waitFor([&] { return child<AuthMessageStrip>(&view, QStringLiteral("errorStrip"))->isVisibleTo(&view); });
        QVERIFY(shownMatchesAFreshRender());
        QVERIFY(view.card()->height() > shortHeight);

        // On to the next steps: the message goes, the card gets shorter again.
        flow->switchEmailMode();
        QVERIFY(shownMatchesAFreshRender());
        flow->switchEmailMode();
        QVERIFY(shownMatchesAFreshRender());
        QCOMPARE(view.card()->height(), shortHeight);
    }

    void passwordVisibility()
    {
        AuthPasswordInput input(QStringLiteral("Password"));
        input.show();
        QTest::keyClicks(input.lineEdit(), QStringLiteral("Bright7$x"));
        QCOMPARE(input.lineEdit()->echoMode(), QLineEdit::Password);
        QCOMPARE(input.visibilityButton()->symbol(), QStringLiteral("eye"));
        QCOMPARE(input.visibilityButton()->toolTip(), QStringLiteral("Show password"));
        QTest::mouseClick(input.visibilityButton(), Qt::LeftButton);
        QCOMPARE(input.lineEdit()->echoMode(), QLineEdit::Normal);
        QCOMPARE(input.visibilityButton()->symbol(), QStringLiteral("eye.slash"));
        QCOMPARE(input.visibilityButton()->toolTip(), QStringLiteral("Hide password"));
        QCOMPARE(input.lineEdit()->text(), QStringLiteral("Bright7$x"));
    }

    // The thick purple border follows the keyboard focus.
    void focusBorder()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *first = new AuthTextInput(QStringLiteral("Email"), AuthTextInput::Design::rounded, &window);
        auto *second = new AuthPasswordInput(QStringLiteral("Password"), &window);
        layout->addWidget(first);
        layout->addWidget(second);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        first->lineEdit()->setFocus();
        QVERIFY(FakeBackend::waitUntil([&] { return first->hasInputFocus(); }));
        QVERIFY(!second->hasInputFocus());
        QTest::keyClick(first->lineEdit(), Qt::Key_Tab);
        QVERIFY(FakeBackend::waitUntil([&] { return second->hasInputFocus(); }));
        QVERIFY(!first->hasInputFocus());
    }

    void onboardingFollowsThePermission()
    {
        auto authorization = std::make_shared<ScriptedAuthorization>();
        authorization->current = MicrophoneAuthorization::Status::notDetermined;
        authorization->holdPrompt = true;
        int continued = 0;
        PermissionsOnboardingView view(std::make_unique<AppPermissionsController>(authorization), [&] { ++continued; });
        view.resize(1120, 760);
        view.show();
        waitFor([&] { return authorization->reads >= 1; });
        KavrelCapsuleButton *action = view.microphoneCard()->actionButton();
        QVERIFY(action->isEnabled());
        QCOMPARE(action->text(), QStringLiteral("Allow access"));
        QCOMPARE(view.microphoneCard()->statusBadge()->symbol(), QStringLiteral("clock.fill"));

        // The prompt is open: the button is off and spins, the badge shows the check.
        QTest::mouseClick(action, Qt::LeftButton);
        waitFor([&] { return authorization->prompts == 1; });
        // Clicked, it has the keyboard and keeps it: off in look and in effect, not disabled.
        QVERIFY(!KavrelFocusHold::looksAvailable(action));
        QVERIFY(action->isBusy());
        QTest::mouseClick(action, Qt::LeftButton);
        QTest::keyClick(action, Qt::Key_Space);
        QCOMPARE(authorization->prompts, 1);
        QCOMPARE(view.microphoneCard()->statusBadge()->symbol(), QStringLiteral("checkmark.circle.fill"));
        authorization->gate.open();
        waitFor([&] { return view.permissionsController()->microphoneState() == AppPermissionsController::MicrophoneState::granted; });
        QCOMPARE(action->text(), QStringLiteral("Allowed"));
        QVERIFY(!KavrelFocusHold::looksAvailable(action));

        // Access withdrawn in the settings shows when the application is active again.
        authorization->current = MicrophoneAuthorization::Status::denied;
        const int readsBefore = authorization->reads;
        QMetaObject::invokeMethod(qGuiApp, "applicationStateChanged", Q_ARG(Qt::ApplicationState, Qt::ApplicationActive));
        waitFor([&] { return view.permissionsController()->microphoneState() == AppPermissionsController::MicrophoneState::denied; });
        QCOMPARE(authorization->reads, readsBefore + 1);
        QCOMPARE(action->text(), QStringLiteral("Open settings"));
        QTest::mouseClick(action, Qt::LeftButton);
        waitFor([&] { return authorization->settingsOpened == 1; });
        QCOMPARE(authorization->prompts, 1);

        QTest::mouseClick(child<QAbstractButton>(&view, QStringLiteral("continueLater")), Qt::LeftButton);
        QTest::mouseClick(child<QAbstractButton>(&view, QStringLiteral("openKavrel")), Qt::LeftButton);
        QCOMPARE(continued, 2);
    }

    // Only a new permission state blends the screen; the request starting or ending alone does not.
    void onboardingAnimatesPermissionChangesOnly()
    {
        auto authorization = std::make_shared<ScriptedAuthorization>();
        authorization->current = MicrophoneAuthorization::Status::notDetermined;
        authorization->holdPrompt = true;
        PermissionsOnboardingView view(std::make_unique<AppPermissionsController>(authorization), [] {});
        view.resize(1120, 760);
        view.show();
        waitFor([&] { return authorization->reads >= 1; });
        QVERIFY(!view.isAnimating());
        AppPermissionsController *controller = view.permissionsController();
        QList<bool> afterRequestChanges;
        QList<bool> afterStateChanges;
        connect(controller, &AppPermissionsController::isRequestingMicrophoneAccessChanged, &view,
                [&] { afterRequestChanges.append(view.isAnimating()); });
        connect(controller, &AppPermissionsController::microphoneStateChanged, &view,
                [&] { afterStateChanges.append(view.isAnimating()); });

        QTest::mouseClick(view.microphoneCard()->actionButton(), Qt::LeftButton);
        waitFor([&] { return authorization->prompts == 1; });
        QCOMPARE(afterRequestChanges, QList<bool>{false});
        authorization->gate.open();
        waitFor([&] { return controller->microphoneState() == AppPermissionsController::MicrophoneState::granted
                             && !controller->isRequestingMicrophoneAccess(); });
        QCOMPARE(afterStateChanges, QList<bool>{true});

        // Ended, the screen is what it would have shown without the animation.
        view.finishAnimation();
        QVERIFY(!view.isAnimating());
        QVERIFY(!view.findChild<KavrelCrossFade *>());
        QCOMPARE(view.microphoneCard()->actionButton()->text(), QStringLiteral("Allowed"));
    }

    void onboardingGeometry()
    {
        QCOMPARE(PermissionsOnboardingView::setupColumnWidth(1120), 604.8);
        QCOMPARE(PermissionsOnboardingView::setupColumnWidth(1200), 648.0);
        QCOMPARE(PermissionsOnboardingView::setupColumnWidth(1400), 680.0);
        QCOMPARE(SetupProgressBadge::fillWidth(0.75), 78.0);
        QCOMPARE(SetupProgressBadge::fillWidth(0.05), 12.0);
        QCOMPARE(SetupReadinessMeter::fillWidth(300, 0.75), 225.0);
        QCOMPARE(SetupReadinessMeter::fillWidth(300, 0.01), 18.0);
    }
};

QTEST_MAIN(tst_SignInScreens)
#include "tst_SignInScreens.moc"
