#include "accounts/AuthService.h"
#include "accounts/AuthServiceError.h"
#include "base/Json.h"
#include "platform/NetworkError.h"
#include "platform/UserDefaults.h"
#include "services/MeetingSessionHistoryService.h"
#include "support/FakeBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/RawReplyServer.h"
#include "support/TaskResult.h"
#include "support/TestAuth.h"
#include "support/JsonLiteral.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaEnum>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <memory>

using Script = FakeHistoryBackend::ScriptedReply;
using ServiceError = MeetingSessionHistoryServiceError;

namespace {

QByteArray j(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

QDateTime utc(int day, int hour, int minute, int second, int ms = 0)
{
    return QDateTime(QDate(2025, 3, day), QTime(hour, minute, second, ms), QTimeZone::utc());
}

MeetingSessionHistorySnapshot snapshot(std::optional<QString> clientSessionId = QStringLiteral("kavrel-macos-history-1"))
{
    MeetingSessionHistorySnapshot s;
    s.startedAt = utc(14, 9, 26, 53, 480);
    s.durationSeconds = 5;
    s.status = MeetingSessionHistoryStatus::active;
    s.inputLanguage = QStringLiteral("en");
    s.recordingEnabled = true;
    s.sessionParams.client = QStringLiteral("macos");
    s.sessionParams.source = QStringLiteral("system_audio");
    s.sessionParams.clientSessionId = std::move(clientSessionId);
    return s;
}

MeetingSessionHistorySnapshot fullSnapshot()
{
    MeetingSessionHistorySnapshot s = snapshot();
    s.title = QStringLiteral("Budget review");
    s.endedAt = utc(14, 10, 0, 0, 900);
    s.durationSeconds = 2000;
    s.status = MeetingSessionHistoryStatus::completed;
    s.translationLanguage = QStringLiteral("russian");
    s.translationEnabled = true;
    s.microphoneLabel = QStringLiteral("USB Mic");
    MeetingSessionTranscriptBlock first;
    first.id = QStringLiteral("turn-a");
    first.seq = 1;
    first.timestamp = QStringLiteral("09:27:00");
    first.text = QStringLiteral("Let's go over the budget.");
    MeetingSessionTranscriptBlock second;
    second.id = QStringLiteral("turn-b");
    second.seq = 2;
    second.timestamp = QStringLiteral("09:27:10");
    second.speakerLabel = QStringLiteral("Speaker 1");
    second.text = QStringLiteral("Agreed.");
    s.transcriptBlocks = {first, second};
    MeetingSessionTranslationBlock translation;
    translation.transcriptBlockId = QStringLiteral("turn-a");
    translation.seq = 1;
    translation.language = QStringLiteral("russian");
    translation.text = QStringLiteral("Давайте обсудим бюджет.");
    s.translationBlocks = {translation};
    s.summaryText = QStringLiteral("- budget");
    s.sessionParams.appVersion = QStringLiteral("1.0");
    s.sessionParams.focusMode = false;
    return s;
}

} // namespace

class tst_MeetingSessionHistoryService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void everyDocumentIsSentExactlyWithItsVariables();
    void startRecoversAnUncertainStart_data();
    void startRecoversAnUncertainStart();
    void startWithoutClientSessionIdNeverRecovers();
    void refusedStartsAreNotRecorded_data();
    void refusedStartsAreNotRecorded();
    void failedRecoveryKeepsTheStartUncertain();
    void recoveryTakesTheFirstMatchingRecord();
    void updateResendsUnreadableContentOnce();
    void updateRetriesAnOutdatedRevisionOnce_data();
    void updateRetriesAnOutdatedRevisionOnce();
    void updateSendsAtMostFiveRequests();
    void errorsBesideNullDataStillDriveTheRetries();
    void transportMapsAnswers_data();
    void transportMapsAnswers();
    void listPagesWithCursorAndSearch();
    void detailReadsBackWhatWasSavedAndNullIsAnError();
    void deleteRemovesTheMeeting();
    void workspaceIdResolutionOrder_data();
    void workspaceIdResolutionOrder();
    void endpointFromTheBaseUrl_data();
    void endpointFromTheBaseUrl();
    void signedOutSendsNothing();
    void transientNetworkErrors_data();
    void transientNetworkErrors();
    void realNetworkFailuresAreTransient();
    void droppedServiceEndsItsRequestWithCancellation();

private:
    std::unique_ptr<FakeBackend> m_backend;
    std::unique_ptr<FakeHistoryBackend> m_history;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<MeetingSessionHistoryService> m_service;
};

void tst_MeetingSessionHistoryService::init()
{
    m_backend = std::make_unique<FakeBackend>();
    QVERIFY(m_backend->start());
    m_history = std::make_unique<FakeHistoryBackend>(m_backend.get());
    m_auth = TestAuth::signedInService(m_backend->baseUrl());
    m_service = std::make_unique<MeetingSessionHistoryService>(m_auth.get());
}

void tst_MeetingSessionHistoryService::cleanup()
{
    QVERIFY2(m_history->documentMismatches().isEmpty(), qPrintable(m_history->documentMismatches().join(", ")));
    m_service.reset();
    m_auth.reset();
    m_history.reset();
    m_backend.reset();
}

void tst_MeetingSessionHistoryService::everyDocumentIsSentExactlyWithItsVariables()
{
    // Start without title, translation or microphone: those keys are left out.
    const auto started = runTask(m_service->startSession(snapshot()));
    QVERIFY(started.succeeded());
    const QString id = started.value->id;
    QCOMPARE(started.value->revision, 1);

    // Start with everything: still no transcript, end or AI texts.
    QVERIFY(runTask(m_service->startSession(fullSnapshot())).succeeded());

    // A plain update of an empty session, then one that is told its revision is outdated.
    QVERIFY(runTask(m_service->updateSession(id, 1, snapshot())).succeeded());
    m_history->bumpRevision(id);
    QVERIFY(runTask(m_service->updateSession(id, 2, fullSnapshot())).succeeded());

    MeetingSessionHistoryListQuery query;
    query.limit = 20;
    query.cursor = QStringLiteral("  \n");
    query.searchQuery = QStringLiteral("  budget \n");
    QVERIFY(runTask(m_service->fetchSessions(query)).succeeded());
    query.searchQuery = QStringLiteral("   ");
    query.dateFrom = utc(1, 0, 0, 0, 250);
    query.dateTo = QDateTime(QDate(2025, 3, 31), QTime(23, 59, 59), QTimeZone(3 * 3600));
    QVERIFY(runTask(m_service->fetchSessions(query)).succeeded());

    QVERIFY(runTask(m_service->fetchSessionDetail(id)).succeeded());
    QVERIFY(runTask(m_service->deleteSession(id)).succeeded());

    // An uncertain start brings the recovery query.
    m_history->script(QStringLiteral("StartMeetingSession"), Script::dropConnection(false));
    QVERIFY(!runTask(m_service->startSession(snapshot(QStringLiteral("kavrel-macos-history-2")))).succeeded());
    m_history->clearScripts();
    m_history->clearCalls();
    QVERIFY(runTask(m_service->startSession(snapshot(QStringLiteral("kavrel-macos-history-2")))).succeeded());
    const auto recoveryCalls = m_history->calls();
    QCOMPARE(recoveryCalls.first().operationName, QStringLiteral("RecoverMeetingSession"));
    QCOMPARE(recoveryCalls.first().variables, jsonObject(j("{'workspaceId':'workspace-1','limit':50}")));

    const auto allCalls = m_backend->requests(QStringLiteral("/graphql"));
    for (const RecordedRequest &request : allCalls) {
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.header("Accept"), QByteArray("application/json"));
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer test-access-token"));
        QStringList keys = request.json().keys();
        QCOMPARE(keys, (QStringList{"query", "variables"}));
    }
    QVERIFY(m_history->documentMismatches().isEmpty());

    // The variables of the calls before the recovery, in order.
    const QList<QJsonObject> expected{
        jsonObject(j("{'input':{'workspaceId':'workspace-1','startedAt':'2025-03-14T09:26:53Z','processedByApp':'macos',"
                "'inputLanguage':'en','translationEnabled':false,'recordingEnabled':true,"
                "'sessionParams':{'client':'macos','source':'system_audio','clientSessionId':'kavrel-macos-history-1'}}}")),
        jsonObject(j("{'input':{'workspaceId':'workspace-1','title':'Budget review','startedAt':'2025-03-14T09:26:53Z',"
                "'processedByApp':'macos','inputLanguage':'en','translationLanguage':'russian','translationEnabled':true,"
                "'recordingEnabled':true,'microphoneLabel':'USB Mic',"
                "'sessionParams':{'client':'macos','source':'system_audio','appVersion':'1.0','focusMode':false,"
                "'clientSessionId':'kavrel-macos-history-1'}}}")),
        jsonObject(QByteArray(j("{'id':'ID','input':{'revision':1,'status':'active','processedByApp':'macos','transcriptJson':[],"
                           "'translationJson':[],'inputLanguage':'en','translationEnabled':false,'recordingEnabled':true,"
                           "'durationSeconds':5,"
                           "'sessionParams':{'client':'macos','source':'system_audio','clientSessionId':'kavrel-macos-history-1'}}}"))
                  .replace("ID", id.toUtf8())),
    };
    const QByteArray fullUpdate =
        j("{'id':'ID','input':{'revision':REV,'status':'completed','processedByApp':'macos',"
          "'transcriptJson':[{'id':'turn-a','seq':1,'timestamp':'09:27:00','text':'Let\\u0027s go over the budget.'},"
          "{'id':'turn-b','seq':2,'timestamp':'09:27:10','speakerLabel':'Speaker 1','text':'Agreed.'}],"
          "'translationJson':[{'transcriptBlockId':'turn-a','seq':1,'language':'russian','text':'Давайте обсудим бюджет.'}],"
          "'summaryText':'- budget','inputLanguage':'en','translationLanguage':'russian','translationEnabled':true,"
          "'recordingEnabled':true,'microphoneLabel':'USB Mic','durationSeconds':2000,'endedAt':'2025-03-14T10:00:00Z',"
          "'sessionParams':{'client':'macos','source':'system_audio','appVersion':'1.0','focusMode':false,"
          "'clientSessionId':'kavrel-macos-history-1'}}}")
            .replace("ID", id.toUtf8());
    const QList<QPair<QString, QJsonObject>> rest{
        {"UpdateMeetingSession", jsonObject(QByteArray(fullUpdate).replace("REV", "2"))},
        {"MeetingSessionRevision", jsonObject(QByteArray(j("{'id':'ID'}")).replace("ID", id.toUtf8()))},
        {"UpdateMeetingSession", jsonObject(QByteArray(fullUpdate).replace("REV", "3"))},
        {"MeetingSessions", jsonObject(j("{'workspaceId':'workspace-1','limit':20,'q':'budget'}"))},
        {"MeetingSessions", jsonObject(j("{'workspaceId':'workspace-1','limit':20,'dateFrom':'2025-03-01T00:00:00Z',"
                                    "'dateTo':'2025-03-31T20:59:59Z'}"))},
        {"MeetingSession", jsonObject(QByteArray(j("{'id':'ID'}")).replace("ID", id.toUtf8()))},
        {"DeleteMeetingSession", jsonObject(QByteArray(j("{'id':'ID'}")).replace("ID", id.toUtf8()))},
    };

    QList<FakeHistoryBackend::Call> calls;
    for (const RecordedRequest &request : allCalls) {
        FakeHistoryBackend::Call call;
        call.query = request.json().value(QStringLiteral("query")).toString();
        call.variables = request.json().value(QStringLiteral("variables")).toObject();
        calls.append(call);
    }
    QVERIFY(calls.size() >= expected.size() + rest.size());
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(FakeHistoryBackend::operationName(calls.at(i).query),
                 QString::fromLatin1(i < 2 ? "StartMeetingSession" : "UpdateMeetingSession"));
        QCOMPARE(calls.at(i).variables, expected.at(i));
    }
    // The revision retry: the first update with the stale revision is refused, then the
    // revision is read and the update repeated with it.
    QCOMPARE(calls.at(3).variables, jsonObject(QByteArray(fullUpdate).replace("REV", "2")));
    for (int i = 0; i < rest.size(); ++i) {
        const int index = expected.size() + i;
        QCOMPARE(FakeHistoryBackend::operationName(calls.at(index).query), QString(rest.at(i).first));
        QCOMPARE(calls.at(index).variables, rest.at(i).second);
    }
}

void tst_MeetingSessionHistoryService::startRecoversAnUncertainStart_data()
{
    QTest::addColumn<Script>("failure");
    QTest::addColumn<bool>("committed");

    QTest::newRow("connection dropped after the write") << Script::dropConnection(true) << true;
    QTest::newRow("timed out after the write") << Script::hang(true) << true;
    QTest::newRow("connection dropped before the write") << Script::dropConnection(false) << false;
    // A gateway that gave up on the server, or an answer that does not read, says nothing of
    // whether the record was made.
    Script gatewayTimeout = Script::httpFailure(504, "<html>Gateway Time-out</html>", "text/html");
    gatewayTimeout.commitFirst = true;
    QTest::newRow("gateway time-out after the write") << gatewayTimeout << true;
    QTest::newRow("bad gateway before the write") << Script::httpFailure(502, "Bad Gateway") << false;
    Script cutShort = Script::httpFailure(200, R"({"data":{"startMeetingSession":{"id":")", "application/json");
    cutShort.commitFirst = true;
    QTest::newRow("answer cut short after the write") << cutShort << true;
    Script compressed = Script::brokenCompression();
    compressed.commitFirst = true;
    QTest::newRow("answer that does not decompress after the write") << compressed << true;
}

void tst_MeetingSessionHistoryService::startRecoversAnUncertainStart()
{
    QFETCH(Script, failure);
    QFETCH(bool, committed);

    m_history->addMeeting(QStringLiteral("workspace-1")); // someone else's meeting, no params
    m_service->setRequestTimeout(std::chrono::milliseconds(300));
    m_history->script(QStringLiteral("StartMeetingSession"), failure);

    const auto first = runTask(m_service->startSession(snapshot()));
    QVERIFY(!first.succeeded());
    QVERIFY(!first.isCancellation());
    QVERIFY2(MeetingSessionHistoryService::isRetryableError(first.error), qPrintable(first.errorText()));
    QCOMPARE(m_history->meetingCount(), committed ? 2 : 1);
    m_history->clearScripts();

    m_history->clearCalls();
    const auto second = runTask(m_service->startSession(snapshot()));
    QVERIFY(second.succeeded());
    if (committed) {
        QCOMPARE(m_history->operationNames(), QStringList{"RecoverMeetingSession"});
    } else {
        QCOMPARE(m_history->operationNames(), (QStringList{"RecoverMeetingSession", "StartMeetingSession"}));
    }
    QCOMPARE(m_history->meetingCount(), 2);
    const auto record = m_history->meeting(second.value->id);
    QVERIFY(record.has_value());
    QCOMPARE(record->value("sessionParams").toObject().value("clientSessionId").toString(), QStringLiteral("kavrel-macos-history-1"));
    QCOMPARE(second.value->revision, 1);

    // Known now: the next start of that id goes straight to the server.
    m_history->clearCalls();
    QVERIFY(runTask(m_service->startSession(snapshot())).succeeded());
    QCOMPARE(m_history->operationNames(), QStringList{"StartMeetingSession"});
}

void tst_MeetingSessionHistoryService::startWithoutClientSessionIdNeverRecovers()
{
    m_history->script(QStringLiteral("StartMeetingSession"), Script::dropConnection(true));
    QVERIFY(!runTask(m_service->startSession(snapshot(std::nullopt))).succeeded());
    m_history->clearScripts();
    m_history->clearCalls();
    QVERIFY(runTask(m_service->startSession(snapshot(std::nullopt))).succeeded());
    QCOMPARE(m_history->operationNames(), QStringList{"StartMeetingSession"});
}

void tst_MeetingSessionHistoryService::refusedStartsAreNotRecorded_data()
{
    QTest::addColumn<Script>("failure");
    QTest::newRow("GraphQL error") << Script::error(QStringLiteral("Workspace is read-only"), QStringLiteral("FORBIDDEN"));
    QTest::newRow("HTTP 400 with text") << Script::httpFailure(400, "Bad request");
    QTest::newRow("HTTP 403 blank") << Script::httpFailure(403, "");
}

void tst_MeetingSessionHistoryService::refusedStartsAreNotRecorded()
{
    QFETCH(Script, failure);
    m_history->script(QStringLiteral("StartMeetingSession"), failure);
    const auto first = runTask(m_service->startSession(snapshot()));
    QVERIFY(first.errorAs<ServiceError>().has_value());
    QVERIFY(!MeetingSessionHistoryService::isRetryableError(first.error));

    m_history->clearCalls();
    QVERIFY(runTask(m_service->startSession(snapshot())).succeeded());
    QCOMPARE(m_history->operationNames(), QStringList{"StartMeetingSession"});
}

void tst_MeetingSessionHistoryService::failedRecoveryKeepsTheStartUncertain()
{
    m_history->script(QStringLiteral("StartMeetingSession"), Script::dropConnection(true));
    QVERIFY(!runTask(m_service->startSession(snapshot())).succeeded());
    m_history->clearScripts();

    m_history->script(QStringLiteral("RecoverMeetingSession"), Script::httpFailure(502, "  Bad gateway\n"));
    m_history->clearCalls();
    const auto failed = runTask(m_service->startSession(snapshot()));
    QCOMPARE(failed.errorAs<ServiceError>(), ServiceError::graphqlRequestFailed(QStringLiteral("Bad gateway")));
    QCOMPARE(m_history->operationNames(), QStringList{"RecoverMeetingSession"});

    m_history->clearCalls();
    QVERIFY(runTask(m_service->startSession(snapshot())).succeeded());
    QCOMPARE(m_history->operationNames(), QStringList{"RecoverMeetingSession"});
    QCOMPARE(m_history->meetingCount(), 1);
}

void tst_MeetingSessionHistoryService::recoveryTakesTheFirstMatchingRecord()
{
    const QJsonObject mine{{"sessionParams", QJsonObject{{"client", "macos"}, {"source", "system_audio"},
                                                          {"clientSessionId", "kavrel-macos-history-1"}}}};
    const QJsonObject other{{"sessionParams", QJsonObject{{"client", "macos"}, {"source", "system_audio"},
                                                           {"clientSessionId", "kavrel-macos-history-9"}}}};
    const QJsonObject differentCase{{"sessionParams", QJsonObject{{"client", "macos"}, {"source", "system_audio"},
                                                                   {"clientSessionId", "KAVREL-MACOS-HISTORY-1"}}}};
    m_history->addMeeting(QStringLiteral("workspace-1"), mine);
    const QString newerMatch = m_history->addMeeting(QStringLiteral("workspace-1"), mine);
    m_history->addMeeting(QStringLiteral("workspace-1"), other);
    m_history->addMeeting(QStringLiteral("workspace-1"), differentCase);
    m_history->addMeeting(QStringLiteral("workspace-1"));
    m_history->addMeeting(QStringLiteral("workspace-2"), mine);
    m_history->bumpRevision(newerMatch);

    m_history->script(QStringLiteral("StartMeetingSession"), Script::dropConnection(false));
    QVERIFY(!runTask(m_service->startSession(snapshot())).succeeded());
    m_history->clearScripts();
    const auto recovered = runTask(m_service->startSession(snapshot()));
    QVERIFY(recovered.succeeded());
    QCOMPARE(recovered.value->id, newerMatch);
    QCOMPARE(recovered.value->revision, 2);
}

void tst_MeetingSessionHistoryService::updateResendsUnreadableContentOnce()
{
    const auto started = runTask(m_service->startSession(snapshot()));
    const QString id = started.value->id;
    m_history->setContentUnavailable(id);
    m_history->clearCalls();

    const auto updated = runTask(m_service->updateSession(id, 1, fullSnapshot()));
    QVERIFY(updated.succeeded());
    QCOMPARE(updated.value->revision, 2);
    const auto calls = m_history->calls();
    QCOMPARE(m_history->operationNames(), (QStringList{"UpdateMeetingSession", "UpdateMeetingSession"}));
    QVERIFY(!calls.at(0).variables.value("input").toObject().contains("contentSnapshot"));
    QCOMPARE(calls.at(1).variables.value("input").toObject().value("contentSnapshot"), QJsonValue(true));
    QCOMPARE(calls.at(1).variables.value("input").toObject().value("revision"), QJsonValue(1));

    // When the resend fails the same way, that failure is what the caller sees.
    m_history->clearCalls();
    m_history->script(QStringLiteral("UpdateMeetingSession"), Script::error(QStringLiteral("unreadable"), QStringLiteral("MEETING_CONTENT_UNAVAILABLE")));
    m_history->script(QStringLiteral("UpdateMeetingSession"), Script::error(QStringLiteral("still unreadable"), QStringLiteral("MEETING_CONTENT_UNAVAILABLE")));
    const auto failed = runTask(m_service->updateSession(id, 2, fullSnapshot()));
    QCOMPARE(failed.errorAs<ServiceError>(), ServiceError::meetingContentUnavailable(QStringLiteral("still unreadable")));
    QCOMPARE(m_history->calls().size(), 2);
}

void tst_MeetingSessionHistoryService::updateRetriesAnOutdatedRevisionOnce_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("retried");
    QTest::newRow("server's wording") << "Meeting session revision is outdated" << true;
    QTest::newRow("capitalised") << "Revision is outdated" << true;
    QTest::newRow("upper case") << "REVISION IS OUTDATED (expected 5)" << true;
    QTest::newRow("another phrase") << "revision outdated" << false;
    QTest::newRow("another failure") << "Meeting session not found" << false;
}

void tst_MeetingSessionHistoryService::updateRetriesAnOutdatedRevisionOnce()
{
    QFETCH(QString, message);
    QFETCH(bool, retried);

    const QString id = runTask(m_service->startSession(snapshot())).value->id;
    m_history->bumpRevision(id);
    m_history->bumpRevision(id); // the server is at revision 3 now
    m_history->script(QStringLiteral("UpdateMeetingSession"), Script::error(message, QStringLiteral("CONFLICT")));
    m_history->clearCalls();

    const auto updated = runTask(m_service->updateSession(id, 1, snapshot()));
    if (!retried) {
        QCOMPARE(updated.errorAs<ServiceError>(), ServiceError::graphqlRequestFailed(message));
        QCOMPARE(m_history->operationNames(), QStringList{"UpdateMeetingSession"});
        return;
    }
    QVERIFY(updated.succeeded());
    QCOMPARE(updated.value->revision, 4);
    QCOMPARE(m_history->operationNames(), (QStringList{"UpdateMeetingSession", "MeetingSessionRevision", "UpdateMeetingSession"}));
    QCOMPARE(m_history->calls().at(2).variables.value("input").toObject().value("revision"), QJsonValue(3));
}

void tst_MeetingSessionHistoryService::updateSendsAtMostFiveRequests()
{
    const QString id = runTask(m_service->startSession(snapshot())).value->id;
    const QString unavailable = QStringLiteral("MEETING_CONTENT_UNAVAILABLE");
    m_history->script(QStringLiteral("UpdateMeetingSession"), Script::error(QStringLiteral("unreadable"), unavailable));
    m_history->script(QStringLiteral("UpdateMeetingSession"), Script::error(QStringLiteral("revision is outdated (1)")));
    m_history->script(QStringLiteral("UpdateMeetingSession"), Script::error(QStringLiteral("unreadable"), unavailable));
    m_history->script(QStringLiteral("UpdateMeetingSession"), Script::error(QStringLiteral("revision is outdated (2)")));
    m_history->clearCalls();

    const auto updated = runTask(m_service->updateSession(id, 1, snapshot()));
    QCOMPARE(updated.errorAs<ServiceError>(), ServiceError::graphqlRequestFailed(QStringLiteral("revision is outdated (2)")));
    QCOMPARE(m_history->operationNames(), (QStringList{"UpdateMeetingSession", "UpdateMeetingSession", "MeetingSessionRevision",
                                                       "UpdateMeetingSession", "UpdateMeetingSession"}));
    const auto calls = m_history->calls();
    QVERIFY(!calls.at(3).variables.value("input").toObject().contains("contentSnapshot"));
    QCOMPARE(calls.at(4).variables.value("input").toObject().value("contentSnapshot"), QJsonValue(true));

    // A failing revision query ends the call with its own error.
    m_history->script(QStringLiteral("UpdateMeetingSession"), Script::error(QStringLiteral("revision is outdated")));
    m_history->script(QStringLiteral("MeetingSessionRevision"), Script::httpFailure(500, "revision store down"));
    m_history->clearCalls();
    const auto failed = runTask(m_service->updateSession(id, 1, snapshot()));
    QCOMPARE(failed.errorAs<ServiceError>(), ServiceError::graphqlRequestFailed(QStringLiteral("revision store down")));
    QCOMPARE(m_history->operationNames(), (QStringList{"UpdateMeetingSession", "MeetingSessionRevision"}));
}

void tst_MeetingSessionHistoryService::errorsBesideNullDataStillDriveTheRetries()
{
    const QString id = runTask(m_service->startSession(snapshot())).value->id;
    m_history->bumpRevision(id);
    m_history->script(QStringLiteral("UpdateMeetingSession"),
                      Script::errorBesideNullField(QStringLiteral("unreadable"), QStringLiteral("MEETING_CONTENT_UNAVAILABLE")));
    m_history->script(QStringLiteral("UpdateMeetingSession"),
                      Script::errorBesideNullData(QStringLiteral("Meeting session revision is outdated")));
    m_history->clearCalls();

    const auto updated = runTask(m_service->updateSession(id, 1, snapshot()));
    QVERIFY(updated.succeeded());
    QCOMPARE(updated.value->revision, 3);
    QCOMPARE(m_history->operationNames(), (QStringList{"UpdateMeetingSession", "UpdateMeetingSession", "MeetingSessionRevision",
                                                       "UpdateMeetingSession"}));
}

void tst_MeetingSessionHistoryService::transportMapsAnswers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected"); // "ok", "decode", or the service error's message ("gone:" when it says the meeting is not found)
    // Whether the same request may still go through: only the server's refusal says no.
    QTest::addColumn<bool>("retryable");

    const QByteArray okData = j("{'data':{'deleteMeetingSession':{'id':'m','status':'deleted','deletedAt':'2025-03-14T09:26:53Z','revision':2}}");
    QTest::newRow("data") << 200 << okData + "}" << "ok" << false;
    QTest::newRow("empty error list beside data") << 200 << okData + j(",'errors':[]}") << "ok" << false;
    QTest::newRow("status 299") << 299 << okData + "}" << "ok" << false;
    QTest::newRow("data and an error") << 200 << okData + j(",'errors':[{'message':'boom'}]}") << "boom" << false;
    QTest::newRow("error without message") << 200 << j("{'errors':[{'extensions':{'code':'X'}}]}") << "GraphQL request failed." << false;
    QTest::newRow("blank error message") << 200 << j("{'data':null,'errors':[{'message':'  \\n'}]}") << "GraphQL request failed." << false;
    QTest::newRow("content unavailable") << 200 << j("{'errors':[{'message':'gone','extensions':{'code':'MEETING_CONTENT_UNAVAILABLE'}}]}") << "content:gone" << false;
    QTest::newRow("code in lower case") << 200 << j("{'errors':[{'message':'gone','extensions':{'code':'meeting_content_unavailable'}}]}") << "gone" << false;
    QTest::newRow("empty object") << 200 << QByteArray("{}") << "Сервер истории встреч вернул некорректный ответ." << true;
    QTest::newRow("data null without errors") << 200 << j("{'data':null}") << "Сервер истории встреч вернул некорректный ответ." << true;
    QTest::newRow("data of the wrong shape") << 200 << j("{'data':{'deleteMeetingSession':null}}") << "decode" << true;
    QTest::newRow("not JSON") << 200 << QByteArray("OK") << "decode" << true;
    QTest::newRow("500 with GraphQL error") << 500 << j("{'errors':[{'message':'gone','extensions':{'code':'MEETING_CONTENT_UNAVAILABLE'}}]}") << "content:gone" << true;
    QTest::newRow("502 with text") << 502 << QByteArray("  Bad gateway\n") << "Bad gateway" << true;
    QTest::newRow("503 with GraphQL error") << 503 << j("{'errors':[{'message':'upstream unavailable'}]}") << "upstream unavailable" << true;
    // A gateway's page is no message: the status is.
    QTest::newRow("504 with a page") << 504 << QByteArray("<html>Gateway Time-out</html>") << "Сервер истории встреч ответил ошибкой (статус 504)." << true;
    QTest::newRow("429 with a page") << 429 << QByteArray("<html><body><h1>429 Too Many Requests</h1></body></html>\n")
                                     << "Сервер истории встреч ответил ошибкой (статус 429)." << true;
    // Only the server's own code says that the meeting is gone, not a page or a word in a text.
    QTest::newRow("not found") << 200 << j("{'data':null,'errors':[{'message':'Meeting session not found','extensions':{'code':'NOT_FOUND'}}]}")
                               << "gone:Meeting session not found" << false;
    QTest::newRow("404 with GraphQL not found") << 404 << j("{'errors':[{'message':'Meeting session not found','extensions':{'code':'NOT_FOUND'}}]}")
                                                << "gone:Meeting session not found" << false;
    QTest::newRow("not found in lower case") << 200 << j("{'errors':[{'message':'Meeting session not found','extensions':{'code':'not_found'}}]}")
                                             << "Meeting session not found" << false;
    QTest::newRow("404 page") << 404 << QByteArray("<html><body><h1>404 Not Found</h1></body></html>")
                              << "Сервер истории встреч ответил ошибкой (статус 404)." << false;
    QTest::newRow("404 text") << 404 << QByteArray("Not Found") << "Not Found" << false;
    QTest::newRow("408") << 408 << QByteArray("Request Timeout") << "Request Timeout" << true;
    QTest::newRow("429") << 429 << j("{'errors':[{'message':'slow down'}]}") << "slow down" << true;
    QTest::newRow("401") << 401 << QByteArray("Unauthorized") << "Unauthorized" << true;
    QTest::newRow("400 with JSON but no errors") << 400 << j("{'message':'bad'}") << "{\"message\":\"bad\"}" << false;
    QTest::newRow("403 with text") << 403 << QByteArray("Forbidden") << "Forbidden" << false;
    QTest::newRow("422 with GraphQL error") << 422 << j("{'errors':[{'message':'title too long'}]}") << "title too long" << false;
    QTest::newRow("404 empty") << 404 << QByteArray() << "Сервер истории встреч вернул некорректный ответ." << false;
    QTest::newRow("status 300") << 300 << QByteArray("Multiple choices") << "Multiple choices" << true;
    QTest::newRow("500 empty") << 500 << QByteArray() << "Сервер истории встреч вернул некорректный ответ." << true;
    QTest::newRow("500 blank") << 500 << QByteArray(" \n\t ") << "Сервер истории встреч вернул некорректный ответ." << true;
    QTest::newRow("500 not UTF-8") << 500 << QByteArray("\xff\xfe\xfd") << "Сервер истории встреч вернул некорректный ответ." << true;
    // A long meeting's detail is larger than other clients' answers may be; past its own
    // cap the exchange stops.
    QTest::newRow("5 MB answer") << 200 << QByteArray(5 * 1024 * 1024, ' ') << "decode" << true;
    QTest::newRow("9 MB answer") << 200 << QByteArray(9 * 1024 * 1024, ' ') << "too large" << true;
    // Answers that are not HTTP at all come from a raw server.
    QTest::newRow("status 000") << -1 << QByteArray("HTTP/1.1 000 Zero\r\nContent-Length: 4\r\n\r\nOops")
                                << "Сервер истории встреч вернул некорректный ответ." << true;
    // A status line followed by a broken body is no answer: the save is tried again.
    QTest::newRow("body cut short") << -1
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 400\r\n\r\n{\"data\":{\"delete")
        << "transient" << true;
    // A refusal counts only when it came whole: one cut short is a broken exchange, and the
    // record it would have dropped stays for another try.
    QTest::newRow("refusal cut short") << -1
        << QByteArray("HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 400\r\n\r\nForb")
        << "transient" << true;
    // Without a length the end of the connection is the end of the body, and a cut one reads
    // as whole.
    QTest::newRow("body cut short without a length") << -1
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n{\"data\":{\"delete")
        << "decode" << true;
    QTest::newRow("corrupt compressed body") << -1
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Encoding: gzip\r\nContent-Length: 24\r\n\r\n")
               + QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03not-deflate-data", 24)
        << "network" << true;
}

void tst_MeetingSessionHistoryService::transportMapsAnswers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QFETCH(bool, retryable);
    m_backend->route("POST", QStringLiteral("/graphql"), FakeResponse::json(status, body));
    RawReplyServer raw(body);
    std::unique_ptr<AuthService> rawAuth;
    std::unique_ptr<MeetingSessionHistoryService> rawService;
    if (status < 0) {
        QVERIFY(raw.start());
        rawAuth = TestAuth::signedInService(raw.baseUrl());
        rawService = std::make_unique<MeetingSessionHistoryService>(rawAuth.get());
    }
    MeetingSessionHistoryService *service = rawService ? rawService.get() : m_service.get();

    const auto outcome = runTask(service->deleteSession(QStringLiteral("m")));
    if (expected == QLatin1String("ok")) {
        QVERIFY(outcome.succeeded());
        return;
    }
    QCOMPARE(MeetingSessionHistoryService::isRetryableError(outcome.error), retryable);
    if (expected == QLatin1String("too large")) {
        QCOMPARE(outcome.errorAs<NetworkError>()->kind(), NetworkError::Kind::responseTooLarge);
        return;
    }
    if (expected == QLatin1String("transient") || expected == QLatin1String("network")) {
        QVERIFY2(outcome.errorAs<NetworkError>().has_value(), qPrintable(outcome.errorText()));
        if (expected == QLatin1String("transient"))
            QVERIFY(MeetingSessionHistoryService::isTransientNetworkError(outcome.error));
        return;
    }
    if (expected == QLatin1String("decode")) {
        QVERIFY2(outcome.errorAs<JsonDecodeError>().has_value(), qPrintable(outcome.errorText()));
        return;
    }
    const auto error = outcome.errorAs<ServiceError>();
    QVERIFY(error.has_value());
    QCOMPARE(error->httpStatus(), status < 0 || (status >= 200 && status <= 299) ? 0 : status);
    QCOMPARE(MeetingSessionHistoryService::isMeetingNotFoundError(outcome.error), expected.startsWith(QLatin1String("gone:")));
    if (expected.startsWith(QLatin1String("gone:")))
        expected = expected.mid(5);
    if (expected.startsWith(QLatin1String("content:"))) {
        QCOMPARE(*error, ServiceError::meetingContentUnavailable(expected.mid(8)));
    } else {
        QCOMPARE(error->message(), expected);
        QVERIFY(error->errorCase() != ServiceError::Case::meetingContentUnavailable);
    }
}

void tst_MeetingSessionHistoryService::listPagesWithCursorAndSearch()
{
    QStringList ids;
    for (int i = 0; i < 5; ++i) {
        QJsonObject fields{{"startedAt", QStringLiteral("2025-03-1%1T09:00:00Z").arg(i)},
                           {"title", i == 1 || i == 3 ? QStringLiteral("Budget sync %1").arg(i) : QStringLiteral("Standup %1").arg(i)},
                           {"summaryText", i == 3 ? QJsonValue("- numbers") : QJsonValue(QJsonValue::Null)}};
        ids.prepend(m_history->addMeeting(QStringLiteral("workspace-1"), fields)); // newest first
    }
    m_history->addMeeting(QStringLiteral("workspace-2"), {{"title", "Budget elsewhere"}});

    MeetingSessionHistoryListQuery query;
    query.limit = 2;
    QStringList seen;
    std::optional<QString> cursor;
    int pages = 0;
    do {
        query.cursor = cursor;
        const auto page = runTask(m_service->fetchSessions(query));
        QVERIFY(page.succeeded());
        for (const auto &item : page.value->items)
            seen.append(item.id);
        cursor = page.value->nextCursor;
        ++pages;
    } while (cursor && pages < 10);
    QCOMPARE(pages, 3);
    QCOMPARE(seen, ids);

    query = MeetingSessionHistoryListQuery();
    query.limit = 20;
    query.searchQuery = QStringLiteral("  BUDGET ");
    const auto found = runTask(m_service->fetchSessions(query));
    QVERIFY(found.succeeded());
    QCOMPARE(found.value->items.size(), 2);
    QCOMPARE(found.value->nextCursor, std::nullopt);
    const MeetingSessionHistoryListItem &item = found.value->items.first();
    QCOMPARE(item.title, QStringLiteral("Budget sync 3"));
    QCOMPARE(item.startedAt, utc(13, 9, 0, 0));
    QCOMPARE(item.hasSummary, true);
    QCOMPARE(item.processedByApp, QStringLiteral("macos"));
    QCOMPARE(found.value->items.last().hasSummary, false);
}

void tst_MeetingSessionHistoryService::detailReadsBackWhatWasSavedAndNullIsAnError()
{
    const MeetingSessionHistorySnapshot saved = fullSnapshot();
    const QString id = runTask(m_service->startSession(saved)).value->id;
    QVERIFY(runTask(m_service->updateSession(id, 1, saved)).succeeded());

    const auto detail = runTask(m_service->fetchSessionDetail(id));
    QVERIFY(detail.succeeded());
    QCOMPARE(detail.value->revision, 2);
    QCOMPARE(detail.value->title, saved.title);
    QCOMPARE(detail.value->status, QStringLiteral("completed"));
    QCOMPARE(detail.value->startedAt, utc(14, 9, 26, 53));
    QCOMPARE(detail.value->endedAt, utc(14, 10, 0, 0));
    QCOMPARE(detail.value->transcriptJson, saved.transcriptBlocks);
    QCOMPARE(detail.value->translationJson, saved.translationBlocks);
    QCOMPARE(detail.value->sessionParams, saved.sessionParams);
    QCOMPARE(detail.value->workspaceId, QStringLiteral("workspace-1"));

    const auto missing = runTask(m_service->fetchSessionDetail(QStringLiteral("no-such-meeting")));
    QVERIFY(missing.errorAs<JsonDecodeError>().has_value());
    QVERIFY(!missing.errorAs<ServiceError>().has_value());
}

void tst_MeetingSessionHistoryService::deleteRemovesTheMeeting()
{
    const QString keep = m_history->addMeeting(QStringLiteral("workspace-1"));
    const QString gone = m_history->addMeeting(QStringLiteral("workspace-1"));
    QVERIFY(runTask(m_service->deleteSession(gone)).succeeded());
    QVERIFY(m_history->isDeleted(gone));

    MeetingSessionHistoryListQuery query;
    const auto page = runTask(m_service->fetchSessions(query));
    QCOMPARE(page.value->items.size(), 1);
    QCOMPARE(page.value->items.first().id, keep);

    const auto again = runTask(m_service->deleteSession(gone));
    QCOMPARE(again.errorAs<ServiceError>(), ServiceError::graphqlRequestFailed(QStringLiteral("Meeting session not found")));
}

void tst_MeetingSessionHistoryService::workspaceIdResolutionOrder_data()
{
    QTest::addColumn<QJsonObject>("user");        // workspace fields of the signed-in user
    QTest::addColumn<QString>("environment");     // KAVREL_DEFAULT_WORKSPACE_ID, "-" when unset
    QTest::addColumn<QString>("saved");           // kavrel.savedDefaultWorkspaceID, "-" when unset
    QTest::addColumn<QString>("expected");

    const QJsonObject all = jsonObject(j("{'currentWorkspaceID':'cur','defaultWorkspaceID':'def','workspaceID':'ws',"
                                    "'currentWorkspace':{'id':'cur-ref'},'defaultWorkspace':{'id':'def-ref'},"
                                    "'workspace':{'id':'ws-ref'},'workspaces':[{'id':'list-1'},{'id':'list-2'}]}"));
    auto without = [&](QStringList keys, QJsonObject overrides = {}) {
        QJsonObject user = all;
        for (const QString &key : keys)
            user.remove(key);
        for (auto it = overrides.constBegin(); it != overrides.constEnd(); ++it)
            user.insert(it.key(), it.value());
        return user;
    };
    QStringList order{"currentWorkspaceID", "defaultWorkspaceID", "workspaceID", "currentWorkspace", "defaultWorkspace", "workspace", "workspaces"};

    QTest::newRow("current id first") << all << "env" << "saved" << "cur";
    QTest::newRow("blank current id") << without({}, {{"currentWorkspaceID", "  \n"}}) << "env" << "saved" << "def";
    QTest::newRow("workspace id, trimmed") << without(order.mid(0, 2), {{"workspaceID", " ws-3 "}}) << "-" << "-" << "ws-3";
    QTest::newRow("current reference") << without(order.mid(0, 3)) << "-" << "-" << "cur-ref";
    QTest::newRow("default reference after a blank current id")
        << QJsonObject{{"currentWorkspaceID", " "}, {"defaultWorkspace", QJsonObject{{"id", "def-ref"}}}} << "env" << "saved" << "def-ref";
    QTest::newRow("workspace reference") << without(order.mid(0, 5)) << "-" << "-" << "ws-ref";
    QTest::newRow("first listed workspace") << without(order.mid(0, 6)) << "-" << "-" << "list-1";
    QTest::newRow("blank first listed workspace")
        << QJsonObject{{"workspaces", QJsonArray{QJsonObject{{"id", " "}}, QJsonObject{{"id", "list-2"}}}}} << "env" << "-" << "env";
    QTest::newRow("empty list") << QJsonObject{{"workspaces", QJsonArray()}} << " env-2 " << "saved" << "env-2";
    QTest::newRow("saved default") << QJsonObject() << "-" << " saved-2\n" << "saved-2";
    QTest::newRow("blank environment, saved default") << QJsonObject() << "   " << "saved" << "saved";
    QTest::newRow("unexpanded build variable") << QJsonObject() << "$(DEFAULT_WORKSPACE)" << "$(X)" << "9e4b7c21-3f6a-4d85-b0e2-71c5a8d3f690";
    QTest::newRow("nothing configured") << QJsonObject() << "-" << "-" << "9e4b7c21-3f6a-4d85-b0e2-71c5a8d3f690";
}

void tst_MeetingSessionHistoryService::workspaceIdResolutionOrder()
{
    QFETCH(QJsonObject, user);
    QFETCH(QString, environment);
    QFETCH(QString, saved);
    QFETCH(QString, expected);

    QTemporaryDir directory;
    UserDefaults defaults(directory.filePath(QStringLiteral("preferences.ini")));
    if (saved != QLatin1String("-"))
        defaults.setString(QStringLiteral("kavrel.savedDefaultWorkspaceID"), saved);
    AppConfigurationStore configuration(
        &defaults,
        [environment](const QString &name) -> std::optional<QString> {
            if (name == QLatin1String("KAVREL_DEFAULT_WORKSPACE_ID") && environment != QLatin1String("-"))
                return environment;
            return std::nullopt;
        },
        [](const QString &) -> std::optional<QString> { return std::nullopt; });
    MeetingSessionHistoryService service(nullptr, configuration);

    // The fields are set as they stand (blank ones included), not through the user's reader.
    auto text = [&](const char *key) -> std::optional<QString> {
        if (!user.contains(QLatin1String(key)))
            return std::nullopt;
        return user.value(QLatin1String(key)).toString();
    };
    auto reference = [&](const char *key) -> std::optional<AuthenticatedUser::WorkspaceReference> {
        if (!user.contains(QLatin1String(key)))
            return std::nullopt;
        return AuthenticatedUser::WorkspaceReference{user.value(QLatin1String(key)).toObject().value("id").toString()};
    };
    AuthSession session = TestAuth::defaultSession();
    session.user.currentWorkspaceID = text("currentWorkspaceID");
    session.user.defaultWorkspaceID = text("defaultWorkspaceID");
    session.user.workspaceID = text("workspaceID");
    session.user.currentWorkspace = reference("currentWorkspace");
    session.user.defaultWorkspace = reference("defaultWorkspace");
    session.user.workspace = reference("workspace");
    if (user.contains(QLatin1String("workspaces"))) {
        QList<AuthenticatedUser::WorkspaceReference> list;
        for (const QJsonValue &value : user.value(QLatin1String("workspaces")).toArray())
            list.append(AuthenticatedUser::WorkspaceReference{value.toObject().value("id").toString()});
        session.user.workspaces = list;
    }
    QCOMPARE(service.resolvedWorkspaceID(session), expected);
}

void tst_MeetingSessionHistoryService::endpointFromTheBaseUrl_data()
{
    QTest::addColumn<QString>("environment"); // "-" when unset
    QTest::addColumn<QString>("saved");       // "-" when unset
    QTest::addColumn<QString>("expected");    // the endpoint, or "invalid:<text>"

    QTest::newRow("host only") << "http://127.0.0.1:8080" << "-" << "http://127.0.0.1:8080/graphql";
    QTest::newRow("trailing slash") << "https://api.example.com/" << "-" << "https://api.example.com/graphql";
    QTest::newRow("with a path") << "https://example.com/backend" << "-" << "https://example.com/backend/graphql";
    QTest::newRow("with a path and slash") << "https://example.com/backend/" << "-" << "https://example.com/backend/graphql";
    QTest::newRow("saved, trimmed") << "-" << "  https://saved.example.com \n" << "https://saved.example.com/graphql";
    QTest::newRow("saved build variable") << "-" << "$(KAVREL_AUTH_BASE_URL)" << "https://api.kavrel.app/graphql";
    QTest::newRow("not a URL") << "not a url" << "-" << "invalid:not a url";
    QTest::newRow("no host") << "https://" << "-" << "invalid:https://";
}

void tst_MeetingSessionHistoryService::endpointFromTheBaseUrl()
{
    QFETCH(QString, environment);
    QFETCH(QString, saved);
    QFETCH(QString, expected);

    QTemporaryDir directory;
    UserDefaults defaults(directory.filePath(QStringLiteral("preferences.ini")));
    if (saved != QLatin1String("-"))
        defaults.setString(QStringLiteral("kavrel.savedAuthBackendBaseURL"), saved);
    AppConfigurationStore configuration(
        &defaults,
        [environment](const QString &name) -> std::optional<QString> {
            if (name == QLatin1String("KAVREL_AUTH_BASE_URL") && environment != QLatin1String("-"))
                return environment;
            return std::nullopt;
        },
        [](const QString &) -> std::optional<QString> { return std::nullopt; });
    MeetingSessionHistoryService service(nullptr, configuration);

    try {
        const auto configured = service.makeConfiguration(TestAuth::defaultSession());
        QCOMPARE(configured.graphQLEndpoint.toString(), expected);
        QCOMPARE(configured.workspaceID, QStringLiteral("workspace-1"));
    } catch (const ServiceError &error) {
        QCOMPARE(QStringLiteral("invalid:") + error.payload(), expected);
        QCOMPARE(error.message(), QStringLiteral("Некорректный адрес сервера истории встреч: ") + error.payload());
    }
}

void tst_MeetingSessionHistoryService::signedOutSendsNothing()
{
    auto signedOut = TestAuth::signedInService(m_backend->baseUrl(), std::nullopt);
    MeetingSessionHistoryService service(signedOut.get());
    const auto outcome = runTask(service.startSession(snapshot()));
    QCOMPARE(outcome.errorAs<ServiceError>(), ServiceError::missingAuthSession());
    QCOMPARE(outcome.errorAs<ServiceError>()->message(), QStringLiteral("Войдите в аккаунт, чтобы синхронизировать историю встреч."));
    QVERIFY(runTask(service.fetchSessions(MeetingSessionHistoryListQuery())).errorAs<ServiceError>() == ServiceError::missingAuthSession());
    QCOMPARE(m_backend->requestCount(QStringLiteral("/graphql")), 0);
}

void tst_MeetingSessionHistoryService::transientNetworkErrors_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("transient");

    // The conditions a later attempt may get past: timed out, host not found, cannot
    // connect, connection lost, no network. Everything else is final, a cancel above all.
    const QSet<QNetworkReply::NetworkError> transient{
        QNetworkReply::ConnectionRefusedError, QNetworkReply::RemoteHostClosedError, QNetworkReply::HostNotFoundError,
        QNetworkReply::TimeoutError, QNetworkReply::TemporaryNetworkFailureError, QNetworkReply::NetworkSessionFailedError,
        QNetworkReply::ProxyConnectionRefusedError, QNetworkReply::ProxyConnectionClosedError,
        QNetworkReply::ProxyNotFoundError, QNetworkReply::ProxyTimeoutError,
        // No route to the network or the host, as when offline.
        QNetworkReply::UnknownNetworkError,
    };
    const QMetaEnum codes = QMetaEnum::fromType<QNetworkReply::NetworkError>();
    for (int i = 0; i < codes.keyCount(); ++i) {
        const auto code = QNetworkReply::NetworkError(codes.value(i));
        QTest::newRow(codes.key(i)) << int(code) << transient.contains(code);
    }
}

void tst_MeetingSessionHistoryService::transientNetworkErrors()
{
    QFETCH(int, code);
    QFETCH(bool, transient);
    const auto networkCode = QNetworkReply::NetworkError(code);
    const auto error = std::make_exception_ptr(NetworkError(NetworkError::Kind::other, networkCode, QString()));
    QCOMPARE(MeetingSessionHistoryService::isTransientNetworkError(error), transient);
    // Whatever kept the answer from being read, the request may still go through.
    QVERIFY(MeetingSessionHistoryService::isRetryableError(error));

    // Errors that are not network failures never are.
    if (code == QNetworkReply::NoError) {
        QVERIFY(!MeetingSessionHistoryService::isTransientNetworkError(std::make_exception_ptr(CancellationError())));
        QVERIFY(!MeetingSessionHistoryService::isTransientNetworkError(std::make_exception_ptr(ServiceError::invalidResponse())));
        QVERIFY(!MeetingSessionHistoryService::isTransientNetworkError(std::make_exception_ptr(JsonDecodeError("x", "y"))));
        QVERIFY(!MeetingSessionHistoryService::isTransientNetworkError(
            std::make_exception_ptr(AuthServiceError::requestFailed(QStringLiteral("Gateway timeout"), 504))));
        QVERIFY(!MeetingSessionHistoryService::isTransientNetworkError(nullptr));
        // Nothing to retry for a cancel or without a sign-in; a broken address is not the
        // server's refusal, so a record waits for it to be mended.
        QVERIFY(!MeetingSessionHistoryService::isRetryableError(nullptr));
        QVERIFY(!MeetingSessionHistoryService::isRetryableError(std::make_exception_ptr(CancellationError())));
        QVERIFY(!MeetingSessionHistoryService::isRetryableError(std::make_exception_ptr(ServiceError::missingAuthSession())));
        QVERIFY(MeetingSessionHistoryService::isRetryableError(
            std::make_exception_ptr(ServiceError::invalidBackendBaseURL(QStringLiteral("::")))));
        // Our own timer's time-out is transient whatever code came with it.
        QVERIFY(MeetingSessionHistoryService::isTransientNetworkError(std::make_exception_ptr(
            NetworkError(NetworkError::Kind::timedOut, QNetworkReply::OperationCanceledError, QString()))));
    }
}

void tst_MeetingSessionHistoryService::realNetworkFailuresAreTransient()
{
    // Nobody listens on a port that was just given up.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    auto auth = TestAuth::signedInService(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
    MeetingSessionHistoryService refused(auth.get());
    const auto outcome = runTask(refused.fetchSessions(MeetingSessionHistoryListQuery()));
    QVERIFY(outcome.errorAs<NetworkError>().has_value());
    QVERIFY(MeetingSessionHistoryService::isTransientNetworkError(outcome.error));

    m_service->setRequestTimeout(std::chrono::milliseconds(200));
    m_history->script(QStringLiteral("MeetingSessions"), Script::hang(false));
    const auto timedOut = runTask(m_service->fetchSessions(MeetingSessionHistoryListQuery()));
    QCOMPARE(timedOut.errorAs<NetworkError>()->kind(), NetworkError::Kind::timedOut);
    QVERIFY(MeetingSessionHistoryService::isTransientNetworkError(timedOut.error));
}

void tst_MeetingSessionHistoryService::droppedServiceEndsItsRequestWithCancellation()
{
    // The history browser closes while a list request is on its way.
    m_history->script(QStringLiteral("MeetingSessions"), Script::hang(false));
    MeetingSessionHistoryService *service = m_service.get();
    auto fetch = spawnTask([service](CancellationToken) -> QCoro::Task<void> {
        co_await service->fetchSessions(MeetingSessionHistoryListQuery());
    });
    QVERIFY(FakeBackend::waitUntil([&] { return m_backend->requestCount(QStringLiteral("/graphql")) == 1; }));
    m_service.reset();
    QVERIFY(FakeBackend::waitUntil([&] { return fetch.isFinished(); }));
    const auto outcome = runTask([](TaskHandle<void> handle) -> QCoro::Task<void> { co_await handle.result(); }(fetch));
    QVERIFY(outcome.isCancellation());
}

QTEST_GUILESS_MAIN(tst_MeetingSessionHistoryService)
#include "tst_MeetingSessionHistoryService.moc"
