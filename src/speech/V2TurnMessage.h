#pragma once

#include "base/Json.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The server's word on one final: it needs it again (final_missing) or gave it up (final_failed).
struct V2TurnMessage
{
    QString type;
    QString turnId;
    qint64 clientRevision = 0;

    // Throws JsonDecodeError when a required key is missing, null or of the wrong type.
    static V2TurnMessage fromJson(const JsonReader &reader);
    static V2TurnMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2TurnMessage &) const = default;
};
