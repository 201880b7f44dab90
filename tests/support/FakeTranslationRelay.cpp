#include "support/FakeTranslationRelay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace {

QJsonObject parsed(const QByteArray &utf8)
{
    const QJsonDocument document = QJsonDocument::fromJson(utf8);
    return document.isObject() ? document.object() : QJsonObject();
}

QList<QJsonObject> ofType(const QList<QJsonObject> &messages, const QString &type)
{
    if (type.isEmpty())
        return messages;
    QList<QJsonObject> result;
    for (const QJsonObject &message : messages) {
        if (message.value(QStringLiteral("type")).toString() == type)
            result.append(message);
    }
    return result;
}

} // namespace

FakeTranslationRelay::FakeTranslationRelay(FakeBackend *backend, QObject *parent)
    : QObject(parent)
    , m_backend(backend)
{
    installV2Route();
    FakeWebSocketRoute v1;
    v1.onOpen = [this](FakeWebSocketSession *session) { onV1Open(session); };
    m_backend->webSocketRoute(QString::fromLatin1(v1Path), v1);
}

FakeTranslationRelay::~FakeTranslationRelay() = default;

// ---------------------------------------------------------------------------------------------
// Version 2

void FakeTranslationRelay::installV2Route()
{
    FakeWebSocketRoute route;
    route.rejectStatus = m_v2UpgradeStatus;
    route.neverAnswer = m_v2NeverAnswered;
    route.onOpen = [this](FakeWebSocketSession *session) { onV2Open(session); };
    m_backend->webSocketRoute(QString::fromLatin1(v2Path), route);
}

void FakeTranslationRelay::setV2UpgradeStatus(int status)
{
    m_v2UpgradeStatus = status;
    installV2Route();
}

void FakeTranslationRelay::setV2UpgradeNeverAnswered(bool neverAnswer)
{
    m_v2NeverAnswered = neverAnswer;
    installV2Route();
}

const FakeTranslationRelay::Connection &FakeTranslationRelay::at(const QList<std::shared_ptr<Tracked>> &list, int index) const
{
    const int resolved = index < 0 ? int(list.size()) + index : index;
    Q_ASSERT_X(resolved >= 0 && resolved < list.size(), "FakeTranslationRelay", "no such connection");
    return *list.at(resolved)->connection;
}

const FakeTranslationRelay::Connection &FakeTranslationRelay::v2Connection(int index) const
{
    return at(m_v2, index);
}

QList<QJsonObject> FakeTranslationRelay::v2Received(int index, const QString &type) const
{
    return ofType(v2Connection(index).received, type);
}

QList<QJsonObject> FakeTranslationRelay::allV2Received(const QString &type) const
{
    QList<QJsonObject> all;
    for (const auto &tracked : m_v2)
        all.append(ofType(tracked->connection->received, type));
    return all;
}

void FakeTranslationRelay::sendV2(const QJsonObject &message, int index)
{
    if (FakeWebSocketSession *session = v2Session(index))
        session->sendJson(message);
}

void FakeTranslationRelay::clearV2Received()
{
    for (const std::shared_ptr<Tracked> &tracked : m_v2) {
        tracked->connection->received = {};
        if (FakeWebSocketSession *session = tracked->connection->session)
            session->clearFrames();
    }
}

void FakeTranslationRelay::onV2Open(FakeWebSocketSession *session)
{
    auto tracked = std::make_shared<Tracked>();
    tracked->connection = std::make_shared<Connection>();
    tracked->connection->session = session;
    tracked->connection->connectionId = QStringLiteral("conn-%1").arg(m_v2.size() + 1);
    tracked->v2 = m_v2Queue.isEmpty() ? m_v2Default : m_v2Queue.takeFirst();
    m_v2.append(tracked);
    connect(session, &FakeWebSocketSession::textReceived, this,
            [this, tracked](const QByteArray &utf8) { onV2Message(tracked, utf8); });
    if (tracked->v2.sendHello)
        session->sendJson(hello(tracked->connection->connectionId));
}

void FakeTranslationRelay::onV2Message(const std::shared_ptr<Tracked> &tracked, const QByteArray &utf8)
{
    Connection &connection = *tracked->connection;
    const V2Script &script = tracked->v2;
    const QJsonObject message = parsed(utf8);
    connection.received.append(message);
    QPointer<FakeWebSocketSession> session = connection.session;
    if (!session)
        return;

    const QString type = message.value(QStringLiteral("type")).toString();
    const QString turnId = message.value(QStringLiteral("turnId")).toString();
    const qint64 revision = message.value(QStringLiteral("clientRevision")).toInteger();
    const QString source = message.value(QStringLiteral("sourceText")).toString();

    if (type == QLatin1String("configure") || type == QLatin1String("resume")) {
        connection.sessionId = message.value(QStringLiteral("sessionId")).toString();
        connection.targetLanguage = message.value(QStringLiteral("targetLanguage")).toString();
        if (!script.sendReady)
            return;
        session->sendJson(ready(connection.sessionId, connection.connectionId, type == QLatin1String("resume")));
        if (script.dropAfterReady) {
            // Shortly after, so the ready frame has left: an abort drops whatever is unsent.
            QTimer::singleShot(30, session, [session] {
                if (session)
                    session->abort();
            });
        }
    } else if (type == QLatin1String("translate_preview")) {
        if (script.ackPreviews)
            session->sendJson(ack(QStringLiteral("preview_ack"), turnId, revision));
        if (script.translatePreviews) {
            session->sendJson(translation(QStringLiteral("translation_preview"), connection.sessionId, connection.connectionId,
                                          turnId, revision, translationOf(connection.targetLanguage, source, false),
                                          script.includeTiming));
        }
    } else if (type == QLatin1String("translate_final")) {
        if (script.ackFinals)
            session->sendJson(ack(QStringLiteral("final_ack"), turnId, revision));
        if (script.translateFinals) {
            const QJsonObject answer =
                translation(QStringLiteral("translation_final"), connection.sessionId, connection.connectionId, turnId, revision,
                            translationOf(connection.targetLanguage, source, true), script.includeTiming);
            if (script.finalDelayMs > 0) {
                QTimer::singleShot(script.finalDelayMs, session, [session, answer] {
                    if (session)
                        session->sendJson(answer);
                });
            } else {
                session->sendJson(answer);
            }
        }
    } else if (type == QLatin1String("complete_session")) {
        session->sendJson(envelope(QStringLiteral("session_completed")));
    }
}

QString FakeTranslationRelay::translationOf(const QString &targetLanguage, const QString &sourceText, bool isFinal)
{
    return QStringLiteral("%1%2 %3").arg(targetLanguage, isFinal ? QStringLiteral(":") : QStringLiteral("~"), sourceText);
}

QJsonObject FakeTranslationRelay::hello(const QString &connectionId)
{
    QJsonObject message = envelope(QStringLiteral("hello"));
    message.insert(QStringLiteral("connectionId"), connectionId);
    return message;
}

QJsonObject FakeTranslationRelay::ready(const QString &sessionId, const QString &connectionId, bool resumed)
{
    QJsonObject message = envelope(QStringLiteral("ready"));
    message.insert(QStringLiteral("sessionId"), sessionId);
    message.insert(QStringLiteral("connectionId"), connectionId);
    message.insert(QStringLiteral("resumed"), resumed);
    return message;
}

QJsonObject FakeTranslationRelay::ack(const QString &type, const QString &turnId, qint64 clientRevision, const QString &status)
{
    QJsonObject message = envelope(type);
    message.insert(QStringLiteral("turnId"), turnId);
    message.insert(QStringLiteral("clientRevision"), clientRevision);
    message.insert(QStringLiteral("status"), status);
    return message;
}

QJsonObject FakeTranslationRelay::translation(const QString &type, const QString &sessionId, const QString &connectionId,
                                              const QString &turnId, qint64 clientRevision, const QString &text, bool withTiming)
{
    static qint64 serverRevision = 0;
    QJsonObject message = envelope(type);
    message.insert(QStringLiteral("sessionId"), sessionId);
    message.insert(QStringLiteral("connectionId"), connectionId);
    message.insert(QStringLiteral("turnId"), turnId);
    message.insert(QStringLiteral("clientRevision"), clientRevision);
    message.insert(QStringLiteral("serverRevision"), ++serverRevision);
    message.insert(QStringLiteral("text"), text);
    message.insert(QStringLiteral("isFinal"), type == QLatin1String("translation_final"));
    if (withTiming)
        message.insert(QStringLiteral("timing"), timing());
    return message;
}

QJsonObject FakeTranslationRelay::turnMessage(const QString &type, const QString &turnId, qint64 clientRevision)
{
    QJsonObject message = envelope(type);
    message.insert(QStringLiteral("turnId"), turnId);
    message.insert(QStringLiteral("clientRevision"), clientRevision);
    return message;
}

QJsonObject FakeTranslationRelay::error(const QString &code, const QString &text, bool recoverable, const QString &scope,
                                        std::optional<QString> turnId, std::optional<qint64> clientRevision)
{
    QJsonObject message = envelope(QStringLiteral("error"));
    message.insert(QStringLiteral("code"), code);
    message.insert(QStringLiteral("message"), text);
    message.insert(QStringLiteral("recoverable"), recoverable);
    message.insert(QStringLiteral("scope"), scope);
    if (turnId)
        message.insert(QStringLiteral("turnId"), *turnId);
    if (clientRevision)
        message.insert(QStringLiteral("clientRevision"), *clientRevision);
    return message;
}

QJsonObject FakeTranslationRelay::envelope(const QString &type)
{
    QJsonObject message;
    message.insert(QStringLiteral("type"), type);
    return message;
}

QJsonObject FakeTranslationRelay::timing()
{
    QJsonObject timing;
    timing.insert(QStringLiteral("queueMs"), 3);
    timing.insert(QStringLiteral("providerFirstTokenMs"), 40);
    timing.insert(QStringLiteral("providerTotalMs"), 90);
    timing.insert(QStringLiteral("totalMs"), 100);
    return timing;
}

// ---------------------------------------------------------------------------------------------
// Version 1

const FakeTranslationRelay::Connection &FakeTranslationRelay::v1Connection(int index) const
{
    return at(m_v1, index);
}

QList<QJsonObject> FakeTranslationRelay::v1Received(int index, const QString &type) const
{
    return ofType(v1Connection(index).received, type);
}

QList<QJsonObject> FakeTranslationRelay::allV1Received(const QString &type) const
{
    QList<QJsonObject> all;
    for (const auto &tracked : m_v1)
        all.append(ofType(tracked->connection->received, type));
    return all;
}

void FakeTranslationRelay::sendV1(const QJsonObject &message, int index)
{
    if (FakeWebSocketSession *session = v1Session(index))
        session->sendJson(message);
}

QJsonObject FakeTranslationRelay::v1Revision(const QString &turnId, const QString &text, bool isFinal, std::optional<qint64> revision)
{
    const qint64 number = revision ? *revision : m_v1RevisionByTurn.value(turnId, 0) + 1;
    m_v1RevisionByTurn.insert(turnId, std::max(number, m_v1RevisionByTurn.value(turnId, 0)));
    QJsonObject message = envelope(QStringLiteral("translation_revision"));
    message.insert(QStringLiteral("turnId"), turnId);
    message.insert(QStringLiteral("revision"), number);
    message.insert(QStringLiteral("text"), text);
    message.insert(QStringLiteral("isFinal"), isFinal);
    message.insert(QStringLiteral("targetLanguage"), QStringLiteral("en"));
    return message;
}

void FakeTranslationRelay::onV1Open(FakeWebSocketSession *session)
{
    auto tracked = std::make_shared<Tracked>();
    tracked->connection = std::make_shared<Connection>();
    tracked->connection->session = session;
    tracked->connection->connectionId = QStringLiteral("v1-conn-%1").arg(m_v1.size() + 1);
    tracked->v1 = m_v1Queue.isEmpty() ? m_v1Default : m_v1Queue.takeFirst();
    m_v1.append(tracked);
    connect(session, &FakeWebSocketSession::textReceived, this,
            [this, tracked](const QByteArray &utf8) { onV1Message(tracked, utf8); });
    if (tracked->v1.sendReady)
        session->sendJson(envelope(QStringLiteral("ready")));
}

void FakeTranslationRelay::onV1Message(const std::shared_ptr<Tracked> &tracked, const QByteArray &utf8)
{
    Connection &connection = *tracked->connection;
    const QJsonObject message = parsed(utf8);
    connection.received.append(message);
    if (!connection.session)
        return;
    const QString type = message.value(QStringLiteral("type")).toString();
    if (type == QLatin1String("configure")) {
        connection.sessionId = message.value(QStringLiteral("sessionId")).toString();
        connection.targetLanguage = message.value(QStringLiteral("targetLanguage")).toString();
        return;
    }
    if (type != QLatin1String("translate_turn"))
        return;
    const bool isFinal = message.value(QStringLiteral("isFinal")).toBool();
    if ((isFinal && !tracked->v1.answerFinals) || (!isFinal && !tracked->v1.answerInterims))
        return;
    const QString turnId = message.value(QStringLiteral("turnId")).toString();
    const QString text = QStringLiteral("v1 ") + translationOf(connection.targetLanguage,
                                                                message.value(QStringLiteral("transcript")).toString(), isFinal);
    connection.session->sendJson(v1Revision(turnId, text, isFinal));
}

// ---------------------------------------------------------------------------------------------
// Chat-completion proxy

QString FakeTranslationRelay::chatTranslationOf(const QString &text)
{
    return QStringLiteral("chat: ") + text;
}

void FakeTranslationRelay::routeChatCompletions()
{
    m_backend->route("POST", QString::fromLatin1(chatPath), [this](const RecordedRequest &request) {
        if (m_chatFailuresLeft > 0) {
            --m_chatFailuresLeft;
            QJsonObject inner;
            inner.insert(QStringLiteral("message"), QStringLiteral("upstream unavailable"));
            QJsonObject body;
            body.insert(QStringLiteral("error"), inner);
            return FakeResponse::json(m_chatFailureStatus, body).withDelay(m_chatDelayMs);
        }
        const QJsonArray messages = request.json().value(QStringLiteral("messages")).toArray();
        const QString last = messages.isEmpty() ? QString() : messages.last().toObject().value(QStringLiteral("content")).toString();
        QJsonValue content = chatTranslationOf(last);
        if (m_chatReplyContent)
            content = *m_chatReplyContent ? QJsonValue(**m_chatReplyContent) : QJsonValue(QJsonValue::Null);
        return FakeResponse::json(200, chatCompletion(content)).withDelay(m_chatDelayMs);
    });
}

QJsonObject FakeTranslationRelay::chatCompletion(const QJsonValue &content)
{
    QJsonObject reply;
    reply.insert(QStringLiteral("role"), QStringLiteral("assistant"));
    reply.insert(QStringLiteral("content"), content);
    QJsonObject choice;
    choice.insert(QStringLiteral("index"), 0);
    choice.insert(QStringLiteral("message"), reply);
    choice.insert(QStringLiteral("finish_reason"), QStringLiteral("stop"));
    QJsonObject body;
    body.insert(QStringLiteral("choices"), QJsonArray{choice});
    return body;
}

QList<QJsonObject> FakeTranslationRelay::chatRequests() const
{
    QList<QJsonObject> result;
    for (const RecordedRequest &request : m_backend->requests(QString::fromLatin1(chatPath)))
        result.append(request.json());
    return result;
}
