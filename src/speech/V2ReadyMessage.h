#pragma once

#include "base/Json.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The server's confirmation of a configure or resume.
struct V2ReadyMessage
{
    QString type;
    QString sessionId;
    QString connectionId;
    bool resumed = false;

    // Throws JsonDecodeError when a required key is missing, null or of the wrong type.
    static V2ReadyMessage fromJson(const JsonReader &reader);
    static V2ReadyMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2ReadyMessage &) const = default;
};
