#include "session/StableTranscriptText.h"

#include "base/Json.h"
#include "base/Text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>

namespace StableTranscriptText {

namespace {

const QRegularExpression &timestampPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^\\[(\\d{2}):(\\d{2}):(\\d{2})\\]\\s*(.*)$"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

const QRegularExpression &labelPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^([^:\\[][^:]{0,80}):\\s*(.*)$"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

const QString fence = QStringLiteral("```");

} // namespace

QString timestampText(const QDateTime &timestamp)
{
    return QLocale::c().toString(timestamp.toLocalTime().time(), QStringLiteral("HH:mm:ss"));
}

QString transcriptLines(const std::vector<SessionTurn> &turns)
{
    QStringList lines;
    lines.reserve(qsizetype(turns.size()));
    for (const SessionTurn &turn : turns)
        lines.append(QLatin1Char('[') + timestampText(turn.timestamp) + QStringLiteral("] ") + turn.text);
    return lines.join(QLatin1Char('\n'));
}

std::optional<StableWindow> stableWindowSelection(const std::vector<SessionTurn> &turns, int nextStableTurnIndex)
{
    std::vector<int> closedIndices;
    for (int i = 0; i < int(turns.size()); ++i) {
        if (turns[std::size_t(i)].isClosed)
            closedIndices.push_back(i);
    }
    const int closedCount = int(closedIndices.size());
    if (nextStableTurnIndex >= closedCount)
        return std::nullopt;
    const int lo = std::max(nextStableTurnIndex - 2, 0);
    const int hi = std::min(nextStableTurnIndex + 5, closedCount);
    if (lo >= hi)
        return std::nullopt;
    return StableWindow{closedIndices[std::size_t(lo)], closedIndices[std::size_t(hi - 1)] + 1, lo};
}

QString stableWindowSignature(const std::vector<SessionTurn> &window)
{
    QStringList parts;
    parts.reserve(qsizetype(window.size()));
    for (const SessionTurn &turn : window) {
        parts.append(turn.id.toString(QUuid::WithoutBraces) + QLatin1Char('|') + timestampText(turn.timestamp)
                     + QLatin1Char('|') + turn.speakerLabel.value_or(QString()) + QLatin1Char('|') + turn.text
                     + QLatin1Char('|') + (turn.isClosed ? QStringLiteral("true") : QStringLiteral("false")));
    }
    return parts.join(QStringLiteral("||"));
}

KavrelChatCompletionRequest reconstructionRequest(const QString &transcriptLines)
{
    const QString systemPrompt = QStringList{
        QStringLiteral("Reconstruct clean readable dialogue from raw live STT."),
        QStringLiteral("Fix only obvious transcription mistakes and punctuation."),
        QStringLiteral("Preserve chronology, timestamps, and exactly one output item per input line."),
        QStringLiteral("Never infer, identify, split, merge, or add speakers. Do not add speaker labels."),
        QStringLiteral("Return ONLY valid JSON in this exact shape:"),
        QStringLiteral("[{\"timestamp\":\"HH:mm:ss\",\"text\":\"clean text\"}]"),
        QStringLiteral("No markdown, no explanations, no code fences."),
    }.join(QLatin1Char('\n'));

    KavrelChatCompletionRequest request;
    request.model = QLatin1String(model);
    request.messages.append(KavrelChatMessage{QStringLiteral("system"), systemPrompt});
    request.messages.append(KavrelChatMessage{QStringLiteral("user"),
                                              QStringLiteral("Reconstruct this stable dialogue window:\n\n") + transcriptLines});
    request.temperature = 0;
    request.maxTokens = maxTokens;
    request.stream = false;
    return request;
}

QString stripMarkdownCodeFence(const QString &text)
{
    QString result = Text::trimmed(text);
    if (!result.startsWith(fence))
        return result;
    const qsizetype lineFeed = result.indexOf(QLatin1Char('\n'));
    if (lineFeed >= 0)
        result = result.mid(lineFeed + 1);
    if (result.endsWith(fence))
        result.chop(fence.size());
    return Text::trimmed(result);
}

std::optional<QStringList> structuredDialogueTexts(const QString &reply)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(reply.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QStringList texts;
    try {
        const QJsonArray lines = document.array();
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const JsonReader line = JsonReader::fromValue(lines.at(i), QStringLiteral("[%1]").arg(i));
            line.string(QStringLiteral("timestamp"));
            line.optionalString(QStringLiteral("speaker"));
            texts.append(line.string(QStringLiteral("text")));
        }
    } catch (const JsonDecodeError &) {
        return std::nullopt;
    }
    return texts;
}

std::optional<QString> textAfterTimestamp(const QString &line)
{
    const QRegularExpressionMatch match = timestampPattern().match(line);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(4);
}

QList<TranslatedLine> parseTranslatedStableLines(const QString &text)
{
    QList<TranslatedLine> lines;
    const QStringList pieces = text.split(QLatin1Char('\n'));
    for (const QString &piece : pieces) {
        const QString trimmed = Text::trimmed(piece);
        if (trimmed.isEmpty())
            continue;
        const QString body = textAfterTimestamp(trimmed).value_or(trimmed);
        const QRegularExpressionMatch labelled = labelPattern().match(body);
        if (labelled.hasMatch())
            lines.append(TranslatedLine{Text::nilIfEmpty(labelled.captured(1)), Text::trimmed(labelled.captured(2))});
        else
            lines.append(TranslatedLine{std::nullopt, body});
    }
    return lines;
}

QString translationText(const TranslatedLine &line)
{
    if (line.speakerLabel)
        return *line.speakerLabel + QStringLiteral(": ") + line.text;
    return line.text;
}

} // namespace StableTranscriptText
