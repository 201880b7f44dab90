#pragma once

// Shared set-up of the live translation tests: a real fake backend with the translation
// relays, a signed-in (or signed-out, or misconfigured) AuthService, the version-2 client
// with millisecond timings, its events, and the client's log lines.

#include "accounts/AuthService.h"
#include "accounts/KavrelBackendProxyService.h"
#include "platform/InMemorySecretStore.h"
#include "speech/DeepSeekTranslationError.h"
#include "speech/DeepSeekTranslationService.h"
#include "speech/KavrelLiveTranslationV2Service.h"
#include "speech/TranslationTurnKey.h"
#include "support/FakeBackend.h"
#include "support/FakeTranslationRelay.h"
#include "support/LogCapture.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

using namespace std::chrono_literals;

namespace TranslationTest {

using LogCapture = ::LogCapture;

inline QUuid turn(int number)
{
    return QUuid::fromString(QStringLiteral("%1-0000-4000-8000-00000000000a").arg(number, 8, 10, QLatin1Char('0')));
}

inline QString key(int number)
{
    return TranslationTurnKey::fromUuid(turn(number));
}

inline KavrelLiveTranslationV2Service::Timings fastTimings()
{
    KavrelLiveTranslationV2Service::Timings timings;
    timings.openTimeout = 3000ms;
    timings.helloTimeout = 3000ms;
    timings.readyTimeout = 3000ms;
    timings.reconnectDelays = {5ms, 10ms, 15ms, 20ms};
    timings.previewRetryDelay = 30ms;
    timings.emergencyPreviewDelay = 40ms;
    return timings;
}

inline QString text(const QJsonObject &object, const char *name)
{
    return object.value(QString::fromLatin1(name)).toString();
}

inline qint64 integer(const QJsonObject &object, const char *name)
{
    return object.value(QString::fromLatin1(name)).toInteger();
}

// Runs a task to its end and returns what it threw.
template<typename T>
std::exception_ptr failureOf(QCoro::Task<T> task)
{
    return runTask(std::move(task)).error;
}

enum class Account {
    signedIn,
    signedOut,
    invalidBaseURL,
};

class Fixture
{
public:
    explicit Fixture(Account account = Account::signedIn)
    {
        if (!backend.start())
            qFatal("the fake backend did not start");
        relay = std::make_unique<FakeTranslationRelay>(&backend);
        relay->routeChatCompletions();
        const QUrl baseUrl = account == Account::invalidBaseURL ? QUrl(QStringLiteral("not a url")) : backend.baseUrl();
        auth = TestAuth::signedInService(baseUrl, account == Account::signedOut ? std::nullopt
                                                                                : std::optional<AuthSession>(TestAuth::defaultSession()));
        proxy = std::make_unique<KavrelBackendProxyService>(auth.get());
        service = std::make_unique<KavrelLiveTranslationV2Service>(proxy.get(), auth.get());
        service->setTimings(fastTimings());
    }

    ~Fixture()
    {
        service.reset();
        // Let suspended work of the destroyed client wake and end before the backend goes.
        QTest::qWait(20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    KavrelLiveTranslationV2Service::EventHandler handler()
    {
        return [this](const DeepSeekTranslationEvent &event) { events.append(event); };
    }

    void start(const QString &source = QStringLiteral("ru"), const QString &target = QStringLiteral("en"))
    {
        QCoro::waitFor(service->startSession(source, QStringLiteral("Russian"), target, QStringLiteral("English"), handler()));
    }

    // Starts and waits for the first ready and the end of the connection's setup: the setup
    // goes on past ready with its flush of pending work, and a final enqueued meanwhile goes out
    // twice (from the flush and on its own), a reset cancels the setup instead of waiting.
    bool startReady(const QString &source = QStringLiteral("ru"), const QString &target = QStringLiteral("en"))
    {
        start(source, target);
        return FakeBackend::waitUntil([this] { return service->isReady() && !service->isReconnecting(); });
    }

    void enqueueInterim(int number, const QString &value) { QCoro::waitFor(service->enqueueInterimChunk(value, turn(number))); }
    void enqueueFinal(int number, const QString &value) { QCoro::waitFor(service->enqueueFinalChunk(value, turn(number))); }
    void reset() { QCoro::waitFor(service->resetSession()); }

    QList<DeepSeekTranslationEvent> eventsOf(DeepSeekTranslationEvent::Kind kind) const
    {
        QList<DeepSeekTranslationEvent> result;
        for (const DeepSeekTranslationEvent &event : events) {
            if (event.kind == kind)
                result.append(event);
        }
        return result;
    }

    FakeBackend backend;
    std::unique_ptr<FakeTranslationRelay> relay;
    std::unique_ptr<AuthService> auth;
    std::unique_ptr<KavrelBackendProxyService> proxy;
    std::unique_ptr<KavrelLiveTranslationV2Service> service;
    QList<DeepSeekTranslationEvent> events;
};

} // namespace TranslationTest

// Readable events in failed comparisons.
inline char *toString(const DeepSeekTranslationEvent &event)
{
    static const char *const kinds[] = {"preview", "completed", "failed"};
    const QString text = QStringLiteral("%1(%2, \"%3\")")
                             .arg(QString::fromLatin1(kinds[int(event.kind)]), TranslationTurnKey::fromUuid(event.turnID), event.text);
    return qstrdup(text.toUtf8().constData());
}
