#include "session/StableTranscriptText.h"

#include "base/Json.h"
#include "base/Text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

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
