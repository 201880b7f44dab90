#pragma once

#include "localization/KavrelAppLanguage.h"
#include "services/MeetingSessionHistoryTypes.h"

#include <QDateTime>
#include <QString>

#include <optional>

class KavrelLocalizationStore;

// The texts the history screens derive from a saved meeting. Keys go through the given
// localization store; texts from the record are returned as stored.
namespace KavrelHistoryLabels {

// "mm:ss" below an hour, "hh:mm:ss" from an hour on (the hours grow past two digits);
// "00:00" for no duration or less than a second.
QString durationLabel(const std::optional<qint64> &durationSeconds);

// "EN -> DE" with translation on, "EN • No translation" otherwise, each side by its code
// (languageCode); nothing without an input language.
std::optional<QString> languagePairLabel(const MeetingSessionHistoryListItem &item,
                                         const KavrelLocalizationStore &localization);

// "Completed" and "Active" localized; any other status as stored.
QString statusLabel(const QString &status, const KavrelLocalizationStore &localization);

// The trimmed title, else the trimmed preview, else localized "Untitled".
QString displayTitle(const std::optional<QString> &title, const std::optional<QString> &previewText,
                     const KavrelLocalizationStore &localization);

// A stored audio source in words ("system_audio+microphone" is "System audio and
// microphone"); a value this program does not write is shown as stored.
QString audioSourceLabel(const QString &source, const KavrelLocalizationStore &localization);

// A stored language, its code ("ru") or its English name ("english") in any case, by its
// name in the interface language; any other value upper-cased.
QString languageName(const QString &stored, const KavrelLocalizationStore &localization);

// A stored language, its code ("ru") or its English name ("english") in any case, by its
// code upper-cased ("EN"); any other value upper-cased. The input is stored as a code and the
// translation target as an English name, and a pill shows both alike.
QString languageCode(const QString &stored);

// The detail footer's two lines: status, source in words, app and microphone joined by
// " • "; the names of the input and translation languages joined by " -> " (localized
// "No translation" without one). Either may be empty. The record itself is left as stored.
struct FooterLines
{
    QString first;
    QString second;
};
FooterLines footerLines(const MeetingSessionHistoryDetail &detail, const KavrelLocalizationStore &localization);

// A meeting's start time in the interface language: medium date and short time.
QString formattedForHistory(const QDateTime &date, KavrelAppLanguage language);

} // namespace KavrelHistoryLabels
