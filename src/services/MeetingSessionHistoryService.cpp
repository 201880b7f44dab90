#include "services/MeetingSessionHistoryService.h"

#include "accounts/AuthorizedRequest.h"
#include "accounts/AuthService.h"
#include "accounts/AuthServiceError.h"
#include "base/Dates.h"
#include "base/Json.h"
#include "base/TaskOutcome.h"
#include "base/Text.h"
#include "platform/NetworkError.h"
#include "platform/UserDefaults.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>

using namespace MeetingSessionHistoryGraphQL;

namespace {

const QString dataPath = QStringLiteral("data");

// The fields that a start and an update both send: which app wrote the record and the
// session's languages, switches and parameters.
template<typename Input>
void copySessionSettings(const MeetingSessionHistorySnapshot &snapshot, Input &input)
{
    input.processedByApp = QString::fromLatin1(processedByApp);
    input.inputLanguage = snapshot.inputLanguage;
    input.translationLanguage = snapshot.translationLanguage;
    input.translationEnabled = snapshot.translationEnabled;
    input.recordingEnabled = snapshot.recordingEnabled;
    input.microphoneLabel = snapshot.microphoneLabel;
    input.sessionParams = snapshot.sessionParams;
}

StartMeetingSessionInput makeStartInput(const MeetingSessionHistorySnapshot &snapshot, const QString &workspaceID)
{
    StartMeetingSessionInput input;
    input.workspaceId = workspaceID;
    input.title = snapshot.title;
    input.startedAt = Dates::formatIso8601(snapshot.startedAt);
    copySessionSettings(snapshot, input);
    return input;
}

UpdateMeetingSessionVariables makeUpdateVariables(const QString &id, qint64 revision,
                                                  const MeetingSessionHistorySnapshot &snapshot, bool contentSnapshot)
{
    UpdateMeetingSessionInput input;
    input.revision = revision;
    input.status = MeetingSessionHistoryStatusValue::rawValue(snapshot.status);
    copySessionSettings(snapshot, input);
    input.transcriptJson = snapshot.transcriptBlocks;
    input.translationJson = snapshot.translationBlocks;
    input.summaryText = snapshot.summaryText;
    input.protocolText = snapshot.protocolText;
    input.suggestedAnswerText = snapshot.suggestedAnswerText;
    input.durationSeconds = snapshot.durationSeconds;
    if (snapshot.endedAt)
        input.endedAt = Dates::formatIso8601(*snapshot.endedAt);
    if (contentSnapshot)
        input.contentSnapshot = true;

    UpdateMeetingSessionVariables variables;
    variables.id = id;
    variables.input = std::move(input);
    return variables;
}

std::optional<QString> formattedDate(const std::optional<QDateTime> &date)
{
    if (!date)
        return std::nullopt;
    return Dates::formatIso8601(*date);
}

// The variables of the documents that name one meeting by its id.
QJsonObject sessionIdVariables(const QString &id)
{
    MeetingSessionVariables variables;
    variables.id = id;
    return variables.toJson();
}

// Any record of the answers that carries the id and revision.
template<typename Record>
MeetingSessionHistoryRemoteState remoteStateOf(const Record &record)
{
    MeetingSessionHistoryRemoteState state;
    state.id = record.id;
    state.revision = record.revision;
    return state;
}

MeetingSessionHistoryRemoteState updatedRemoteState(const QJsonValue &data)
{
    const UpdateMeetingSessionResponse response = UpdateMeetingSessionResponse::fromJson(data, dataPath);
    return remoteStateOf(response.updateMeetingSession);
}

// Qt's network errors that stand for a temporary condition of the network or the host:
// timed out, host not found, cannot connect, connection lost, not connected. Qt has no code
// of its own for "network unreachable" or "host unreachable" (no route, as when offline):
// those socket errors arrive as the unknown network error.
bool isTransientCode(QNetworkReply::NetworkError code)
{
    switch (code) {
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return true;
    default:
        return false;
    }
}

// A status by which the server says it read the request and will not take it. A 401 refuses
// the credentials, not the request (the next attempt carries a fresh token); 408 and 429 ask to
// come back later; 5xx and anything outside 4xx say nothing of the request.
bool isRefusalStatus(int status)
{
    return status >= 400 && status <= 499 && status != 401 && status != 408 && status != 429;
}

} // namespace

MeetingSessionHistoryService::MeetingSessionHistoryService(AuthService *authService, QObject *parent)
    : MeetingSessionHistoryService(authService,
                                   authService ? authService->configurationStore() : AppConfigurationStore(nullptr),
                                   parent)
{
}

MeetingSessionHistoryService::MeetingSessionHistoryService(AuthService *authService, AppConfigurationStore configuration,
                                                           QObject *parent)
    : QObject(parent)
    , m_authService(authService)
    , m_configuration(std::move(configuration))
    , m_manager(new QNetworkAccessManager(this))
    , m_transport(m_manager)
{
    m_transport.setMaximumBodySize(maximumReplyBodySize);
}

MeetingSessionHistoryService::~MeetingSessionHistoryService() = default;

void MeetingSessionHistoryService::setRequestTimeout(std::chrono::milliseconds timeout)
{
    m_transport.setTimeout(timeout);
}

// ---- Configuration ----

QCoro::Task<AuthSession> MeetingSessionHistoryService::resolvedAuthSession(std::optional<QString> accountID)
{
    QPointer<AuthService> authService = m_authService;
    if (!authService)
        throw MeetingSessionHistoryServiceError::missingAuthSession();
    try {
        AuthSession session = co_await authService->activeSession();
        // Another account's token never carries this account's meeting.
        if (accountID && session.user.id != *accountID)
            throw MeetingSessionHistoryServiceError::missingAuthSession();
        co_return session;
    } catch (const AuthServiceError &error) {
        // This is also what the auth service throws when nobody is signed in. A refresh the
        // server could not carry out (5xx, 408, 429) says nothing of the sign-in, and goes on
        // as the passing failure it is.
        if (error.errorCase() == AuthServiceError::Case::requestFailed
            && !AuthService::isTransientFailure(std::current_exception()))
            throw MeetingSessionHistoryServiceError::missingAuthSession();
        throw;
    }
}

MeetingSessionHistoryService::Configuration MeetingSessionHistoryService::makeConfiguration(const AuthSession &session) const
{
    const QString text = m_configuration.resolvedValue(AppConfigurationKind::authBackendBaseURL);
    const QUrl base(text, QUrl::StrictMode);
    if (!base.isValid() || base.isRelative() || base.host().isEmpty())
        throw MeetingSessionHistoryServiceError::invalidBackendBaseURL(text);

    QUrl endpoint = base;
    QString path = base.path();
    if (!path.endsWith(QLatin1Char('/')))
        path.append(QLatin1Char('/'));
    path.append(QLatin1String("graphql"));
    endpoint.setPath(path);

    Configuration configuration;
    configuration.graphQLEndpoint = endpoint;
    configuration.workspaceID = resolvedWorkspaceID(session);
    return configuration;
}

QString MeetingSessionHistoryService::resolvedWorkspaceID(const AuthSession &session) const
{
    const AuthenticatedUser &user = session.user;
    auto referenceID = [](const std::optional<AuthenticatedUser::WorkspaceReference> &reference) -> std::optional<QString> {
        if (!reference)
            return std::nullopt;
        return reference->id;
    };
    std::optional<QString> firstListed;
    if (user.workspaces && !user.workspaces->isEmpty())
        firstListed = user.workspaces->first().id;

    const std::optional<QString> userCandidates[] = {
        user.currentWorkspaceID,
        user.defaultWorkspaceID,
        user.workspaceID,
        referenceID(user.currentWorkspace),
        referenceID(user.defaultWorkspace),
        referenceID(user.workspace),
        firstListed,
    };
    for (const auto &candidate : userCandidates) {
        if (auto value = Text::nilIfEmpty(candidate))
            return *value;
    }

    return m_configuration.resolvedValue(AppConfigurationKind::defaultWorkspaceID);
}

// ---- Transport ----

QCoro::Task<QJsonValue> MeetingSessionHistoryService::performGraphQLRequest(QUrl endpoint, QString accessToken, QString query,
                                                                           QJsonObject variables, CancellationToken token)
{
    const QNetworkRequest request = AuthorizedRequest::json(endpoint, accessToken);

    GraphQLRequest graphQLRequest;
    graphQLRequest.query = query;
    graphQLRequest.variables = variables;
    const QByteArray body = graphQLRequest.toJsonBytes();

    const HttpReply reply = co_await m_transport.send(request, QByteArrayLiteral("POST"), body, token);

    if (reply.status == 0)
        throw MeetingSessionHistoryServiceError::invalidResponse();
    if (reply.status < 200 || reply.status > 299) {
        if (auto error = graphqlRequestError(reply.body, reply.status))
            throw error->withHttpStatus(reply.status);
        throw MeetingSessionHistoryServiceError::invalidResponse().withHttpStatus(reply.status);
    }

    // Errors are read before data: a server that fails a field reports it in "errors" and
    // may send "data" as null or without the field.
    const GraphQLEnvelope envelope = GraphQLEnvelope::fromJsonBytes(reply.body);
    if (envelope.errors && !envelope.errors->isEmpty())
        throw serviceError(envelope.errors->first());
    if (!envelope.data)
        throw MeetingSessionHistoryServiceError::invalidResponse();
    co_return *envelope.data;
}

std::optional<MeetingSessionHistoryServiceError> MeetingSessionHistoryService::graphqlRequestError(const QByteArray &body,
                                                                                                 int status)
{
    try {
        const GraphQLEnvelope envelope = GraphQLEnvelope::fromJsonBytes(body);
        if (envelope.errors && !envelope.errors->isEmpty())
            return serviceError(envelope.errors->first());
    } catch (const JsonDecodeError &) {
        // Not a GraphQL answer; the body text is the message.
    }

    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = Text::trimmed(decoder.decode(body));
    if (decoder.hasError() || text.isEmpty())
        return std::nullopt;
    // A gateway's page in place of the server's answer: its status is all it says.
    if (!Text::isWrittenForPeople(text))
        return MeetingSessionHistoryServiceError::answeredWithStatus(status);
    return MeetingSessionHistoryServiceError::graphqlRequestFailed(text);
}

MeetingSessionHistoryServiceError MeetingSessionHistoryService::serviceError(const GraphQLErrorPayload &payload)
{
    QString message = QStringLiteral("GraphQL request failed.");
    if (payload.message && !Text::trimmed(*payload.message).isEmpty())
        message = *payload.message;
    const std::optional<QString> code = payload.extensions ? payload.extensions->code : std::nullopt;
    if (code == QLatin1String("MEETING_CONTENT_UNAVAILABLE"))
        return MeetingSessionHistoryServiceError::meetingContentUnavailable(message).withServerCode(code);
    return MeetingSessionHistoryServiceError::graphqlRequestFailed(message).withServerCode(code);
}

bool MeetingSessionHistoryService::isTransientNetworkError(const std::exception_ptr &error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const NetworkError &networkError) {
        // Our own request timer reports a time-out; Qt's cancellation code never counts.
        if (networkError.kind() == NetworkError::Kind::timedOut)
            return true;
        return isTransientCode(networkError.code());
    } catch (...) {
        return false;
    }
}

bool MeetingSessionHistoryService::isRetryableError(const std::exception_ptr &error)
{
    using Case = MeetingSessionHistoryServiceError::Case;
    if (!error || isCancellation(error))
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const MeetingSessionHistoryServiceError &serviceError) {
        const int status = serviceError.httpStatus();
        switch (serviceError.errorCase()) {
        case Case::missingAuthSession:
            return false;
        case Case::invalidBackendBaseURL:
            // Not the server's word: the record waits for the address to be mended as it waits
            // for a network.
            return true;
        case Case::invalidResponse:
            // An answer that says nothing readable, unless its status does.
            return !isRefusalStatus(status);
        case Case::graphqlRequestFailed:
        case Case::meetingContentUnavailable:
            // A GraphQL error in a 2xx answer is the server's own refusal; beside another status
            // the status decides (a gateway may wrap its 503 in a GraphQL error).
            return status != 0 && !isRefusalStatus(status);
        }
        return false;
    } catch (...) {
        // No answer, a broken one, or one that does not read (a body cut short that the network
        // stack took for a whole one, a compressed body that does not decompress): the request
        // may not even have reached the server.
        return true;
    }
}

bool MeetingSessionHistoryService::isMeetingNotFoundError(const std::exception_ptr &error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const MeetingSessionHistoryServiceError &serviceError) {
        return serviceError.serverCode() == QLatin1String(notFoundCode);
    } catch (...) {
        return false;
    }
}

bool MeetingSessionHistoryService::isOutdatedRevisionError(const std::exception_ptr &error)
{
    return error && errorMessage(error).contains(QLatin1String("revision is outdated"), Qt::CaseInsensitive);
}

// ---- Operations ----

QCoro::Task<MeetingSessionHistoryService::RequestContext> MeetingSessionHistoryService::resolvedRequestContext(
    std::optional<QString> accountID)
{
    QPointer<MeetingSessionHistoryService> self(this);
    const AuthSession session = co_await resolvedAuthSession(accountID);
    if (!self)
        throw CancellationError();
    const Configuration configuration = makeConfiguration(session);
    RequestContext context;
    context.endpoint = configuration.graphQLEndpoint;
    context.accessToken = session.accessToken;
    context.workspaceID = configuration.workspaceID;
    co_return context;
}

QCoro::Task<MeetingSessionHistoryRemoteState> MeetingSessionHistoryService::startSession(MeetingSessionHistorySnapshot snapshot,
                                                                                        CancellationToken token,
                                                                                        std::optional<QString> accountID)
{
    QPointer<MeetingSessionHistoryService> self(this);
    const RequestContext context = co_await resolvedRequestContext(accountID);
    if (!self)
        throw CancellationError();
    const std::optional<QString> clientSessionID = snapshot.sessionParams.clientSessionId;

    if (clientSessionID && m_uncertainStartClientSessionIDs.contains(*clientSessionID)) {
        // An earlier start with this id got no answer; it may have created the record.
        MeetingSessionsVariables variables;
        variables.workspaceId = context.workspaceID;
        variables.limit = recoveryLookupLimit;
        const QJsonObject variablesJson = variables.toJson();
        const QJsonValue data = co_await performGraphQLRequest(context.endpoint, context.accessToken,
                                                               QString::fromLatin1(recoverMeetingSessionDocument),
                                                               variablesJson, token);
        if (!self)
            throw CancellationError();
        const RecoverableSessionsResponse response = RecoverableSessionsResponse::fromJson(data, dataPath);
        for (const RecoverableSession &item : response.meetingSessions.items) {
            if (item.sessionParams && item.sessionParams->clientSessionId == clientSessionID) {
                m_uncertainStartClientSessionIDs.remove(*clientSessionID);
                co_return remoteStateOf(item);
            }
        }
    }

    StartMeetingSessionVariables variables;
    variables.input = makeStartInput(snapshot, context.workspaceID);
    const QJsonObject variablesJson = variables.toJson();

    const TaskOutcome<QJsonValue> data = co_await outcomeOf(
        performGraphQLRequest(context.endpoint, context.accessToken,
                              QString::fromLatin1(startMeetingSessionDocument), variablesJson, token));
    if (!self)
        throw CancellationError();

    if (data.failed()) {
        // The request may have reached the server although its answer was lost, cut short or
        // replaced by a gateway's: the next start with this id looks for it first.
        if (clientSessionID && isRetryableError(data.error))
            m_uncertainStartClientSessionIDs.insert(*clientSessionID);
        std::rethrow_exception(data.error);
    }
    const StartMeetingSessionResponse response = StartMeetingSessionResponse::fromJson(*data.value, dataPath);
    const MeetingSessionHistoryRemoteState state = remoteStateOf(response.startMeetingSession);
    if (clientSessionID)
        m_uncertainStartClientSessionIDs.remove(*clientSessionID);
    co_return state;
}

bool MeetingSessionHistoryService::isStartUncertain(const QString &clientSessionID) const
{
    return m_uncertainStartClientSessionIDs.contains(clientSessionID);
}

void MeetingSessionHistoryService::noteUncertainStart(const QString &clientSessionID)
{
    if (!clientSessionID.isEmpty())
        m_uncertainStartClientSessionIDs.insert(clientSessionID);
}

QCoro::Task<MeetingSessionHistoryRemoteState> MeetingSessionHistoryService::updateSessionRecoveringUnreadableContent(
    RequestContext context, QString id, qint64 revision, MeetingSessionHistorySnapshot snapshot, CancellationToken token)
{
    const QString document = QString::fromLatin1(updateMeetingSessionDocument);
    bool resendAsContentSnapshot = false;
    {
        const QJsonObject variables = makeUpdateVariables(id, revision, snapshot, false).toJson();
        try {
            const QJsonValue data =
                co_await performGraphQLRequest(context.endpoint, context.accessToken, document, variables, token);
            co_return updatedRemoteState(data);
        } catch (const MeetingSessionHistoryServiceError &error) {
            if (error.errorCase() != MeetingSessionHistoryServiceError::Case::meetingContentUnavailable)
                throw;
            resendAsContentSnapshot = true;
        }
    }
    Q_ASSERT(resendAsContentSnapshot);

    // The server cannot read what it holds of this record: send the whole content again,
    // marked as a full snapshot, once.
    const QJsonObject variables = makeUpdateVariables(id, revision, snapshot, true).toJson();
    const QJsonValue data = co_await performGraphQLRequest(context.endpoint, context.accessToken, document, variables, token);
    co_return updatedRemoteState(data);
}

QCoro::Task<MeetingSessionHistoryRemoteState> MeetingSessionHistoryService::updateSession(QString id, qint64 revision,
                                                                                         MeetingSessionHistorySnapshot snapshot,
                                                                                         CancellationToken token,
                                                                                         std::optional<QString> accountID)
{
    QPointer<MeetingSessionHistoryService> self(this);
    const RequestContext context = co_await resolvedRequestContext(accountID);
    if (!self)
        throw CancellationError();

    const TaskOutcome<MeetingSessionHistoryRemoteState> first =
        co_await outcomeOf(updateSessionRecoveringUnreadableContent(context, id, revision, snapshot, token));
    if (!self)
        throw CancellationError();
    if (first.succeeded())
        co_return *first.value;
    if (!isOutdatedRevisionError(first.error))
        std::rethrow_exception(first.error);

    // Someone else saved in between: take the server's revision and try once more.
    const QJsonObject variablesJson = sessionIdVariables(id);
    const QJsonValue data = co_await performGraphQLRequest(context.endpoint, context.accessToken,
                                                           QString::fromLatin1(meetingSessionRevisionDocument),
                                                           variablesJson, token);
    if (!self)
        throw CancellationError();
    const MeetingSessionRevisionResponse response = MeetingSessionRevisionResponse::fromJson(data, dataPath);
    const qint64 currentRevision = response.meetingSessionRevision.revision;
    const MeetingSessionHistoryRemoteState state =
        co_await updateSessionRecoveringUnreadableContent(context, id, currentRevision, snapshot, token);
    co_return state;
}

QCoro::Task<MeetingSessionHistoryRemoteState> MeetingSessionHistoryService::updateSessionAtRevision(
    QString id, qint64 revision, MeetingSessionHistorySnapshot snapshot, CancellationToken token)
{
    const RequestContext context = co_await resolvedRequestContext();
    const MeetingSessionHistoryRemoteState state =
        co_await updateSessionRecoveringUnreadableContent(context, id, revision, snapshot, token);
    co_return state;
}

QCoro::Task<MeetingSessionHistoryListPage> MeetingSessionHistoryService::fetchSessions(MeetingSessionHistoryListQuery query,
                                                                                      CancellationToken token)
{
    const RequestContext context = co_await resolvedRequestContext();

    MeetingSessionsVariables variables;
    variables.workspaceId = context.workspaceID;
    variables.limit = query.limit;
    variables.cursor = Text::nilIfEmpty(query.cursor);
    variables.q = Text::nilIfEmpty(query.searchQuery);
    variables.dateFrom = formattedDate(query.dateFrom);
    variables.dateTo = formattedDate(query.dateTo);
    const QJsonObject variablesJson = variables.toJson();

    const QJsonValue data = co_await performGraphQLRequest(context.endpoint, context.accessToken,
                                                           QString::fromLatin1(meetingSessionsDocument), variablesJson, token);
    const MeetingSessionsResponse response = MeetingSessionsResponse::fromJson(data, dataPath);
    MeetingSessionHistoryListPage page;
    page.items = response.meetingSessions.items;
    page.nextCursor = response.meetingSessions.nextCursor;
    co_return page;
}

QCoro::Task<MeetingSessionHistoryDetail> MeetingSessionHistoryService::fetchSessionDetail(QString id, CancellationToken token)
{
    const RequestContext context = co_await resolvedRequestContext();
    const QJsonObject variablesJson = sessionIdVariables(id);
    const QJsonValue data = co_await performGraphQLRequest(context.endpoint, context.accessToken,
                                                           QString::fromLatin1(meetingSessionDocument), variablesJson, token);
    MeetingSessionDetailResponse response = MeetingSessionDetailResponse::fromJson(data, dataPath);
    co_return std::move(response.meetingSession);
}

QCoro::Task<void> MeetingSessionHistoryService::deleteSession(QString id, CancellationToken token)
{
    const RequestContext context = co_await resolvedRequestContext();
    const QJsonObject variablesJson = sessionIdVariables(id);
    const QJsonValue data = co_await performGraphQLRequest(context.endpoint, context.accessToken,
                                                           QString::fromLatin1(deleteMeetingSessionDocument),
                                                           variablesJson, token);
    // The answer must have the expected shape; nothing of it is needed.
    DeleteMeetingSessionResponse::fromJson(data, dataPath);
}
