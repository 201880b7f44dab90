#include "speech/TranslationV2Messages.h"

namespace {

// The two messages about one text of a turn share their keys and order.
QByteArray turnTextJson(const char *type, const QString &sessionId, const QString &turnId, qint64 clientRevision,
                        const QString &sourceText)
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("type"), type)
        .add(QStringLiteral("sessionId"), sessionId)
        .add(QStringLiteral("turnId"), turnId)
        .add(QStringLiteral("clientRevision"), clientRevision)
        .add(QStringLiteral("sourceText"), sourceText);
    return writer.toJson();
}

// configure and resume open with the same keys.
JsonObjectWriter sessionSetupWriter(const char *type, qint64 protocolVersion, const QString &sessionId,
                                    const QString &sourceLanguage, const QString &targetLanguage)
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("type"), type)
        .add(QStringLiteral("protocolVersion"), protocolVersion)
        .add(QStringLiteral("sessionId"), sessionId)
        .add(QStringLiteral("sourceLanguage"), sourceLanguage)
        .add(QStringLiteral("targetLanguage"), targetLanguage);
    return writer;
}

} // namespace

// ---- Server to client ----

V2Envelope V2Envelope::fromJson(const JsonReader &reader)
{
    V2Envelope message;
    message.type = reader.string(QStringLiteral("type"));
    return message;
}

V2HelloMessage V2HelloMessage::fromJson(const JsonReader &reader)
{
    V2HelloMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.connectionId = reader.string(QStringLiteral("connectionId"));
    return message;
}

V2ReadyMessage V2ReadyMessage::fromJson(const JsonReader &reader)
{
    V2ReadyMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.sessionId = reader.string(QStringLiteral("sessionId"));
    message.connectionId = reader.string(QStringLiteral("connectionId"));
    message.resumed = reader.boolean(QStringLiteral("resumed"));
    return message;
}

V2AckMessage V2AckMessage::fromJson(const JsonReader &reader)
{
    V2AckMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.turnId = reader.string(QStringLiteral("turnId"));
    message.clientRevision = reader.integer(QStringLiteral("clientRevision"));
    message.status = reader.string(QStringLiteral("status"));
    return message;
}

V2Timing V2Timing::fromJson(const JsonReader &reader)
{
    V2Timing message;
    message.queueMs = reader.integer(QStringLiteral("queueMs"));
    message.providerFirstTokenMs = reader.integer(QStringLiteral("providerFirstTokenMs"));
    message.providerTotalMs = reader.integer(QStringLiteral("providerTotalMs"));
    message.totalMs = reader.integer(QStringLiteral("totalMs"));
    return message;
}

V2TranslationResult V2TranslationResult::fromJson(const JsonReader &reader)
{
    V2TranslationResult message;
    message.type = reader.string(QStringLiteral("type"));
    message.sessionId = reader.string(QStringLiteral("sessionId"));
    message.connectionId = reader.string(QStringLiteral("connectionId"));
    message.turnId = reader.string(QStringLiteral("turnId"));
    message.clientRevision = reader.integer(QStringLiteral("clientRevision"));
    message.serverRevision = reader.integer(QStringLiteral("serverRevision"));
    message.text = reader.string(QStringLiteral("text"));
    message.isFinal = reader.boolean(QStringLiteral("isFinal"));
    if (const std::optional<JsonReader> timing = reader.optionalObject(QStringLiteral("timing")))
        message.timing = V2Timing::fromJson(*timing);
    return message;
}

V2TurnMessage V2TurnMessage::fromJson(const JsonReader &reader)
{
    V2TurnMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.turnId = reader.string(QStringLiteral("turnId"));
    message.clientRevision = reader.integer(QStringLiteral("clientRevision"));
    return message;
}

V2ErrorMessage V2ErrorMessage::fromJson(const JsonReader &reader)
{
    V2ErrorMessage message;
    message.type = reader.string(QStringLiteral("type"));
    message.code = reader.string(QStringLiteral("code"));
    message.message = reader.string(QStringLiteral("message"));
    message.recoverable = reader.boolean(QStringLiteral("recoverable"));
    message.scope = reader.string(QStringLiteral("scope"));
    message.turnId = reader.optionalString(QStringLiteral("turnId"));
    message.clientRevision = reader.optionalInteger(QStringLiteral("clientRevision"));
    return message;
}

// ---- Client to server ----

QByteArray V2ConfigureMessage::toJson() const
{
    return sessionSetupWriter(type, protocolVersion, sessionId, sourceLanguage, targetLanguage).toJson();
}

QByteArray V2PendingFinalReference::toJson() const
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("turnId"), turnId).add(QStringLiteral("clientRevision"), clientRevision);
    return writer.toJson();
}

QByteArray V2ResumeMessage::toJson() const
{
    QList<QByteArray> finals;
    for (const V2PendingFinalReference &reference : pendingFinals)
        finals.append(reference.toJson());
    JsonObjectWriter writer = sessionSetupWriter(type, protocolVersion, sessionId, sourceLanguage, targetLanguage);
    writer.addEncoded(QStringLiteral("pendingFinals"), JsonObjectWriter::array(finals));
    return writer.toJson();
}

QByteArray V2PreviewMessage::toJson() const
{
    return turnTextJson(type, sessionId, turnId, clientRevision, sourceText);
}

QByteArray V2FinalMessage::toJson() const
{
    return turnTextJson(type, sessionId, turnId, clientRevision, sourceText);
}

QByteArray V2PingMessage::toJson() const
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("type"), type).add(QStringLiteral("clientTime"), clientTime);
    return writer.toJson();
}

QByteArray V2CompleteSessionMessage::toJson() const
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("type"), type).add(QStringLiteral("sessionId"), sessionId);
    return writer.toJson();
}
