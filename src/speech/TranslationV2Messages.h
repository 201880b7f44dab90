#pragma once

// The messages of the live translation relay, version 2, and the client's own record of a
// final in flight.
//
// Reading (server to client): every message is a JSON object whose "type" selects how the
// rest is read. fromJson() throws JsonDecodeError when a required key is missing, null or
// of the wrong type; an optional key may be missing or null; unknown keys are ignored.
// decode() does the same from the frame's bytes.
//
// Writing (client to server): toJson() gives compact JSON with the keys in protocol order,
// "type" first.

#include "base/Json.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// ---- Server to client ----

// The part every server message has: its type, which selects how the rest is read.
struct V2Envelope
{
    QString type;

    static V2Envelope fromJson(const JsonReader &reader);
    static V2Envelope decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2Envelope &) const = default;
};

// The server's first message on a socket.
struct V2HelloMessage
{
    QString type;
    QString connectionId;

    static V2HelloMessage fromJson(const JsonReader &reader);
    static V2HelloMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2HelloMessage &) const = default;
};

// The server's confirmation of a configure or resume.
struct V2ReadyMessage
{
    QString type;
    QString sessionId;
    QString connectionId;
    bool resumed = false;

    static V2ReadyMessage fromJson(const JsonReader &reader);
    static V2ReadyMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2ReadyMessage &) const = default;
};

// The server's receipt of a preview or a final (preview_ack, final_ack).
struct V2AckMessage
{
    QString type;
    QString turnId;
    qint64 clientRevision = 0;
    QString status;

    static V2AckMessage fromJson(const JsonReader &reader);
    static V2AckMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2AckMessage &) const = default;
};

// How long the server took for one translation, in milliseconds.
struct V2Timing
{
    qint64 queueMs = 0;
    qint64 providerFirstTokenMs = 0;
    qint64 providerTotalMs = 0;
    qint64 totalMs = 0;

    static V2Timing fromJson(const JsonReader &reader);
    static V2Timing decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2Timing &) const = default;
};

// An interim or final translation (translation_preview, translation_final).
struct V2TranslationResult
{
    QString type;
    QString sessionId;
    QString connectionId;
    QString turnId;
    qint64 clientRevision = 0;
    qint64 serverRevision = 0;
    QString text;
    bool isFinal = false;
    std::optional<V2Timing> timing;

    static V2TranslationResult fromJson(const JsonReader &reader);
    static V2TranslationResult decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2TranslationResult &) const = default;
};

// The server's word on one final: it needs it again (final_missing) or gave it up (final_failed).
struct V2TurnMessage
{
    QString type;
    QString turnId;
    qint64 clientRevision = 0;

    static V2TurnMessage fromJson(const JsonReader &reader);
    static V2TurnMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2TurnMessage &) const = default;
};

// A protocol error, with the scope it concerns: connection, session, preview or final.
struct V2ErrorMessage
{
    QString type;
    QString code;
    QString message;
    bool recoverable = false;
    QString scope;
    std::optional<QString> turnId;
    std::optional<qint64> clientRevision;

    static V2ErrorMessage fromJson(const JsonReader &reader);
    static V2ErrorMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2ErrorMessage &) const = default;
};

// ---- Client to server ----

// The client's answer to hello for a new logical session.
struct V2ConfigureMessage
{
    static constexpr const char *type = "configure";

    qint64 protocolVersion = 2;
    QString sessionId;
    QString sourceLanguage;
    QString targetLanguage;

    QByteArray toJson() const;

    bool operator==(const V2ConfigureMessage &) const = default;
};

// One final that still waits for its translation, listed in a resume.
struct V2PendingFinalReference
{
    QString turnId;
    qint64 clientRevision = 0;

    QByteArray toJson() const;

    bool operator==(const V2PendingFinalReference &) const = default;
};

// The client's answer to hello for a session the server has seen on an earlier socket.
struct V2ResumeMessage
{
    static constexpr const char *type = "resume";

    qint64 protocolVersion = 2;
    QString sessionId;
    QString sourceLanguage;
    QString targetLanguage;
    QList<V2PendingFinalReference> pendingFinals;

    QByteArray toJson() const;

    bool operator==(const V2ResumeMessage &) const = default;
};

// The newest interim text of an open turn.
struct V2PreviewMessage
{
    static constexpr const char *type = "translate_preview";

    QString sessionId;
    QString turnId;
    qint64 clientRevision = 0;
    QString sourceText;

    QByteArray toJson() const;

    bool operator==(const V2PreviewMessage &) const = default;
};

// The final text of a closed turn.
struct V2FinalMessage
{
    static constexpr const char *type = "translate_final";

    QString sessionId;
    QString turnId;
    qint64 clientRevision = 0;
    QString sourceText;

    QByteArray toJson() const;

    bool operator==(const V2FinalMessage &) const = default;
};

// The answer to the server's ping.
struct V2PingMessage
{
    static constexpr const char *type = "ping";

    QString clientTime;

    QByteArray toJson() const;

    bool operator==(const V2PingMessage &) const = default;
};

// Ends the logical session on the server.
struct V2CompleteSessionMessage
{
    static constexpr const char *type = "complete_session";

    QString sessionId;

    QByteArray toJson() const;

    bool operator==(const V2CompleteSessionMessage &) const = default;
};

// ---- Client state ----

// A final that was sent, or waits to be sent, and whose translation is not settled yet.
struct V2PendingFinal
{
    QString turnID;
    qint64 clientRevision = 0;
    QString sourceText; // trimmed
    qint64 enqueueSequence = 0; // enqueue order within the logical session, from 0
    bool acknowledged = false;

    bool operator==(const V2PendingFinal &) const = default;
};
