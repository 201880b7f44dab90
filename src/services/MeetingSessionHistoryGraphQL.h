#pragma once

// The JSON shapes the history service exchanges with the backend's GraphQL endpoint, and
// the documents it sends. Request types are written only, response types read only.
// Absent optionals are left out when writing; when reading, a missing or null optional is
// absent and a missing or null required field fails the whole answer.

#include "services/MeetingSessionHistoryTypes.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

namespace MeetingSessionHistoryGraphQL {

// ---- Documents, sent unchanged as the request's "query" ----

extern const char *const recoverMeetingSessionDocument;
extern const char *const startMeetingSessionDocument;
extern const char *const updateMeetingSessionDocument;
extern const char *const meetingSessionRevisionDocument;
extern const char *const meetingSessionsDocument;
extern const char *const meetingSessionDocument;
extern const char *const deleteMeetingSessionDocument;

// The client name written into every start and update.
inline constexpr const char *processedByApp = "macos";

// ---- Request side ----

struct GraphQLRequest
{
    QString query;
    QJsonObject variables;

    QByteArray toJsonBytes() const;
};

struct StartMeetingSessionInput
{
    QString workspaceId;
    std::optional<QString> title;
    QString startedAt; // ISO 8601, UTC, no fractional seconds
    QString processedByApp;
    QString inputLanguage;
    std::optional<QString> translationLanguage;
    bool translationEnabled = false;
    bool recordingEnabled = false;
    std::optional<QString> microphoneLabel;
    MeetingSessionHistorySessionParams sessionParams;

    QJsonObject toJson() const;
};

struct UpdateMeetingSessionInput
{
    qint64 revision = 0;
    QString status;
    QString processedByApp;
    QList<MeetingSessionTranscriptBlock> transcriptJson;
    QList<MeetingSessionTranslationBlock> translationJson;
    std::optional<QString> summaryText;
    std::optional<QString> protocolText;
    std::optional<QString> suggestedAnswerText;
    QString inputLanguage;
    std::optional<QString> translationLanguage;
    bool translationEnabled = false;
    bool recordingEnabled = false;
    std::optional<QString> microphoneLabel;
    std::optional<qint64> durationSeconds;
    std::optional<QString> endedAt;
    MeetingSessionHistorySessionParams sessionParams;
    std::optional<bool> contentSnapshot; // only ever true, on the resend of unreadable content

    QJsonObject toJson() const;
};

struct StartMeetingSessionVariables
{
    StartMeetingSessionInput input;

    QJsonObject toJson() const;
};

struct UpdateMeetingSessionVariables
{
    QString id;
    UpdateMeetingSessionInput input;

    QJsonObject toJson() const;
};

struct MeetingSessionsVariables
{
    QString workspaceId;
    qint64 limit = 0;
    std::optional<QString> cursor;
    std::optional<QString> q;
    std::optional<QString> dateFrom;
    std::optional<QString> dateTo;

    QJsonObject toJson() const;
};

struct MeetingSessionVariables
{
    QString id;

    QJsonObject toJson() const;
};

// ---- Response side ----

struct GraphQLErrorExtensions
{
    std::optional<QString> code;

    static GraphQLErrorExtensions fromJson(const QJsonValue &value, const QString &path);
};

struct GraphQLErrorPayload
{
    std::optional<QString> message;
    std::optional<GraphQLErrorExtensions> extensions;

    static GraphQLErrorPayload fromJson(const QJsonValue &value, const QString &path);
};

// The answer's frame. "data" is kept as it came, to be read into the operation's type
// only when "errors" holds nothing: a server that reports an error may send data that is
// null or of another shape, and the error is what the caller must see.
struct GraphQLEnvelope
{
    std::optional<QJsonValue> data;
    std::optional<QList<GraphQLErrorPayload>> errors;

    // Throws JsonDecodeError when the body is not a JSON object or "errors" is malformed.
    static GraphQLEnvelope fromJsonBytes(const QByteArray &body);
};

struct RemoteSessionResponse
{
    QString id;
    qint64 revision = 0;

    static RemoteSessionResponse fromJson(const QJsonValue &value, const QString &path);
};

struct StartMeetingSessionResponse
{
    RemoteSessionResponse startMeetingSession;
    static StartMeetingSessionResponse fromJson(const QJsonValue &value, const QString &path);
};

struct UpdateMeetingSessionResponse
{
    RemoteSessionResponse updateMeetingSession;
    static UpdateMeetingSessionResponse fromJson(const QJsonValue &value, const QString &path);
};

struct MeetingSessionRevisionResponse
{
    RemoteSessionResponse meetingSessionRevision;
    static MeetingSessionRevisionResponse fromJson(const QJsonValue &value, const QString &path);
};

struct RecoverableSession
{
    QString id;
    qint64 revision = 0;
    std::optional<MeetingSessionHistorySessionParams> sessionParams;

    static RecoverableSession fromJson(const QJsonValue &value, const QString &path);
};

struct RecoverableSessionsConnection
{
    QList<RecoverableSession> items;
    static RecoverableSessionsConnection fromJson(const QJsonValue &value, const QString &path);
};

struct RecoverableSessionsResponse
{
    RecoverableSessionsConnection meetingSessions;
    static RecoverableSessionsResponse fromJson(const QJsonValue &value, const QString &path);
};

struct MeetingSessionsConnection
{
    QList<MeetingSessionHistoryListItem> items;
    std::optional<QString> nextCursor;
    static MeetingSessionsConnection fromJson(const QJsonValue &value, const QString &path);
};

struct MeetingSessionsResponse
{
    MeetingSessionsConnection meetingSessions;
    static MeetingSessionsResponse fromJson(const QJsonValue &value, const QString &path);
};

struct MeetingSessionDetailResponse
{
    MeetingSessionHistoryDetail meetingSession;
    static MeetingSessionDetailResponse fromJson(const QJsonValue &value, const QString &path);
};

struct DeletedMeetingSessionResponse
{
    QString id;
    QString status;
    std::optional<QDateTime> deletedAt;
    qint64 revision = 0;
    static DeletedMeetingSessionResponse fromJson(const QJsonValue &value, const QString &path);
};

struct DeleteMeetingSessionResponse
{
    DeletedMeetingSessionResponse deleteMeetingSession;
    static DeleteMeetingSessionResponse fromJson(const QJsonValue &value, const QString &path);
};

} // namespace MeetingSessionHistoryGraphQL
