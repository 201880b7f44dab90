#pragma once

#include "base/Json.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The server's first message on a socket.
struct V2HelloMessage
{
    QString type;
    QString connectionId;

    // Throws JsonDecodeError when a required key is missing, null or of the wrong type.
    static V2HelloMessage fromJson(const JsonReader &reader);
    static V2HelloMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2HelloMessage &) const = default;
};
