#include "history/KavrelHistoryRecordRules.h"

#include "base/Text.h"

#include <QRegularExpression>

#include <algorithm>

namespace KavrelHistoryRecordRules {

namespace {

constexpr qsizetype minimumTimestampLength = 5;
constexpr qsizetype fallbackLineLimit = 12;

QString idPrefix(const MeetingSessionHistoryDetail &detail)
{
    return QStringLiteral("history-") + detail.id + QStringLiteral("-transcript-");
}

// Trimmed, non-empty lines in order.
QStringList keptLines(const QString &text)
{
    QStringList kept;
    for (const QString &line : splitLines(text)) {
        const QString trimmedLine = Text::trimmed(line);
        if (!trimmedLine.isEmpty())
            kept.append(trimmedLine);
    }
    return kept;
}

} // namespace

QStringList splitLines(const QString &text)
{
    static const QRegularExpression newline(QStringLiteral("\r\n|[\n\v\f\r\u0085\u2028\u2029]"));
    return text.split(newline);
}

TimestampedComponents timestampedComponents(const QString &line)
{
    const QString trimmedLine = Text::trimmed(line);
    TimestampedComponents result;
    result.timestamp = QString::fromLatin1(noTimestamp);
    result.text = trimmedLine;
    const qsizetype close = trimmedLine.indexOf(QLatin1Char(']'));
    if (!trimmedLine.startsWith(QLatin1Char('[')) || close < 0)
        return result;
    const QString candidate = Text::trimmed(trimmedLine.mid(1, close - 1));
    if (Text::graphemeCount(candidate) < minimumTimestampLength)
        return result;
    result.timestamp = candidate;
    result.text = Text::trimmed(trimmedLine.mid(close + 1));
    return result;
}

std::optional<QString> copyableTranscriptText(const MeetingSessionHistoryDetail &detail)
{
    if (!detail.transcriptJson || detail.transcriptJson->isEmpty())
        return Text::nilIfEmpty(detail.transcriptText);

    QList<MeetingSessionTranscriptBlock> blocks = *detail.transcriptJson;
    std::stable_sort(blocks.begin(), blocks.end(), [](const auto &a, const auto &b) {
        if (a.seq != b.seq)
            return a.seq < b.seq;
        return a.timestamp < b.timestamp;
    });

    QStringList lines;
    for (const MeetingSessionTranscriptBlock &block : blocks) {
        const QString text = Text::trimmed(block.text);
        if (text.isEmpty())
            continue;
        const QString timestamp = Text::trimmed(block.timestamp);
        const std::optional<QString> speaker = Text::nilIfEmpty(block.speakerLabel);
        QString line;
        if (!timestamp.isEmpty())
            line = QStringLiteral("[") + timestamp + QStringLiteral("] ");
        if (speaker)
            line += *speaker + QStringLiteral(": ");
        lines.append(line + text);
    }
    return Text::nilIfEmpty(lines.join(QLatin1Char('\n')));
}

bool hasCopyableTranscript(const MeetingSessionHistoryDetail &detail)
{
    if (!detail.transcriptJson || detail.transcriptJson->isEmpty())
        return Text::nilIfEmpty(detail.transcriptText).has_value();
    return std::any_of(detail.transcriptJson->begin(), detail.transcriptJson->end(),
                       [](const MeetingSessionTranscriptBlock &block) { return !Text::trimmed(block.text).isEmpty(); });
}

QList<MeetingSessionTranscriptBlock> persistedTranscriptBlocks(const MeetingSessionHistoryDetail &detail)
{
    if (detail.transcriptJson && !detail.transcriptJson->isEmpty())
        return *detail.transcriptJson;
    if (!detail.transcriptText)
        return {};

    QList<MeetingSessionTranscriptBlock> blocks;
    qint64 number = 0;
    for (const QString &line : keptLines(*detail.transcriptText)) {
        // A line holding only a time makes no block but keeps its number, so the numbers
        // stay those of the stored lines.
        ++number;
        const TimestampedComponents components = timestampedComponents(line);
        if (components.text.isEmpty())
            continue;
        MeetingSessionTranscriptBlock block;
        block.id = idPrefix(detail) + QString::number(number);
        block.seq = number;
        block.timestamp = components.timestamp;
        block.text = components.text;
        blocks.append(block);
    }
    return blocks;
}

QList<MeetingSessionTranslationBlock> persistedTranslationBlocks(const MeetingSessionHistoryDetail &detail)
{
    if (detail.translationJson && !detail.translationJson->isEmpty())
        return *detail.translationJson;
    if (!detail.translationText)
        return {};

    // A blank language names nothing; the record then says "translation", as when it is absent.
    QString language = detail.translationLanguage ? Text::trimmed(*detail.translationLanguage).toLower() : QString();
    if (language.isEmpty())
        language = QStringLiteral("translation");
    const QList<MeetingSessionTranscriptBlock> transcript = persistedTranscriptBlocks(detail);
    qint64 highestSeq = 0;
    for (const MeetingSessionTranscriptBlock &block : transcript)
        highestSeq = std::max(highestSeq, block.seq);

    QList<MeetingSessionTranslationBlock> blocks;
    const QStringList lines = keptLines(Text::trimmed(*detail.translationText));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        MeetingSessionTranslationBlock block;
        if (i < transcript.size()) {
            block.transcriptBlockId = transcript.at(i).id;
            block.seq = transcript.at(i).seq;
        } else {
            // Lines beyond the transcript get numbers past every transcript block, so they
            // never claim the id of a block they do not translate.
            const qint64 number = std::max<qint64>(i + 1, highestSeq + (i - transcript.size()) + 1);
            block.transcriptBlockId = idPrefix(detail) + QString::number(number);
            block.seq = number;
        }
        block.language = language;
        block.text = timestampedComponents(lines.at(i)).text;
        blocks.append(block);
    }
    return blocks;
}

MeetingSessionHistorySnapshot snapshot(const MeetingSessionHistoryDetail &detail, const QString &summaryText)
{
    MeetingSessionHistorySnapshot result;
    result.title = detail.title;
    result.startedAt = detail.startedAt;
    result.endedAt = detail.endedAt;
    result.durationSeconds = detail.durationSeconds;
    result.status = detail.status.toLower() == QLatin1String("active") ? MeetingSessionHistoryStatus::active
                                                                        : MeetingSessionHistoryStatus::completed;
    result.inputLanguage = Text::nilIfEmpty(detail.inputLanguage).value_or(QStringLiteral("en")).toLower();
    if (detail.translationEnabled) {
        if (auto language = Text::nilIfEmpty(detail.translationLanguage))
            result.translationLanguage = language->toLower();
    }
    result.translationEnabled = detail.translationEnabled;
    result.recordingEnabled = detail.recordingEnabled;
    result.microphoneLabel = Text::nilIfEmpty(detail.microphoneLabel);
    result.transcriptBlocks = persistedTranscriptBlocks(detail);
    result.translationBlocks = persistedTranslationBlocks(detail);
    result.summaryText = Text::nilIfEmpty(summaryText);
    result.protocolText = Text::nilIfEmpty(detail.protocolText);
    result.suggestedAnswerText = Text::nilIfEmpty(detail.suggestedAnswerText);
    if (detail.sessionParams) {
        result.sessionParams = *detail.sessionParams;
    } else {
        result.sessionParams.client = Text::nilIfEmpty(detail.processedByApp).value_or(QStringLiteral("macos"));
        result.sessionParams.source = QStringLiteral("history");
    }
    return result;
}

QString deepSeekLanguageName(const std::optional<QString> &code)
{
    if (!code)
        return QStringLiteral("English");
    const QStringList pieces = Text::trimmed(*code).toLower().split(QLatin1Char('-'), Qt::SkipEmptyParts);
    const QString first = pieces.isEmpty() ? QString() : pieces.first();
    if (first == QLatin1String("ru") || first == QLatin1String("russian"))
        return QStringLiteral("Russian");
    if (first == QLatin1String("de") || first == QLatin1String("german"))
        return QStringLiteral("German");
    if (first == QLatin1String("es") || first == QLatin1String("spanish"))
        return QStringLiteral("Spanish");
    if (first == QLatin1String("fr") || first == QLatin1String("french"))
        return QStringLiteral("French");
    return QStringLiteral("English");
}

QString localFallbackSummary(const QString &transcript)
{
    QStringList bullets;
    for (const QString &line : splitLines(transcript)) {
        const QString text = timestampedComponents(line).text;
        if (text.isEmpty())
            continue;
        bullets.append(QStringLiteral("- ") + text);
        if (bullets.size() == fallbackLineLimit)
            break;
    }
    if (bullets.isEmpty())
        return transcript;
    return bullets.join(QLatin1Char('\n'));
}

} // namespace KavrelHistoryRecordRules
