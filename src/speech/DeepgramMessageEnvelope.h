#pragma once

#include <QByteArray>
#include <QString>

// The first reading of every frame from the speech-to-text service: only its type.
struct DeepgramMessageEnvelope
{
    QString type;

    // Throws JsonDecodeError for text that is not a JSON object or has no string "type".
    static DeepgramMessageEnvelope decode(const QByteArray &utf8);
};
