#pragma once

// The frames the speech-to-text service sends. Every frame is a JSON object; its "type"
// is read first (DeepgramMessageEnvelope) and selects how the rest is read. decode()
// throws JsonDecodeError when the text is not a JSON object, a required key is missing
// or null, or a present value has the wrong JSON type. Unknown keys are ignored.

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The first reading of every frame: only its type, a required string.
struct DeepgramMessageEnvelope
{
    QString type;

    static DeepgramMessageEnvelope decode(const QByteArray &utf8);
};

// A frame of type "Error". Every key is optional.
struct DeepgramErrorMessage
{
    std::optional<QString> type;
    std::optional<QString> message;
    std::optional<QString> description;

    static DeepgramErrorMessage decode(const QByteArray &utf8);
};

// One recognition hypothesis of a Results frame.
struct DeepgramTranscriptAlternative
{
    std::optional<QString> transcript;
};

// One utterance of a Results frame (present when utterances were requested).
struct DeepgramUtterance
{
    std::optional<QString> transcript;
};

struct DeepgramResultsChannel
{
    // May be empty.
    QList<DeepgramTranscriptAlternative> alternatives;
};

// A frame of type "Results": an interim or final transcript. "type", "channel",
// "channel.alternatives", "is_final" and "speech_final" are required.
struct DeepgramResultsMessage
{
    QString type;
    DeepgramResultsChannel channel;
    bool isFinal = false;     // "is_final"
    bool speechFinal = false; // "speech_final"
    std::optional<double> start;    // seconds from the start of the stream
    std::optional<double> duration; // seconds
    std::optional<QList<DeepgramUtterance>> utterances;

    static DeepgramResultsMessage decode(const QByteArray &utf8);
};
