#pragma once

// The backend's live translation relays on top of FakeBackend: the version-2 socket (hello,
// ready fresh or resumed, acknowledgements, previews and finals with timings, and every other
// server message on demand), the legacy version-1 socket, and the chat-completion proxy as the
// translation clients' fallback meets it.
//
// Each accepted connection follows a script: the next queued one, else the default. A script
// can withhold hello or ready, leave previews or finals unanswered (the test then answers with
// the message builders below), delay finals or drop the socket right after ready. Every client
// message is recorded per connection, parsed. Install this after FakeAuthBackend, which routes
// the same paths with plain accepting sockets.

#include "support/FakeBackend.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class FakeTranslationRelay final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *v2Path = "/api/v2/ai/translation/live";
    static constexpr const char *v1Path = "/api/ai/translation/live";
    static constexpr const char *chatPath = "/api/ai/deepseek/chat/completions";

    struct V2Script
    {
        bool sendHello = true;
        // Answer configure and resume with ready.
        bool sendReady = true;
        bool ackPreviews = true;
        bool translatePreviews = true;
        bool ackFinals = true;
        bool translateFinals = true;
        bool includeTiming = true;
        // Delay of each translation_final after its final arrived.
        int finalDelayMs = 0;
        // Drop the TCP connection (no close frame) 30 ms after sending ready.
        bool dropAfterReady = false;
    };

    struct V1Script
    {
        // Say ready as soon as the socket is open.
        bool sendReady = true;
        bool answerInterims = true;
        bool answerFinals = true;
    };

    // One client connection and what it sent.
    struct Connection
    {
        QPointer<FakeWebSocketSession> session;
        QString connectionId;
        QString sessionId;      // from the last configure or resume
        QString targetLanguage; // likewise
        QList<QJsonObject> received;
    };

    // Installs the routes on the backend, which must outlive this object.
    explicit FakeTranslationRelay(FakeBackend *backend, QObject *parent = nullptr);
    ~FakeTranslationRelay() override;

    FakeBackend *backend() const { return m_backend; }

    // ---- Version 2 ----
    void setV2Script(const V2Script &script) { m_v2Default = script; }
    void queueV2Script(const V2Script &script) { m_v2Queue.append(script); }
    // Answer the upgrade with this HTTP status (0 accepts), or never answer it.
    void setV2UpgradeStatus(int status);
    void setV2UpgradeNeverAnswered(bool neverAnswer);

    int v2ConnectionCount() const { return int(m_v2.size()); }
    // index -1 is the newest connection.
    const Connection &v2Connection(int index = -1) const;
    FakeWebSocketSession *v2Session(int index = -1) const { return v2Connection(index).session; }
    // Client messages of one connection (optionally of one type), or of all connections.
    QList<QJsonObject> v2Received(int index, const QString &type = QString()) const;
    QList<QJsonObject> allV2Received(const QString &type) const;
    // Sends a server message on a connection.
    void sendV2(const QJsonObject &message, int index = -1);
    // Forgets the client messages of every version 2 connection and their frames (a long run
    // keeps only what it checks).
    void clearV2Received();

    // The translation the relay gives a source text on its own.
    static QString translationOf(const QString &targetLanguage, const QString &sourceText, bool isFinal);

    // Server messages.
    static QJsonObject hello(const QString &connectionId);
    static QJsonObject ready(const QString &sessionId, const QString &connectionId, bool resumed);
    static QJsonObject ack(const QString &type, const QString &turnId, qint64 clientRevision, const QString &status = QStringLiteral("accepted"));
    static QJsonObject translation(const QString &type, const QString &sessionId, const QString &connectionId,
                                   const QString &turnId, qint64 clientRevision, const QString &text, bool withTiming = true);
    static QJsonObject turnMessage(const QString &type, const QString &turnId, qint64 clientRevision);
    static QJsonObject error(const QString &code, const QString &message, bool recoverable, const QString &scope,
                             std::optional<QString> turnId = std::nullopt, std::optional<qint64> clientRevision = std::nullopt);
    static QJsonObject envelope(const QString &type);
    static QJsonObject timing();

    // ---- Version 1 ----
    void setV1Script(const V1Script &script) { m_v1Default = script; }
    void queueV1Script(const V1Script &script) { m_v1Queue.append(script); }
    int v1ConnectionCount() const { return int(m_v1.size()); }
    const Connection &v1Connection(int index = -1) const;
    FakeWebSocketSession *v1Session(int index = -1) const { return v1Connection(index).session; }
    QList<QJsonObject> v1Received(int index, const QString &type = QString()) const;
    QList<QJsonObject> allV1Received(const QString &type) const;
    void sendV1(const QJsonObject &message, int index = -1);
    // A translation_revision; its number is the next one of the turn unless given.
    QJsonObject v1Revision(const QString &turnId, const QString &text, bool isFinal, std::optional<qint64> revision = std::nullopt);

    // ---- Chat-completion proxy ----
    // Routes the proxy path: each request is answered with chatTranslationOf(last message)
    // after the delay, or fails with the status while failures are left.
    void routeChatCompletions();
    void setChatDelayMs(int delayMs) { m_chatDelayMs = delayMs; }
    void failNextChatRequests(int count, int status = 502)
    {
        m_chatFailuresLeft = count;
        m_chatFailureStatus = status;
    }
    // Answers every request with this content instead (null content when empty optional).
    void setChatReplyContent(std::optional<std::optional<QString>> content) { m_chatReplyContent = std::move(content); }
    QList<QJsonObject> chatRequests() const;
    static QString chatTranslationOf(const QString &text);
    // A chat completion whose one choice says this (a string, or null).
    static QJsonObject chatCompletion(const QJsonValue &content);

private:
    struct Tracked
    {
        std::shared_ptr<Connection> connection;
        V2Script v2;
        V1Script v1;
    };

    void installV2Route();
    void onV2Open(FakeWebSocketSession *session);
    void onV2Message(const std::shared_ptr<Tracked> &tracked, const QByteArray &utf8);
    void onV1Open(FakeWebSocketSession *session);
    void onV1Message(const std::shared_ptr<Tracked> &tracked, const QByteArray &utf8);
    const Connection &at(const QList<std::shared_ptr<Tracked>> &list, int index) const;

    FakeBackend *m_backend;
    V2Script m_v2Default;
    QList<V2Script> m_v2Queue;
    V1Script m_v1Default;
    QList<V1Script> m_v1Queue;
    int m_v2UpgradeStatus = 0;
    bool m_v2NeverAnswered = false;
    QList<std::shared_ptr<Tracked>> m_v2;
    QList<std::shared_ptr<Tracked>> m_v1;
    QHash<QString, qint64> m_v1RevisionByTurn;

    int m_chatDelayMs = 0;
    int m_chatFailuresLeft = 0;
    int m_chatFailureStatus = 502;
    std::optional<std::optional<QString>> m_chatReplyContent;
};
