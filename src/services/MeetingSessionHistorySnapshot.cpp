#include "services/MeetingSessionHistorySnapshot.h"

#include "base/Dates.h"

#include <QStringList>

namespace {

// Layout: twenty components joined by "::"; the transcript and translation components
// hold their blocks joined by "||", each block its fields joined by "|".
//
// Backslash, colon and bar inside a value get a backslash in front, so every unescaped ':'
// and '|' is a separator and the layout reads back in exactly one way (a block has a fixed
// number of fields, so an empty field next to a block separator is no ambiguity either).
// An absent optional is the empty text; a present but empty text is "\e", which escaping
// can never produce, so absent and empty stay apart.
QString escaped(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char(':') || c == QLatin1Char('|'))
            result.append(QLatin1Char('\\'));
        result.append(c);
    }
    return result;
}

QString requiredText(const QString &text)
{
    return escaped(text);
}

QString optionalText(const std::optional<QString> &text)
{
    if (!text)
        return QString();
    if (text->isEmpty())
        return QStringLiteral("\\e");
    return escaped(*text);
}

QString dateText(const QDateTime &date)
{
    return escaped(Dates::formatIso8601(date));
}

QString optionalDate(const std::optional<QDateTime> &date)
{
    return date ? dateText(*date) : QString();
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString optionalBool(const std::optional<bool> &value)
{
    return value ? boolText(*value) : QString();
}

QString optionalInteger(const std::optional<qint64> &value)
{
    return value ? QString::number(*value) : QString();
}

} // namespace

QString MeetingSessionHistorySnapshot::signature() const
{
    QStringList transcript;
    transcript.reserve(transcriptBlocks.size());
    for (const MeetingSessionTranscriptBlock &block : transcriptBlocks) {
        const QStringList fields{requiredText(block.id), QString::number(block.seq), requiredText(block.timestamp),
                                 optionalText(block.speakerLabel), requiredText(block.text)};
        transcript.append(fields.join(QLatin1Char('|')));
    }

    QStringList translation;
    translation.reserve(translationBlocks.size());
    for (const MeetingSessionTranslationBlock &block : translationBlocks) {
        const QStringList fields{requiredText(block.transcriptBlockId), QString::number(block.seq),
                                 requiredText(block.language), requiredText(block.text)};
        translation.append(fields.join(QLatin1Char('|')));
    }

    const QStringList components{
        optionalText(title),
        MeetingSessionHistoryStatusValue::rawValue(status),
        dateText(startedAt),
        optionalDate(endedAt),
        optionalInteger(durationSeconds),
        requiredText(inputLanguage),
        optionalText(translationLanguage),
        boolText(translationEnabled),
        boolText(recordingEnabled),
        optionalText(microphoneLabel),
        optionalText(summaryText),
        optionalText(protocolText),
        optionalText(suggestedAnswerText),
        requiredText(sessionParams.client),
        requiredText(sessionParams.source),
        optionalText(sessionParams.appVersion),
        optionalBool(sessionParams.focusMode),
        optionalText(sessionParams.clientSessionId),
        transcript.join(QStringLiteral("||")),
        translation.join(QStringLiteral("||")),
    };
    return components.join(QStringLiteral("::"));
}
