#pragma once

// The backend's meeting-history GraphQL endpoint on top of FakeBackend: an in-memory store
// of meetings with revisions, search and cursor paging, dispatched on the operation name.
// Every document must be the exact text the client is known to send; anything else is
// answered with a GraphQL error and recorded as a mismatch. Failures can be scripted per
// operation, including a dropped or unanswered connection after the write was committed.

#include "support/FakeBackend.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class FakeHistoryBackend final : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *graphQLPath = "/graphql";
    // Errors the store itself raises.
    static constexpr const char *outdatedRevisionMessage = "Meeting session revision is outdated";
    static constexpr const char *contentUnavailableCode = "MEETING_CONTENT_UNAVAILABLE";

    // One call as it reached the endpoint.
    struct Call
    {
        QString operationName; // from the document's first line
        QString query;
        QJsonObject variables;
        RecordedRequest request;
    };

    // A reply that replaces the store's own for the next call(s) of an operation.
    struct ScriptedReply
    {
        enum class Kind {
            graphQLError,          // 200, {"errors": [...]} without "data"
            errorBesideNullData,   // 200, {"data": null, "errors": [...]}
            errorBesideNullField,  // 200, {"data": {"<field>": null}, "errors": [...]}
            httpFailure,           // status and body as given
            dropConnection,        // the connection closes without an answer
            hang,                  // the connection stays open without an answer
        };

        Kind kind = Kind::graphQLError;
        // The operation is carried out before the reply (the write is committed, the answer lost).
        bool commitFirst = false;
        // So is every call that gets this reply, as behind a gateway that loses every answer.
        bool commitEvery = false;
        std::optional<QString> message;
        std::optional<QString> code;
        int status = 500;
        QByteArray body;
        QByteArray contentType = "text/plain";
        QByteArray contentEncoding; // sent as Content-Encoding when not empty
        // How many calls in a row get this reply; 0 for every call until clearScripts().
        // Only the first use commits.
        int times = 1;

        static ScriptedReply error(std::optional<QString> message, std::optional<QString> code = std::nullopt);
        static ScriptedReply errorBesideNullData(std::optional<QString> message, std::optional<QString> code = std::nullopt);
        static ScriptedReply errorBesideNullField(std::optional<QString> message, std::optional<QString> code = std::nullopt);
        static ScriptedReply httpFailure(int status, const QByteArray &body, const QByteArray &contentType = "text/plain");
        // 200 with a body marked as gzip that does not decompress.
        static ScriptedReply brokenCompression();
        // Lasts until clearScripts(): the network stack resends a request whose connection
        // closed before any answer, as often as it sees fit.
        static ScriptedReply dropConnection(bool commitFirst);
        static ScriptedReply hang(bool commitFirst);
    };

    // Installs the route on the backend, which must outlive this object.
    explicit FakeHistoryBackend(FakeBackend *backend, QObject *parent = nullptr);

    FakeBackend *backend() const { return m_backend; }

    // Only this bearer token is accepted ("test-access-token" unless set).
    void setAccessToken(const QString &token) { m_accessToken = token; }
    // The clock of createdAt, updatedAt and deletedAt.
    void setNow(const QDateTime &now) { m_now = now; }

    void script(const QString &operationName, const ScriptedReply &reply);
    void clearScripts() { m_scripts.clear(); }

    // ---- The store ----

    // Adds a meeting with the given fields over sensible defaults (an active meeting of
    // the workspace with revision 1). Returns its id.
    QString addMeeting(const QString &workspaceId, const QJsonObject &fields = QJsonObject());
    // The stored record in the detail query's shape, or nothing.
    std::optional<QJsonObject> meeting(const QString &id) const;
    bool isDeleted(const QString &id) const;
    qint64 revisionOf(const QString &id) const;
    // Ids of every stored meeting, deleted ones included, in creation order.
    QStringList meetingIds() const;
    // Meetings that are not deleted.
    int meetingCount() const;
    // Another client saved in between: the revision moves on.
    void bumpRevision(const QString &id);
    // The server can no longer read the stored content of the meeting: updates fail with
    // MEETING_CONTENT_UNAVAILABLE until one carries contentSnapshot = true.
    void setContentUnavailable(const QString &id);

    // ---- Records ----

    QList<Call> calls() const { return m_calls; }
    QStringList operationNames() const;
    // Requests the backend would refuse: an unknown operation, or a document whose declared
    // variables or whose variables do not fit it.
    QStringList documentMismatches() const { return m_documentMismatches; }
    // Their room too: a long run measures the heap after clearing them.
    void clearCalls() { m_calls = {}; }
    // Forgets every stored meeting (a benchmark measures what the store held).
    void clearMeetings() { m_meetings.clear(); }
    // Moves every stored meeting into the file and out of memory, and back: a long run that
    // measures the heap of the program beside this in-process server measures it without them.
    bool setMeetingsAside(const QString &filePath);
    bool bringMeetingsBack(const QString &filePath);

    // The name of the operation a document runs.
    static QString operationName(const QString &query);

private:
    struct Meeting
    {
        QString id;
        QString workspaceId;
        qint64 revision = 1;
        int order = 0; // creation order, for ties of the start time
        bool contentUnavailable = false;
        bool deleted = false;
        QJsonObject fields; // every field of the detail shape except id, workspaceId, revision
    };

    FakeResponse handle(const RecordedRequest &request);
    FakeResponse dispatch(const QString &operation, const QJsonObject &variables);
    FakeResponse scripted(const QString &operation, ScriptedReply &reply, const QJsonObject &variables);

    FakeResponse recover(const QJsonObject &variables);
    FakeResponse start(const QJsonObject &variables);
    FakeResponse update(const QJsonObject &variables);
    FakeResponse revision(const QJsonObject &variables);
    FakeResponse list(const QJsonObject &variables);
    FakeResponse detail(const QJsonObject &variables);
    FakeResponse remove(const QJsonObject &variables);

    QJsonObject detailJson(const Meeting &meeting) const;
    QList<const Meeting *> visibleMeetings(const QString &workspaceId) const;
    QString nowText() const;

    static FakeResponse data(const QString &field, const QJsonValue &value);
    static FakeResponse errors(const QJsonValue &data, bool withData, const std::optional<QString> &message,
                               const std::optional<QString> &code);

    FakeBackend *m_backend;
    QString m_accessToken = QStringLiteral("test-access-token");
    QDateTime m_now;
    QHash<QString, Meeting> m_meetings;
    int m_serial = 0;
    QHash<QString, QList<ScriptedReply>> m_scripts;
    QList<Call> m_calls;
    QStringList m_documentMismatches;
};
