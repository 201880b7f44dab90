// The meeting history service's requests as the server sees them: every document with its
// variables, an uncertain start recovered by its client session id, an update resent when its
// content is unreadable or its revision outdated, the list, detail and delete read back, and
// where the workspace and the endpoint come from.

#include "MeetingSessionHistoryFixture.h"

#include "base/Json.h"
#include "platform/UserDefaults.h"
#include "support/JsonLiteral.h"
#include "support/TaskResult.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using namespace MeetingSessionHistoryTest;
using Script = FakeHistoryBackend::ScriptedReply;
using ServiceError = MeetingSessionHistoryServiceError;

namespace {

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

class tst_MeetingSessionHistoryService : public QObject, protected MeetingSessionHistoryFixture
{
    Q_OBJECT

private Q_SLOTS:
    void init() { initFixture(); }
    void cleanup() { cleanupFixture(); }

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
    void listPagesWithCursorAndSearch();
    void detailReadsBackWhatWasSavedAndNullIsAnError();
    void deleteRemovesTheMeeting();
    void workspaceIdResolutionOrder_data();
    void workspaceIdResolutionOrder();
    void endpointFromTheBaseUrl_data();
    void endpointFromTheBaseUrl();
};

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

QTEST_GUILESS_MAIN(tst_MeetingSessionHistoryService)
#include "tst_MeetingSessionHistoryService.moc"
