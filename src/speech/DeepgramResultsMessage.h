#pragma once

#include "speech/DeepgramResultsChannel.h"
#include "speech/DeepgramUtterance.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A frame of type "Results": an interim or final transcript.
struct DeepgramResultsMessage
{
    QString type;
    DeepgramResultsChannel channel;
    bool isFinal = false;     // "is_final"
    bool speechFinal = false; // "speech_final"
    std::optional<double> start;    // seconds from the start of the stream
    std::optional<double> duration; // seconds
    std::optional<QList<DeepgramUtterance>> utterances;

    // Throws JsonDecodeError when "type", "channel", "channel.alternatives", "is_final" or
    // "speech_final" is missing or null, or any value has the wrong JSON type. Unknown keys
    // are ignored.
    static DeepgramResultsMessage decode(const QByteArray &utf8);
};
