#pragma once

// A signed-in speech-to-text client against the fake backend's relay, with short timings,
// collecting every event and error text it hands out.

#include "accounts/AuthService.h"
#include "accounts/KavrelBackendProxyService.h"
#include "base/Async.h"
#include "speech/DeepgramLiveTranscriptionService.h"
#include "support/FakeBackend.h"
#include "support/FakeSpeechRelay.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"

#include <QCoreApplication>
#include <QList>
#include <QStringList>
#include <QTest>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

namespace SpeechTest {

using namespace std::chrono_literals;

inline DeepgramLiveTranscriptionService::Timings fastTimings()
{
    DeepgramLiveTranscriptionService::Timings timings;
    timings.keepAliveInterval = 60s; // out of the way unless a test wants it
    timings.reconnectDelays = {20ms, 60ms, 160ms, 320ms};
    timings.openTimeout = 2000ms;
    timings.finalizePause = 150ms;
    return timings;
}

struct Event
{
    bool isFinal = false;
    QString text;
    bool speechFinal = false;
};

struct Harness
{
    FakeBackend backend;
    std::unique_ptr<AuthService> auth;
    std::unique_ptr<KavrelBackendProxyService> proxy;
    std::unique_ptr<FakeSpeechRelay> relay;
    std::unique_ptr<DeepgramLiveTranscriptionService> client;
    QList<Event> events;
    QStringList errors;

    explicit Harness(bool signedIn = true)
    {
        const bool started = backend.start();
        Q_ASSERT(started);
        auth = signedIn ? TestAuth::signedInService(backend.baseUrl())
                        : TestAuth::signedInService(backend.baseUrl(), std::nullopt);
        proxy = std::make_unique<KavrelBackendProxyService>(auth.get());
        relay = std::make_unique<FakeSpeechRelay>(&backend);
        relay->expect(QStringLiteral("ru"), false, true, "test-access-token", "test-refresh-token",
                      backend.baseUrl().toString(QUrl::RemovePath).toUtf8());
        client = std::make_unique<DeepgramLiveTranscriptionService>(proxy.get());
        client->setTimings(fastTimings());
    }

    ~Harness()
    {
        client.reset();
        // Let the ended loops run to their ends (they resume on later turns) and the sockets
        // be deleted, before the next test or the process ends.
        QTest::qWait(20);
    }

    DeepgramLiveTranscriptionService::EventHandler eventHandler()
    {
        return [this](const DeepgramTranscriptEvent &event) {
            events.append(Event{event.isFinal(), event.result().transcript, event.result().speechFinal});
        };
    }
    DeepgramLiveTranscriptionService::ErrorHandler errorHandler()
    {
        return [this](const QString &text) { errors.append(text); };
    }

    // Connects for Russian (diarize false, utterances true) and returns what connect threw.
    std::exception_ptr connect(const QString &language = QStringLiteral("ru"), bool diarize = false,
                               bool utterances = true)
    {
        return runTask(client->connect(language, diarize, utterances, eventHandler(), errorHandler())).error;
    }

    void stop() { runTask(client->stop()); }
};

inline QString messageOf(const std::exception_ptr &error)
{
    return errorMessage(error);
}

// A chunk whose bytes tell it apart: n repeated.
inline QByteArray chunk(int n, int size = 2048)
{
    return QByteArray(size, char('A' + n % 26)) + QByteArray::number(n);
}

} // namespace SpeechTest
