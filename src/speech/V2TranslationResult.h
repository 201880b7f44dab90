#pragma once

#include "base/Json.h"
#include "speech/V2Timing.h"

#include <QByteArray>
#include <QString>

#include <optional>

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

    // Throws JsonDecodeError when a required key is missing, null or of the wrong type.
    static V2TranslationResult fromJson(const JsonReader &reader);
    static V2TranslationResult decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2TranslationResult &) const = default;
};
