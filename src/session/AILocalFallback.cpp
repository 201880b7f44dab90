#include "session/AILocalFallback.h"

#include "base/Text.h"
#include "localization/KavrelLocalizationStore.h"
#include "session/StableTranscriptText.h"

#include <QRegularExpression>

namespace AILocalFallback {

namespace {

QString bullets(const QStringList &lines)
{
    QStringList bulleted;
    bulleted.reserve(lines.size());
    for (const QString &line : lines)
        bulleted.append(QStringLiteral("- ") + line);
    return bulleted.join(QLatin1Char('\n'));
}

QString inLanguage(const KavrelLocalizationStore *texts, const QString &key)
{
    return texts ? texts->localized(key) : key;
}

} // namespace

QStringList cleanedTranscriptLines(const QString &text)
{
    static const QRegularExpression whitespaceRun(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    QStringList lines;
    const QStringList pieces = text.split(QLatin1Char('\n'));
    for (const QString &piece : pieces) {
        const QString trimmed = Text::trimmed(piece);
        QString line = StableTranscriptText::textAfterTimestamp(trimmed).value_or(trimmed);
        line.replace(whitespaceRun, QStringLiteral(" "));
        line = Text::trimmed(line);
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

QString summary(const QString &text)
{
    const QStringList lines = cleanedTranscriptLines(text);
    if (lines.isEmpty())
        return text;
    return bullets(lines.mid(0, 12));
}

QString meetingProtocol(const QString &text, const KavrelLocalizationStore *texts)
{
    const QStringList lines = cleanedTranscriptLines(text);
    if (lines.isEmpty())
        return text;

    QStringList decisions;
    QStringList questions;
    for (const QString &line : lines) {
        const QString lower = line.toLower();
        if (lower.contains(QLatin1String("decide")) || lower.contains(QLatin1String("agreed"))
            || lower.contains(QLatin1String("will ")))
            decisions.append(line);
        if (line.contains(QLatin1Char('?')))
            questions.append(line);
    }

    const QStringList parts{
        inLanguage(texts, QStringLiteral("Meeting Protocol")),
        QString(),
        inLanguage(texts, QStringLiteral("1. Topics Discussed")),
        bullets(lines.mid(0, 8)),
        QString(),
        inLanguage(texts, QStringLiteral("2. Decisions Made")),
        decisions.isEmpty() ? inLanguage(texts, QStringLiteral("- No explicit decisions detected in the local fallback."))
                            : bullets(decisions),
        QString(),
        inLanguage(texts, QStringLiteral("3. Open Questions")),
        questions.isEmpty() ? inLanguage(texts, QStringLiteral("- No explicit open questions detected in the local fallback."))
                            : bullets(questions),
    };
    return parts.join(QLatin1Char('\n'));
}

QString answer(const QString &text, const KavrelLocalizationStore *texts)
{
    const QStringList lines = cleanedTranscriptLines(text);
    if (lines.isEmpty())
        return text;
    const QString &lastLine = lines.last();
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        if (it->contains(QLatin1Char('?'))) {
            return inLanguage(texts, QStringLiteral("A concise fallback answer can acknowledge the latest question and "
                                                    "respond to its main point directly."))
                + QStringLiteral("\n\n") + inLanguage(texts, QStringLiteral("Latest question:")) + QLatin1Char('\n') + *it
                + QStringLiteral("\n\n") + inLanguage(texts, QStringLiteral("Most recent context:")) + QLatin1Char('\n')
                + lastLine;
        }
    }
    return inLanguage(texts, QStringLiteral("A safe fallback answer is to confirm the latest point and add the most "
                                            "recent concrete detail from the conversation."))
        + QStringLiteral("\n\n") + inLanguage(texts, QStringLiteral("Latest context:")) + QLatin1Char('\n') + lastLine;
}

} // namespace AILocalFallback
