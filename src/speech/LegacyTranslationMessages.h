#pragma once

// The messages of the legacy (version 1) live translation relay, and the legacy client's
// queued text.
//
// Reading (relay to client): every message is a JSON object whose "type" selects how the
// rest is read. fromJson() throws JsonDecodeError when a required key is missing, null or
// of the wrong type; an optional key may be missing or null; unknown keys are ignored.
// decode() does the same from the frame's bytes.
//
// Writing (client to relay): toJson() gives compact JSON with the keys in protocol order,
// "type" first.

#include "base/Json.h"

#include <QByteArray>
#include <QString>
#include <QUuid>

#include <optional>

// ---- Relay to client ----

// The type of a legacy relay message, read first from every frame.
struct TranslationMessageEnvelope
{
    QString type;

    static TranslationMessageEnvelope fromJson(const JsonReader &reader);
    static TranslationMessageEnvelope decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const TranslationMessageEnvelope &) const = default;
};

// One revision of a turn's translation from the legacy relay; numbers rise per turn.
struct TranslationRevisionMessage
{
    QString type;
    QString turnId;
    qint64 revision = 0;
    QString text;
    bool isFinal = false;
    std::optional<QString> targetLanguage;

    static TranslationRevisionMessage fromJson(const JsonReader &reader);
    static TranslationRevisionMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const TranslationRevisionMessage &) const = default;
};

// An error reported by the legacy relay.
struct TranslationSocketErrorMessage
{
    QString type;
    std::optional<QString> message;

    static TranslationSocketErrorMessage fromJson(const JsonReader &reader);
    static TranslationSocketErrorMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const TranslationSocketErrorMessage &) const = default;
};

// ---- Client to relay ----

// The legacy client's session setup, sent after the relay says it is ready.
struct TranslationConfigureMessage
{
    static constexpr const char *type = "configure";

    QString sessionId;
    QString sourceLanguage;
    QString targetLanguage;

    QByteArray toJson() const;

    bool operator==(const TranslationConfigureMessage &) const = default;
};

// One text of a turn for the legacy relay to translate.
struct TranslationTurnMessage
{
    static constexpr const char *type = "translate_turn";

    QString turnId;
    QString transcript;
    bool isFinal = false;
    QString sourceLanguage;

    QByteArray toJson() const;

    bool operator==(const TranslationTurnMessage &) const = default;
};

// ---- Client state ----

// One queued text of the legacy client; the queue holds at most one per turn.
struct PendingTranslationChunk
{
    QUuid turnID;
    QString transcript; // trimmed
    bool isFinal = false;

    bool operator==(const PendingTranslationChunk &) const = default;
};
