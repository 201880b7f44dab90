#pragma once

// The records of the meeting-history backend: what a query asks for and what the server
// answers, and the reading rules they share.
//
// Reading: fromJson() throws JsonDecodeError when the value is not an object, a required
// key is missing or null, or a value has the wrong type; an optional key may be missing or
// null. Every date of a history answer goes through the backend's date rule (ISO 8601 with
// or without fractional seconds). Writing leaves absent optionals out.

#include "base/Json.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// ---- Reading rules ----

// Reading helpers shared by the history records and wire types.
namespace MeetingSessionHistoryDecoding {

QDateTime date(const JsonReader &reader, const QString &key);
std::optional<QDateTime> optionalDate(const JsonReader &reader, const QString &key);

// Each element decoded with the element reader; the first failure fails the whole list.
template<typename T>
QList<T> list(const QJsonArray &array, const QString &path, const std::function<T(const QJsonValue &, const QString &)> &element)
{
    QList<T> result;
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        result.append(element(array.at(i), QStringLiteral("%1[%2]").arg(path).arg(i)));
    return result;
}

} // namespace MeetingSessionHistoryDecoding

// ---- Status ----

// The state of a saved meeting. It travels as its raw value.
enum class MeetingSessionHistoryStatus {
    active,    // still being recorded, more updates follow
    completed, // stopped; this is the final content
};

namespace MeetingSessionHistoryStatusValue {

QString rawValue(MeetingSessionHistoryStatus status);
// Exact, case-sensitive match of "active" or "completed"; anything else is no status.
std::optional<MeetingSessionHistoryStatus> fromRawValue(const QString &raw);

} // namespace MeetingSessionHistoryStatusValue

// ---- Content of a record ----

// One dialogue turn of a saved transcript.
struct MeetingSessionTranscriptBlock
{
    QString id;        // "turn-<lower-case uuid>"
    qint64 seq = 0;    // position from 1
    QString timestamp; // local wall-clock "HH:mm:ss"; text, not a date
    std::optional<QString> speakerLabel;
    QString text;

    static MeetingSessionTranscriptBlock fromJson(const QJsonValue &value, const QString &path = QString());
    QJsonObject toJson() const;

    bool operator==(const MeetingSessionTranscriptBlock &) const = default;
};

// The translation of one transcript block.
struct MeetingSessionTranslationBlock
{
    QString transcriptBlockId;
    qint64 seq = 0;
    QString language; // lower-case English name, as the snapshot's translationLanguage
    QString text;

    static MeetingSessionTranslationBlock fromJson(const QJsonValue &value, const QString &path = QString());
    QJsonObject toJson() const;

    bool operator==(const MeetingSessionTranslationBlock &) const = default;
};

// Facts about the client session that produced a record; the server keeps them with it.
// clientSessionId is how an earlier start whose answer was lost is found again.
struct MeetingSessionHistorySessionParams
{
    QString client;                         // always "macos" from this program
    QString source;                         // "system_audio"
    std::optional<QString> appVersion;
    std::optional<bool> focusMode;
    std::optional<QString> clientSessionId; // "kavrel-macos-history-<lower-case uuid>"

    static MeetingSessionHistorySessionParams fromJson(const QJsonValue &value, const QString &path = QString());
    QJsonObject toJson() const;

    bool operator==(const MeetingSessionHistorySessionParams &) const = default;
};

// Counters the server keeps per record; read only.
struct MeetingSessionHistoryStats
{
    std::optional<qint64> wordCount;
    std::optional<qint64> lineCount;
    std::optional<bool> hasSummary;
    std::optional<bool> hasProtocol;
    std::optional<bool> hasSuggestedAnswer;

    static MeetingSessionHistoryStats fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const MeetingSessionHistoryStats &) const = default;
};

// ---- The list ----

// One page request of the history list.
struct MeetingSessionHistoryListQuery
{
    qint64 limit = 20;
    std::optional<QString> cursor;      // the previous page's nextCursor
    std::optional<QString> searchQuery;
    std::optional<QDateTime> dateFrom;
    std::optional<QDateTime> dateTo;

    bool operator==(const MeetingSessionHistoryListQuery &) const = default;
};

// One row of the history list. The status is kept as the server's text, unvalidated.
struct MeetingSessionHistoryListItem
{
    QString id;
    std::optional<QString> title;
    QString status;
    QDateTime startedAt;
    QDateTime updatedAt;
    std::optional<qint64> durationSeconds;
    std::optional<QString> processedByApp;
    std::optional<QString> previewText;
    std::optional<QString> inputLanguage;
    std::optional<QString> translationLanguage;
    bool translationEnabled = false;
    bool recordingEnabled = false;
    std::optional<qint64> wordCount;
    std::optional<qint64> lineCount;
    bool hasSummary = false;
    bool hasProtocol = false;
    bool hasSuggestedAnswer = false;

    static MeetingSessionHistoryListItem fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const MeetingSessionHistoryListItem &) const = default;
};

// One page of the history list, in the server's order.
struct MeetingSessionHistoryListPage
{
    QList<MeetingSessionHistoryListItem> items;
    std::optional<QString> nextCursor; // absent on the last page
};

// ---- One record ----

// The server's identifier and revision of a record after a start or an update; the next
// update quotes both.
struct MeetingSessionHistoryRemoteState
{
    QString id;
    qint64 revision = 0;
};

// A whole saved meeting as the server returns it. transcriptJson, translationJson and
// statsJson are JSON values (arrays and an object), not texts holding JSON.
struct MeetingSessionHistoryDetail
{
    QString id;
    std::optional<QString> workspaceId;
    std::optional<QString> title;
    QString status;
    QDateTime startedAt;
    std::optional<QDateTime> endedAt;
    std::optional<qint64> durationSeconds;
    std::optional<QString> processedByApp;
    std::optional<QString> inputLanguage;
    std::optional<QString> translationLanguage;
    bool translationEnabled = false;
    bool recordingEnabled = false;
    std::optional<QString> microphoneLabel;
    std::optional<QString> previewText;
    std::optional<QString> transcriptText;
    std::optional<QList<MeetingSessionTranscriptBlock>> transcriptJson;
    std::optional<QString> translationText;
    std::optional<QList<MeetingSessionTranslationBlock>> translationJson;
    std::optional<QString> summaryText;
    std::optional<QString> protocolText;
    std::optional<QString> suggestedAnswerText;
    std::optional<MeetingSessionHistorySessionParams> sessionParams;
    std::optional<MeetingSessionHistoryStats> statsJson;
    std::optional<qint64> wordCount;
    std::optional<qint64> lineCount;
    qint64 revision = 0; // an update of this record must quote it
    std::optional<QDateTime> createdAt;
    QDateTime updatedAt;
    std::optional<QDateTime> deletedAt;
    bool hasSummary = false;
    bool hasProtocol = false;
    bool hasSuggestedAnswer = false;

    static MeetingSessionHistoryDetail fromJson(const QJsonValue &value, const QString &path = QString());

    bool operator==(const MeetingSessionHistoryDetail &) const = default;
};
