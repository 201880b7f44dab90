#include "speech/DeepgramMessages.h"

#include "base/Json.h"

#include <QJsonArray>

namespace {

// Alternatives and utterances are objects with an optional "transcript".
std::optional<QString> transcriptOf(const QJsonValue &value, const QString &path)
{
    return JsonReader::fromValue(value, path).optionalString(QStringLiteral("transcript"));
}

} // namespace

DeepgramMessageEnvelope DeepgramMessageEnvelope::decode(const QByteArray &utf8)
{
    const JsonReader reader = JsonReader::parse(utf8);
    return DeepgramMessageEnvelope{reader.string(QStringLiteral("type"))};
}

DeepgramErrorMessage DeepgramErrorMessage::decode(const QByteArray &utf8)
{
    const JsonReader reader = JsonReader::parse(utf8);
    DeepgramErrorMessage message;
    message.type = reader.optionalString(QStringLiteral("type"));
    message.message = reader.optionalString(QStringLiteral("message"));
    message.description = reader.optionalString(QStringLiteral("description"));
    return message;
}

DeepgramResultsMessage DeepgramResultsMessage::decode(const QByteArray &utf8)
{
    const JsonReader reader = JsonReader::parse(utf8);
    DeepgramResultsMessage message;
    message.type = reader.string(QStringLiteral("type"));

    const JsonReader channel = reader.object(QStringLiteral("channel"));
    const QJsonArray alternatives = channel.array(QStringLiteral("alternatives"));
    for (qsizetype i = 0; i < alternatives.size(); ++i) {
        const QString path = QStringLiteral("channel.alternatives[%1]").arg(i);
        message.channel.alternatives.append(DeepgramTranscriptAlternative{transcriptOf(alternatives.at(i), path)});
    }

    message.isFinal = reader.boolean(QStringLiteral("is_final"));
    message.speechFinal = reader.boolean(QStringLiteral("speech_final"));
    message.start = reader.optionalNumber(QStringLiteral("start"));
    message.duration = reader.optionalNumber(QStringLiteral("duration"));

    if (const auto utterances = reader.optionalArray(QStringLiteral("utterances"))) {
        QList<DeepgramUtterance> list;
        for (qsizetype i = 0; i < utterances->size(); ++i) {
            const QString path = QStringLiteral("utterances[%1]").arg(i);
            list.append(DeepgramUtterance{transcriptOf(utterances->at(i), path)});
        }
        message.utterances = std::move(list);
    }
    return message;
}
