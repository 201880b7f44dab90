#pragma once

#include <QString>
#include <QStringList>

class KavrelLocalizationStore;

// Texts built on this machine when an AI request fails, so that a panel is never left empty.
// They work on the lines of a rendered transcript ("[HH:mm:ss] text").
namespace AILocalFallback {

// Non-blank lines without their leading time stamp, inner white space collapsed to one blank.
QStringList cleanedTranscriptLines(const QString &text);

// Up to twelve lines as "- " bullets; the text itself when no line is left.
QString summary(const QString &text);
// A three-part protocol: topics, decisions and open questions found by keywords. The
// headings and notes are in the store's language (English without one).
QString meetingProtocol(const QString &text, const KavrelLocalizationStore *texts = nullptr);
// A hint built around the latest question, or around the last line when nobody asked one.
QString answer(const QString &text, const KavrelLocalizationStore *texts = nullptr);

} // namespace AILocalFallback
