#pragma once

#include "services/MeetingSessionHistoryTypes.h"
#include "services/MeetingSessionHistorySnapshot.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// How the history browser reads a saved meeting: the transcript text it copies and
// summarises, the language name it gives the AI, the local fallback summary, and the
// snapshot that saves the meeting again with a new summary. Pure functions of the record.
namespace KavrelHistoryRecordRules {

// One line split into its bracketed time and the text after it.
struct TimestampedComponents
{
    QString timestamp;
    QString text;
};

// Lines without a readable time get this one.
inline constexpr const char *noTimestamp = "00:00:00";

// "[12:34:56] text": the part between "[" and the first "]" is the time when it has at
// least five characters; otherwise the whole trimmed line is the text.
TimestampedComponents timestampedComponents(const QString &line);

// The text split at every newline character (CR LF counts once).
QStringList splitLines(const QString &text);

// One line per non-blank block, ordered by seq and then timestamp, as
// "[time] speaker: text"; the stored plain text when there are no blocks. Absent when blank.
std::optional<QString> copyableTranscriptText(const MeetingSessionHistoryDetail &detail);
// Whether copyableTranscriptText() has a text, without putting it together (a long meeting's
// screens ask on every change).
bool hasCopyableTranscript(const MeetingSessionHistoryDetail &detail);

// The stored blocks when there are any, else blocks rebuilt from the stored text.
QList<MeetingSessionTranscriptBlock> persistedTranscriptBlocks(const MeetingSessionHistoryDetail &detail);
// The stored blocks when there are any, else the stored text's lines paired by position
// with the transcript blocks.
QList<MeetingSessionTranslationBlock> persistedTranslationBlocks(const MeetingSessionHistoryDetail &detail);

// The whole record as a save sends it, with the summary replaced.
MeetingSessionHistorySnapshot snapshot(const MeetingSessionHistoryDetail &detail, const QString &summaryText);

// "English", "Russian", "German", "Spanish" or "French" for a language code or name.
QString deepSeekLanguageName(const std::optional<QString> &code);

// The first twelve non-empty lines of the transcript as "- " bullets, their times left
// out; the transcript unchanged when no line has text.
QString localFallbackSummary(const QString &transcript);

} // namespace KavrelHistoryRecordRules
