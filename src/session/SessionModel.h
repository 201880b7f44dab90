#pragma once

// The value types of a listening session, shared by the session engine and every window
// that shows a session.
//
// Who owns what:
//  - SessionTurn values live only in SessionTurnStore (the dialogue of the running session);
//    everything else (rows, texts, the draft, history blocks) is derived from them.
//  - DialogueEntry values are the published rows made by PublishedTranscript.
//  - The enumerations are plain settings values held by SubtitleViewModel.

#include "localization/KavrelAppLanguage.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QUuid>

#include <array>
#include <optional>

// Session state as the menu bar, the mini window and the main window show it.
enum class SubtitleStatus { idle, listening, stopped };

namespace SubtitleStatuses {
// "Idle", "Listening", "Stopped".
QString rawValue(SubtitleStatus status);
// Exactly one of the three texts; anything else is no status.
std::optional<SubtitleStatus> fromRawValue(const QString &raw);
} // namespace SubtitleStatuses

// The spoken language of the meeting. Declaration order is the order of the pickers.
enum class SourceLanguageOption { russian, english, german, spanish, french };

// The target language of live translation. Declaration order is the order of the pickers
// and of the translation languages offered for a source.
enum class TranslationLanguageOption { english, russian, german, spanish, french };

namespace SourceLanguageOptions {
inline constexpr std::array<SourceLanguageOption, 5> allCases = {
    SourceLanguageOption::russian, SourceLanguageOption::english, SourceLanguageOption::german,
    SourceLanguageOption::spanish, SourceLanguageOption::french};
// The case name: "russian", "english", ...
QString rawValue(SourceLanguageOption option);
std::optional<SourceLanguageOption> fromRawValue(const QString &raw);
// Two-letter code sent to the speech and translation services: "ru", "en", "de", "es", "fr".
QString code(SourceLanguageOption option);
// The English name sent to the AI services: "Russian", "English", ...
QString englishName(SourceLanguageOption option);
// The interface language whose localized name names this language.
KavrelAppLanguage interfaceLanguage(SourceLanguageOption option);
} // namespace SourceLanguageOptions

namespace TranslationLanguageOptions {
inline constexpr std::array<TranslationLanguageOption, 5> allCases = {
    TranslationLanguageOption::english, TranslationLanguageOption::russian, TranslationLanguageOption::german,
    TranslationLanguageOption::spanish, TranslationLanguageOption::french};
QString rawValue(TranslationLanguageOption option);
std::optional<TranslationLanguageOption> fromRawValue(const QString &raw);
QString code(TranslationLanguageOption option);
QString englishName(TranslationLanguageOption option);
KavrelAppLanguage interfaceLanguage(TranslationLanguageOption option);
} // namespace TranslationLanguageOptions

// True when both name the same language (a translation may never target its own source).
bool isSameLanguage(SourceLanguageOption source, TranslationLanguageOption target);

// How a start treats the previous session's transcript.
enum class ListeningSessionStartMode { newSession, continuePrevious };

namespace ListeningSessionStartModes {
// "newSession" or "continuePrevious", as the log lines name them.
QString caseName(ListeningSessionStartMode mode);
} // namespace ListeningSessionStartModes

// One published row of the transcript or translation column.
struct DialogueEntry
{
    QUuid id;
    // 1-based speaker number; absent when the row has no speaker.
    std::optional<int> speakerNumber;
    QString text;
    QDateTime timestamp;
    // A row that is not final yet.
    bool isDraft = false;

    bool operator==(const DialogueEntry &) const = default;
};

// One turn of the running session: the unit from which rows, texts, the draft and history
// blocks are made. At most one turn is open, and it is the last.
struct SessionTurn
{
    QUuid id;
    std::optional<QString> speakerLabel;
    QString text;
    std::optional<QString> translationSpeakerLabel;
    // The committed translation; empty until one arrives.
    QString translationText;
    // The language the translation was made in, fixed when it arrives or a preview is kept in
    // its place: a meeting continued in another language leaves the earlier ones as they were.
    // Unknown for a turn restored from a draft that did not keep it.
    std::optional<TranslationLanguageOption> translationLanguage;
    // When the turn began.
    QDateTime timestamp;
    // False while the turn is open and may grow.
    bool isClosed = false;

    bool operator==(const SessionTurn &) const = default;
};

// The settings a meeting was recorded with, as its history record names them. They are the
// meeting's own: what is chosen for the next meeting changes nothing of them.
struct MeetingSettings
{
    SourceLanguageOption sourceLanguage = SourceLanguageOption::russian;
    bool isTranslationEnabled = false;
    TranslationLanguageOption translationLanguage = TranslationLanguageOption::english;
    bool isAudioRecordingEnabled = false;
    QString microphoneName;

    // The settings of a meeting that is listened to again with `next`: its languages and
    // microphone stay those it began with; a translation or recording begun later counts.
    MeetingSettings continuedWith(const MeetingSettings &next) const;

    bool operator==(const MeetingSettings &) const = default;
};

Q_DECLARE_METATYPE(SubtitleStatus)
Q_DECLARE_METATYPE(SourceLanguageOption)
Q_DECLARE_METATYPE(TranslationLanguageOption)
Q_DECLARE_METATYPE(ListeningSessionStartMode)
Q_DECLARE_METATYPE(DialogueEntry)
Q_DECLARE_METATYPE(SessionTurn)
