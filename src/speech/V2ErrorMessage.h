#pragma once

#include "base/Json.h"

#include <QByteArray>
#include <QString>

#include <optional>

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

    // Throws JsonDecodeError when a required key is missing, null or of the wrong type.
    static V2ErrorMessage fromJson(const JsonReader &reader);
    static V2ErrorMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2ErrorMessage &) const = default;
};
