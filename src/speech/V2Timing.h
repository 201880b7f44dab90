#pragma once

#include "base/Json.h"

#include <QByteArray>
#include <QString>

#include <optional>

// How long the server took for one translation, in milliseconds.
struct V2Timing
{
    qint64 queueMs = 0;
    qint64 providerFirstTokenMs = 0;
    qint64 providerTotalMs = 0;
    qint64 totalMs = 0;

    // Throws JsonDecodeError when a required key is missing, null or of the wrong type.
    static V2Timing fromJson(const JsonReader &reader);
    static V2Timing decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const V2Timing &) const = default;
};
