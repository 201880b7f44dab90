#pragma once

#include "accounts/AppConfigurationStore.h"
#include "accounts/AuthSession.h"
#include "base/Cancellation.h"
#include "platform/HttpTransport.h"
#include "services/MeetingSessionHistoryTypes.h"
#include "services/MeetingSessionHistoryGraphQL.h"
#include "services/MeetingSessionHistoryServiceError.h"
#include "services/MeetingSessionHistorySnapshot.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <optional>

class AuthService;

// The client of the backend's meeting-history GraphQL endpoint. The session engine saves
// every listening session through one instance; the history browser lists, opens, re-saves
// and deletes meetings through another. Every operation takes a fresh token and resolves
// the endpoint and workspace anew; the only state kept between calls is the set of client
// session ids whose start may have reached the server although its answer was lost.
//
// Failures: MeetingSessionHistoryServiceError, NetworkError (no HTTP answer, or the request
// time-out), JsonDecodeError (an answer of the wrong shape), CancellationError, and
// failures of the auth service other than its requestFailed case (which becomes
// missingAuthSession, unless the server failed to carry out a refresh: 5xx, 408, 429).
class MeetingSessionHistoryService final : public QObject
{
    Q_OBJECT

public:
    struct Configuration
    {
        QUrl graphQLEndpoint;
        QString workspaceID;
    };

    // The recovery of an uncertain start looks through this many recent meetings.
    static constexpr qint64 recoveryLookupLimit = 50;
    // The largest answer taken: a long meeting's detail with its transcript and translation.
    // A day-long meeting's record is well under a megabyte; the cap keeps what the JSON decoder
    // may cost on the main thread (some twenty times the body in memory) bounded.
    static constexpr qint64 maximumReplyBodySize = 8 * 1024 * 1024;

    // Resolves the base URL and default workspace with the auth service's configuration store.
    explicit MeetingSessionHistoryService(AuthService *authService, QObject *parent = nullptr);
    MeetingSessionHistoryService(AuthService *authService, AppConfigurationStore configuration, QObject *parent = nullptr);
    ~MeetingSessionHistoryService() override;

    // Time-out of every request (60 s unless set).
    void setRequestTimeout(std::chrono::milliseconds timeout);

    // Creates the server record. When an earlier start with the same client session id
    // failed on the network, the server is searched for that start first and its record is
    // returned instead of creating a second one. Calls must not overlap.
    // With an account, nothing is sent unless the session signed in is that account's
    // (missingAuthSession otherwise); the same for updateSession().
    QCoro::Task<MeetingSessionHistoryRemoteState> startSession(MeetingSessionHistorySnapshot snapshot,
                                                               CancellationToken token = CancellationToken(),
                                                               std::optional<QString> accountID = std::nullopt);
    // True while a start with this client session id may have created a record whose answer
    // never arrived: the next start looks for that record first.
    bool isStartUncertain(const QString &clientSessionID) const;
    // A start with this id may have reached the server in an earlier run of the program.
    void noteUncertainStart(const QString &clientSessionID);
    // Writes the whole snapshot over the record. Resends once as a content snapshot when the
    // server cannot read the stored content, and retries once with the server's revision
    // when the given one is outdated: at most five requests.
    QCoro::Task<MeetingSessionHistoryRemoteState> updateSession(QString id, qint64 revision,
                                                                MeetingSessionHistorySnapshot snapshot,
                                                                CancellationToken token = CancellationToken(),
                                                                std::optional<QString> accountID = std::nullopt);
    // Writes the whole snapshot over the record at exactly this revision (resending once as
    // a content snapshot like updateSession). An outdated revision fails, see
    // isOutdatedRevisionError(), instead of being retried over what another client saved.
    QCoro::Task<MeetingSessionHistoryRemoteState> updateSessionAtRevision(QString id, qint64 revision,
                                                                          MeetingSessionHistorySnapshot snapshot,
                                                                          CancellationToken token = CancellationToken());
    QCoro::Task<MeetingSessionHistoryListPage> fetchSessions(MeetingSessionHistoryListQuery query,
                                                             CancellationToken token = CancellationToken());
    // A null record in the answer fails with a JsonDecodeError.
    QCoro::Task<MeetingSessionHistoryDetail> fetchSessionDetail(QString id, CancellationToken token = CancellationToken());
    QCoro::Task<void> deleteSession(QString id, CancellationToken token = CancellationToken());

    // True for failures that a later attempt may get past: the request timed out, the host
    // was not found, refused or unreachable, the connection was lost, no network. False for everything
    // else: HTTP answers of any status, this service's errors, decoding, cancellation.
    static bool isTransientNetworkError(const std::exception_ptr &error);
    // True unless the server read the request and refused it: no answer or a broken one
    // (connection failures, time-outs, a body cut short, a compressed body that does not
    // decompress, an answer that does not decode), 408, 429, 401 and every 5xx (a gateway's word
    // on a server it could not reach) may all go through on a later attempt. False for a
    // refusal (a GraphQL error in a 2xx answer, any other 4xx), a cancellation and a missing
    // sign-in. Only a refusal lets a record that waits to be saved go.
    static bool isRetryableError(const std::exception_ptr &error);
    // True when the server refused an update because the quoted revision is not its own.
    static bool isOutdatedRevisionError(const std::exception_ptr &error);
    // True when the server answered that the meeting it was asked about does not exist (its
    // GraphQL error code NOT_FOUND): deleted, by this program or elsewhere. A gateway's 404 page
    // says nothing of the meeting and does not count.
    static bool isMeetingNotFoundError(const std::exception_ptr &error);
    static constexpr const char *notFoundCode = "NOT_FOUND";

    // Throws MeetingSessionHistoryServiceError::invalidBackendBaseURL.
    Configuration makeConfiguration(const AuthSession &session) const;
    // The first non-blank of the user's workspace fields, else the configured default
    // workspace, else the built-in one; trimmed.
    QString resolvedWorkspaceID(const AuthSession &session) const;

private:
    // Where the requests of one operation go and the token they carry.
    struct RequestContext
    {
        QUrl endpoint;
        QString accessToken;
        QString workspaceID;
    };

    // The signed-in session; with an account, only that account's.
    QCoro::Task<AuthSession> resolvedAuthSession(std::optional<QString> accountID);
    // A fresh token, the endpoint and the workspace for one operation.
    QCoro::Task<RequestContext> resolvedRequestContext(std::optional<QString> accountID = std::nullopt);
    // Posts the document and returns the answer's "data", unread. Throws the first GraphQL
    // error whenever the answer carries one.
    QCoro::Task<QJsonValue> performGraphQLRequest(QUrl endpoint, QString accessToken, QString query,
                                                  QJsonObject variables, CancellationToken token);
    QCoro::Task<MeetingSessionHistoryRemoteState> updateSessionRecoveringUnreadableContent(
        RequestContext context, QString id, qint64 revision, MeetingSessionHistorySnapshot snapshot,
        CancellationToken token);

    static std::optional<MeetingSessionHistoryServiceError> graphqlRequestError(const QByteArray &body, int status);
    static MeetingSessionHistoryServiceError serviceError(const MeetingSessionHistoryGraphQL::GraphQLErrorPayload &payload);

    QPointer<AuthService> m_authService;
    AppConfigurationStore m_configuration;
    QNetworkAccessManager *m_manager = nullptr;
    HttpTransport m_transport;
    QSet<QString> m_uncertainStartClientSessionIDs;
};
