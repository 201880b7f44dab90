#include "services/MeetingSessionHistoryGraphQL.h"

#include "services/MeetingSessionHistoryTypes.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace MeetingSessionHistoryGraphQL {

const char *const recoverMeetingSessionDocument =
    "query RecoverMeetingSession($workspaceId: ID!, $limit: Int) {\n"
    "  meetingSessions(workspaceId: $workspaceId, limit: $limit) {\n"
    "    items {\n"
    "      id\n"
    "      revision\n"
    "      sessionParams\n"
    "    }\n"
    "  }\n"
    "}";

const char *const startMeetingSessionDocument =
    "mutation StartMeetingSession($input: StartMeetingSessionInput!) {\n"
    "  startMeetingSession(input: $input) {\n"
    "    id\n"
    "    revision\n"
    "  }\n"
    "}";

const char *const updateMeetingSessionDocument =
    "mutation UpdateMeetingSession($id: ID!, $input: UpdateMeetingSessionInput!) {\n"
    "  updateMeetingSession(id: $id, input: $input) {\n"
    "    id\n"
    "    revision\n"
    "  }\n"
    "}";

const char *const meetingSessionRevisionDocument =
    "query MeetingSessionRevision($id: ID!) {\n"
    "  meetingSessionRevision(id: $id) {\n"
    "    id\n"
    "    revision\n"
    "  }\n"
    "}";

const char *const meetingSessionsDocument =
    "query MeetingSessions($workspaceId: ID!, $limit: Int, $cursor: String, $q: String, $dateFrom: String, $dateTo: String) {\n"
    "  meetingSessions(workspaceId: $workspaceId, limit: $limit, cursor: $cursor, q: $q, dateFrom: $dateFrom, dateTo: $dateTo) {\n"
    "    items {\n"
    "      id\n"
    "      title\n"
    "      status\n"
    "      startedAt\n"
    "      updatedAt\n"
    "      durationSeconds\n"
    "      processedByApp\n"
    "      previewText\n"
    "      inputLanguage\n"
    "      translationLanguage\n"
    "      translationEnabled\n"
    "      recordingEnabled\n"
    "      wordCount\n"
    "      lineCount\n"
    "      hasSummary\n"
    "      hasProtocol\n"
    "      hasSuggestedAnswer\n"
    "    }\n"
    "    nextCursor\n"
    "  }\n"
    "}";

const char *const meetingSessionDocument =
    "query MeetingSession($id: ID!) {\n"
    "  meetingSession(id: $id) {\n"
    "    id\n"
    "    workspaceId\n"
    "    title\n"
    "    status\n"
    "    startedAt\n"
    "    endedAt\n"
    "    durationSeconds\n"
    "    processedByApp\n"
    "    inputLanguage\n"
    "    translationLanguage\n"
    "    translationEnabled\n"
    "    recordingEnabled\n"
    "    microphoneLabel\n"
    "    previewText\n"
    "    transcriptText\n"
    "    transcriptJson\n"
    "    translationText\n"
    "    translationJson\n"
    "    summaryText\n"
    "    protocolText\n"
    "    suggestedAnswerText\n"
    "    sessionParams\n"
    "    statsJson\n"
    "    wordCount\n"
    "    lineCount\n"
    "    revision\n"
    "    createdAt\n"
    "    updatedAt\n"
    "    deletedAt\n"
    "    hasSummary\n"
    "    hasProtocol\n"
    "    hasSuggestedAnswer\n"
    "  }\n"
    "}";

const char *const deleteMeetingSessionDocument =
    "mutation DeleteMeetingSession($id: ID!) {\n"
    "  deleteMeetingSession(id: $id) {\n"
    "    id\n"
    "    status\n"
    "    deletedAt\n"
    "    revision\n"
    "  }\n"
    "}";

QByteArray GraphQLRequest::toJsonBytes() const
{
    QJsonObject object;
    object.insert(QStringLiteral("query"), query);
    object.insert(QStringLiteral("variables"), variables);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonObject StartMeetingSessionInput::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("workspaceId"), workspaceId);
    Json::putOptional(object, QStringLiteral("title"), title);
    object.insert(QStringLiteral("startedAt"), startedAt);
    object.insert(QStringLiteral("processedByApp"), processedByApp);
    object.insert(QStringLiteral("inputLanguage"), inputLanguage);
    Json::putOptional(object, QStringLiteral("translationLanguage"), translationLanguage);
    object.insert(QStringLiteral("translationEnabled"), translationEnabled);
    object.insert(QStringLiteral("recordingEnabled"), recordingEnabled);
    Json::putOptional(object, QStringLiteral("microphoneLabel"), microphoneLabel);
    object.insert(QStringLiteral("sessionParams"), sessionParams.toJson());
    return object;
}

QJsonObject UpdateMeetingSessionInput::toJson() const
{
    QJsonArray transcript;
    for (const MeetingSessionTranscriptBlock &block : transcriptJson)
        transcript.append(block.toJson());
    QJsonArray translation;
    for (const MeetingSessionTranslationBlock &block : translationJson)
        translation.append(block.toJson());

    QJsonObject object;
    object.insert(QStringLiteral("revision"), revision);
    object.insert(QStringLiteral("status"), status);
    object.insert(QStringLiteral("processedByApp"), processedByApp);
    object.insert(QStringLiteral("transcriptJson"), transcript);
    object.insert(QStringLiteral("translationJson"), translation);
    Json::putOptional(object, QStringLiteral("summaryText"), summaryText);
    Json::putOptional(object, QStringLiteral("protocolText"), protocolText);
    Json::putOptional(object, QStringLiteral("suggestedAnswerText"), suggestedAnswerText);
    object.insert(QStringLiteral("inputLanguage"), inputLanguage);
    Json::putOptional(object, QStringLiteral("translationLanguage"), translationLanguage);
    object.insert(QStringLiteral("translationEnabled"), translationEnabled);
    object.insert(QStringLiteral("recordingEnabled"), recordingEnabled);
    Json::putOptional(object, QStringLiteral("microphoneLabel"), microphoneLabel);
    Json::putOptional(object, QStringLiteral("durationSeconds"), durationSeconds);
    Json::putOptional(object, QStringLiteral("endedAt"), endedAt);
    object.insert(QStringLiteral("sessionParams"), sessionParams.toJson());
    Json::putOptional(object, QStringLiteral("contentSnapshot"), contentSnapshot);
    return object;
}

QJsonObject StartMeetingSessionVariables::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("input"), input.toJson());
    return object;
}

QJsonObject UpdateMeetingSessionVariables::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), id);
    object.insert(QStringLiteral("input"), input.toJson());
    return object;
}

QJsonObject MeetingSessionsVariables::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("workspaceId"), workspaceId);
    object.insert(QStringLiteral("limit"), limit);
    Json::putOptional(object, QStringLiteral("cursor"), cursor);
    Json::putOptional(object, QStringLiteral("q"), q);
    Json::putOptional(object, QStringLiteral("dateFrom"), dateFrom);
    Json::putOptional(object, QStringLiteral("dateTo"), dateTo);
    return object;
}

QJsonObject MeetingSessionVariables::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), id);
    return object;
}

GraphQLErrorExtensions GraphQLErrorExtensions::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    GraphQLErrorExtensions extensions;
    extensions.code = reader.optionalString(QStringLiteral("code"));
    return extensions;
}

GraphQLErrorPayload GraphQLErrorPayload::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    GraphQLErrorPayload payload;
    payload.message = reader.optionalString(QStringLiteral("message"));
    if (reader.has(QStringLiteral("extensions"))) {
        payload.extensions = GraphQLErrorExtensions::fromJson(reader.object().value(QStringLiteral("extensions")),
                                                              reader.pathOf(QStringLiteral("extensions")));
    }
    return payload;
}

GraphQLEnvelope GraphQLEnvelope::fromJsonBytes(const QByteArray &body)
{
    const JsonReader reader = JsonReader::parse(body);
    GraphQLEnvelope envelope;
    if (reader.has(QStringLiteral("data")))
        envelope.data = reader.object().value(QStringLiteral("data"));
    if (const auto errors = reader.optionalArray(QStringLiteral("errors"))) {
        envelope.errors = MeetingSessionHistoryDecoding::list<GraphQLErrorPayload>(*errors, QStringLiteral("errors"),
                                                                                    &GraphQLErrorPayload::fromJson);
    }
    return envelope;
}

RemoteSessionResponse RemoteSessionResponse::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    RemoteSessionResponse response;
    response.id = reader.string(QStringLiteral("id"));
    response.revision = reader.integer(QStringLiteral("revision"));
    return response;
}

namespace {

// The required member of a data object, read with the member type's reader.
template<typename T>
T member(const QJsonValue &value, const QString &path, const QString &key)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    if (!reader.object().contains(key))
        reader.fail(key, QStringLiteral("missing key"));
    if (!reader.has(key))
        reader.fail(key, QStringLiteral("null value for a required key"));
    return T::fromJson(reader.object().value(key), reader.pathOf(key));
}

} // namespace

StartMeetingSessionResponse StartMeetingSessionResponse::fromJson(const QJsonValue &value, const QString &path)
{
    return {member<RemoteSessionResponse>(value, path, QStringLiteral("startMeetingSession"))};
}

UpdateMeetingSessionResponse UpdateMeetingSessionResponse::fromJson(const QJsonValue &value, const QString &path)
{
    return {member<RemoteSessionResponse>(value, path, QStringLiteral("updateMeetingSession"))};
}

MeetingSessionRevisionResponse MeetingSessionRevisionResponse::fromJson(const QJsonValue &value, const QString &path)
{
    return {member<RemoteSessionResponse>(value, path, QStringLiteral("meetingSessionRevision"))};
}

RecoverableSession RecoverableSession::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    RecoverableSession session;
    session.id = reader.string(QStringLiteral("id"));
    session.revision = reader.integer(QStringLiteral("revision"));
    if (reader.has(QStringLiteral("sessionParams"))) {
        session.sessionParams = MeetingSessionHistorySessionParams::fromJson(reader.object().value(QStringLiteral("sessionParams")),
                                                                             reader.pathOf(QStringLiteral("sessionParams")));
    }
    return session;
}

RecoverableSessionsConnection RecoverableSessionsConnection::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    RecoverableSessionsConnection connection;
    connection.items = MeetingSessionHistoryDecoding::list<RecoverableSession>(
        reader.array(QStringLiteral("items")), reader.pathOf(QStringLiteral("items")), &RecoverableSession::fromJson);
    return connection;
}

RecoverableSessionsResponse RecoverableSessionsResponse::fromJson(const QJsonValue &value, const QString &path)
{
    return {member<RecoverableSessionsConnection>(value, path, QStringLiteral("meetingSessions"))};
}

MeetingSessionsConnection MeetingSessionsConnection::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionsConnection connection;
    connection.items = MeetingSessionHistoryDecoding::list<MeetingSessionHistoryListItem>(
        reader.array(QStringLiteral("items")), reader.pathOf(QStringLiteral("items")), &MeetingSessionHistoryListItem::fromJson);
    connection.nextCursor = reader.optionalString(QStringLiteral("nextCursor"));
    return connection;
}

MeetingSessionsResponse MeetingSessionsResponse::fromJson(const QJsonValue &value, const QString &path)
{
    return {member<MeetingSessionsConnection>(value, path, QStringLiteral("meetingSessions"))};
}

MeetingSessionDetailResponse MeetingSessionDetailResponse::fromJson(const QJsonValue &value, const QString &path)
{
    return {member<MeetingSessionHistoryDetail>(value, path, QStringLiteral("meetingSession"))};
}

DeletedMeetingSessionResponse DeletedMeetingSessionResponse::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    DeletedMeetingSessionResponse response;
    response.id = reader.string(QStringLiteral("id"));
    response.status = reader.string(QStringLiteral("status"));
    response.deletedAt = MeetingSessionHistoryDecoding::optionalDate(reader, QStringLiteral("deletedAt"));
    response.revision = reader.integer(QStringLiteral("revision"));
    return response;
}

DeleteMeetingSessionResponse DeleteMeetingSessionResponse::fromJson(const QJsonValue &value, const QString &path)
{
    return {member<DeletedMeetingSessionResponse>(value, path, QStringLiteral("deleteMeetingSession"))};
}

} // namespace MeetingSessionHistoryGraphQL
