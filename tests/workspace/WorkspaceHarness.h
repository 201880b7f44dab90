#pragma once

// The main window over the real view model (with the session test fakes under it), a real
// sign-in store against the fake backend, the program's start runner and session surface.

#include "session/SessionTestFakes.h"

#include "accounts/AuthService.h"
#include "accounts/AuthSession.h"
#include "accounts/AuthSessionStore.h"
#include "base/Continuation.h"
#include "session/KavrelListeningStarter.h"
#include "services/DeepSeekAnswerAssistService.h"
#include "services/DeepSeekMeetingProtocolService.h"
#include "services/DeepSeekSummaryService.h"
#include "session/ListeningStartPrompts.h"
#include "session/SessionTurnStore.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBackend.h"
#include "support/TestAuth.h"
#include "app/SubtitleViewModelSurface.h"
#include "workspace/widgets/ContentView.h"

#include <QJsonObject>
#include <QTest>

#include <memory>

namespace WorkspaceTest {

// Answers the two start questions: a new session, and the microphone as set. A held start
// question stays open until the test answers it.
class ScriptedPrompts final : public ListeningStartPrompts
{
public:
    bool microphone = false;
    int asked = 0;
    Continuation<ListeningSessionStartMode>::Pointer heldStartQuestion;

    QCoro::Task<ListeningSessionStartMode> askStartMode() override
    {
        ++asked;
        if (Continuation<ListeningSessionStartMode>::Pointer held = heldStartQuestion)
            co_return co_await Continuation<ListeningSessionStartMode>::wait(held);
        co_return ListeningSessionStartMode::newSession;
    }
    QCoro::Task<bool> askMicrophone() override
    {
        ++microphoneAsked;
        co_return microphone;
    }
    int microphoneAsked = 0;
};

// Gives the session `count` closed turns with text and, when asked, a translation.
inline void fillTurns(SessionTest::Engine &engine, int count, bool translated)
{
    std::vector<SessionTurn> turns;
    const QDateTime start(QDate(2026, 3, 2), QTime(9, 5, 7));
    for (int i = 0; i < count; ++i) {
        SessionTurn turn;
        turn.id = QUuid::createUuid();
        turn.text = QStringLiteral("Turn %1: we should move the release to Thursday and check the numbers first.").arg(i + 1);
        if (translated)
            turn.translationText = QStringLiteral("Реплика %1: перенесём релиз на четверг и сначала проверим цифры.").arg(i + 1);
        turn.timestamp = start.addSecs(i * 7);
        turn.isClosed = true;
        turns.push_back(turn);
    }
    engine.model->turnStore()->replaceAll(std::move(turns));
}

// Builds the sign-in side first, so the view model's AI services can use it.
struct SignIn
{
    FakeBackend backend;
    std::unique_ptr<FakeAuthBackend> auth;
    std::unique_ptr<AuthService> authService;

    SignIn(bool signedIn, qint64 sessionLifetime)
    {
        backend.start();
        auth = std::make_unique<FakeAuthBackend>(&backend);
        auth->setSessionLifetimeSeconds(sessionLifetime);
        std::optional<AuthSession> session;
        if (signedIn) {
            session = TestAuth::defaultSession();
            session->expiresAt = QDateTime::currentDateTimeUtc().addSecs(sessionLifetime);
            auth->registerSession(*session);
        }
        authService = TestAuth::signedInService(backend.baseUrl(), session);
    }
};

struct Workspace : SignIn
{
    SessionTest::Engine engine;
    std::unique_ptr<AuthSessionStore> authStore;
    std::unique_ptr<SubtitleViewModelSurface> surface;
    std::unique_ptr<KavrelListeningStarter> starter;
    ScriptedPrompts prompts;
    std::unique_ptr<ContentView> view;

    // `sessionLifetime` below 60 s makes every session refresh go to the backend.
    explicit Workspace(bool signedIn = true, qint64 sessionLifetime = 3600)
        : SignIn(signedIn, sessionLifetime), engine([this](SessionServices &services) {
              services.authService = authService.get();
              services.summary = std::make_unique<DeepSeekSummaryService>(services.makeProxy());
              services.meetingProtocol = std::make_unique<DeepSeekMeetingProtocolService>(services.makeProxy());
              services.answerAssist = std::make_unique<DeepSeekAnswerAssistService>(services.makeProxy());
          })
    {
        authStore = std::make_unique<AuthSessionStore>(authService.get());
        surface = std::make_unique<SubtitleViewModelSurface>(*engine.model);
        starter = std::make_unique<KavrelListeningStarter>(authStore.get(), surface.get());
        engine.model->setStartPrompts(&prompts);
        view = std::make_unique<ContentView>(*engine.model, *authStore, *surface, *starter, *engine.defaults);
        if (!QTest::qWaitFor([this] { return !authStore->isRestoringSession(); }))
            qWarning("the workspace's stored session was still being restored after 5 s");
    }

    ~Workspace()
    {
        view.reset();
        engine.model->setStartPrompts(nullptr);
    }

    SubtitleViewModel &model() { return *engine.model; }

    // Closed turns with text and, when asked, a translation.
    void fillTurns(int count, bool translated) { WorkspaceTest::fillTurns(engine, count, translated); }
};

} // namespace WorkspaceTest
