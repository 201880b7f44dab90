#pragma once

#include "base/Json.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The server's receipt of a preview or a final (preview_ack, final_ack).
struct V2AckMessage
{
    QString type;
    QString turnId;
    qint64 clientRevision = 0;
    QString status;

    // Throws JsonDecodeError when a required key is missing, null or of the wrong type.
    static V2AckMessage fromJson(const JsonReader &reader);
    static V2AckMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2AckMessage &) const = default;
};
