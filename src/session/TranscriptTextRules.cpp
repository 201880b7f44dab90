#include "session/TranscriptTextRules.h"

#include "base/Text.h"

#include <QRegularExpression>

namespace TranscriptTextRules {

bool isSentenceEnd(QChar character)
{
    return character == u'.' || character == u'!' || character == u'?' || character == QChar(0x2026);
}

bool isJoiningPunctuation(QChar character)
{
    return isSentenceEnd(character) || character == u',' || character == u':' || character == u';';
}

QString normalizedTranscriptFragment(const QString &text)
{
    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    QString result = text;
    result.replace(whiteSpace, QStringLiteral(" "));
    return Text::trimmed(result);
}

QString mergedText(const QString &existing, const QString &addition)
{
    const QString trimmedAddition = Text::trimmed(addition);
    if (trimmedAddition.isEmpty())
        return existing;
    const QString trimmedExisting = Text::trimmed(existing);
    if (trimmedExisting.isEmpty())
        return trimmedAddition;
    if (isJoiningPunctuation(trimmedAddition.front()))
        return trimmedExisting + trimmedAddition;
    return trimmedExisting + u' ' + trimmedAddition;
}

bool startsWithCharacters(const QString &text, const QString &prefix)
{
    const qsizetype count = Text::graphemeCount(prefix);
    if (count == 0)
        return true;
    if (Text::graphemeCount(text) < count)
        return false;
    return Text::nfcEquals(Text::graphemePrefix(text, count), prefix);
}

QString transcriptDelta(const QString &current, const QString &previous)
{
    const QString trimmedPrevious = Text::trimmed(previous);
    if (trimmedPrevious.isEmpty())
        return current;
    if (Text::nfcEquals(current, trimmedPrevious))
        return QString();
    if (startsWithCharacters(current, trimmedPrevious)) {
        const QString prefix = Text::graphemePrefix(current, Text::graphemeCount(trimmedPrevious));
        return Text::trimmed(current.mid(prefix.size()));
    }
    if (startsWithCharacters(trimmedPrevious, current))
        return QString();
    // The service sent a new segment that merely begins like the previous one ("I think so",
    // then "I will"): cutting the shared letters would garble it, so it is taken whole.
    return current;
}

} // namespace TranscriptTextRules
