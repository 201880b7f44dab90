#pragma once

#include "base/Json.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The type of a legacy relay message, read first from every frame.
struct TranslationMessageEnvelope
{
    QString type;

    // Throws JsonDecodeError when a required key is missing, null or of the wrong type.
    static TranslationMessageEnvelope fromJson(const JsonReader &reader);
    static TranslationMessageEnvelope decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const TranslationMessageEnvelope &) const = default;
};
