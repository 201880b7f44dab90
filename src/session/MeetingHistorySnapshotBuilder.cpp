#include "session/MeetingHistorySnapshotBuilder.h"

#include "base/Text.h"
#include "session/StableTranscriptText.h"

#include <QHash>

#include <algorithm>

namespace MeetingHistorySnapshotBuilder {

namespace {

QString blockID(const SessionTurn &turn)
{
    return QStringLiteral("turn-") + turn.id.toString(QUuid::WithoutBraces).toLower();
}

QString languageName(TranslationLanguageOption language)
{
    return TranslationLanguageOptions::englishName(language).toLower();
}

} // namespace

QList<MeetingSessionTranscriptBlock> transcriptBlocks(const std::vector<SessionTurn> &turns)
{
    QList<MeetingSessionTranscriptBlock> blocks;
    for (const SessionTurn &turn : turns) {
        const QString text = Text::trimmed(turn.text);
        if (text.isEmpty())
            continue;
        MeetingSessionTranscriptBlock block;
        block.id = blockID(turn);
        block.seq = blocks.size() + 1;
        block.timestamp = StableTranscriptText::timestampText(turn.timestamp);
        block.speakerLabel = Text::nilIfEmpty(turn.speakerLabel);
        block.text = text;
        blocks.append(block);
    }
    return blocks;
}

QList<MeetingSessionTranslationBlock> translationBlocks(const std::vector<SessionTurn> &turns,
                                                        const QList<MeetingSessionTranscriptBlock> &blocks,
                                                        TranslationLanguageOption meetingLanguage)
{
    QList<MeetingSessionTranslationBlock> translations;
    QHash<QString, qint64> seqByID;
    for (const MeetingSessionTranscriptBlock &block : blocks)
        seqByID.insert(block.id, block.seq);
    for (const SessionTurn &turn : turns) {
        const QString text = Text::trimmed(turn.translationText);
        const auto seq = seqByID.constFind(blockID(turn));
        if (text.isEmpty() || seq == seqByID.cend())
            continue;
        const QString language = languageName(turn.translationLanguage.value_or(meetingLanguage));
        translations.append(MeetingSessionTranslationBlock{seq.key(), seq.value(), language, text});
    }
    return translations;
}

std::optional<QString> title(const std::vector<SessionTurn> &turns)
{
    for (const SessionTurn &turn : turns) {
        const QString text = Text::trimmed(turn.text);
        if (!text.isEmpty())
            return Text::nilIfEmpty(Text::graphemePrefix(text, 120));
    }
    return std::nullopt;
}

std::optional<QString> preferredText(const QString &transcriptSide, const QString &translationSide)
{
    if (std::optional<QString> text = Text::nilIfEmpty(transcriptSide))
        return text;
    return Text::nilIfEmpty(translationSide);
}

std::optional<MeetingSessionHistorySnapshot> snapshot(const Input &input, MeetingSessionHistoryStatus status,
                                                      bool allowEmptySession)
{
    MeetingSessionHistorySnapshot record;
    record.transcriptBlocks = transcriptBlocks(input.turns);
    const MeetingSettings &settings = input.settings;
    record.translationBlocks = translationBlocks(input.turns, record.transcriptBlocks, settings.translationLanguage);
    record.summaryText = preferredText(input.transcriptSummary, input.translationSummary);
    record.protocolText = preferredText(input.transcriptProtocol, input.translationProtocol);
    record.suggestedAnswerText = preferredText(input.transcriptAnswer, input.translationAnswer);
    if (record.transcriptBlocks.isEmpty() && record.translationBlocks.isEmpty() && !record.summaryText
        && !record.protocolText && !record.suggestedAnswerText && !allowEmptySession)
        return std::nullopt;

    record.title = title(input.turns);
    if (input.startedAt) {
        record.startedAt = *input.startedAt;
    } else if (!input.turns.empty()) {
        const auto earliest = std::min_element(input.turns.begin(), input.turns.end(),
                                               [](const SessionTurn &a, const SessionTurn &b) { return a.timestamp < b.timestamp; });
        record.startedAt = earliest->timestamp;
    } else {
        record.startedAt = input.now;
    }
    // A meeting that has ended stays ended, whatever save comes after its stop.
    if (input.endedAt)
        status = MeetingSessionHistoryStatus::completed;
    if (status == MeetingSessionHistoryStatus::completed)
        record.endedAt = input.endedAt.value_or(input.now);
    const QDateTime end = record.endedAt.value_or(input.now);
    record.durationSeconds = std::max<qint64>(0, (end.toMSecsSinceEpoch() - record.startedAt.toMSecsSinceEpoch()) / 1000);
    record.status = status;
    record.inputLanguage = SourceLanguageOptions::code(settings.sourceLanguage);
    // A meeting that has translations was translated, even one recorded without translation (a
    // draft continued with it, from before the settings were kept); its language is then that
    // of its first translation.
    record.translationEnabled = settings.isTranslationEnabled || !record.translationBlocks.isEmpty();
    if (settings.isTranslationEnabled)
        record.translationLanguage = languageName(settings.translationLanguage);
    else if (!record.translationBlocks.isEmpty())
        record.translationLanguage = record.translationBlocks.first().language;
    record.recordingEnabled = settings.isAudioRecordingEnabled;
    record.microphoneLabel = Text::nilIfEmpty(settings.microphoneName);
    record.sessionParams.client = QStringLiteral("macos");
    record.sessionParams.source = input.source;
    record.sessionParams.appVersion = input.appVersion;
    record.sessionParams.focusMode = input.focusMode;
    record.sessionParams.clientSessionId = input.clientSessionID;
    return record;
}

} // namespace MeetingHistorySnapshotBuilder
