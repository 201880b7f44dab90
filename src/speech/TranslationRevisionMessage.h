#pragma once

#include "base/Json.h"

#include <QByteArray>
#include <QString>

#include <optional>

// One revision of a turn's translation from the legacy relay; numbers rise per turn.
struct TranslationRevisionMessage
{
    QString type;
    QString turnId;
    qint64 revision = 0;
    QString text;
    bool isFinal = false;
    std::optional<QString> targetLanguage;

    // Throws JsonDecodeError when a required key is missing, null or of the wrong type.
    static TranslationRevisionMessage fromJson(const JsonReader &reader);
    static TranslationRevisionMessage decode(const QByteArray &bytes) { return fromJson(JsonReader::parse(bytes)); }

    bool operator==(const TranslationRevisionMessage &) const = default;
};
