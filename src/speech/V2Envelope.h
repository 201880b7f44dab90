#pragma once

#include "base/Json.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The part every server message has: its type, which selects how the rest is read.
struct V2Envelope
{
    QString type;

    // Throws JsonDecodeError when a required key is missing, null or of the wrong type.
    static V2Envelope fromJson(const JsonReader &reader);
    static V2Envelope decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2Envelope &) const = default;
};
