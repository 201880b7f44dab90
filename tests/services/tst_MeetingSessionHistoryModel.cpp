#include "base/Json.h"
#include "services/MeetingSessionHistoryTypes.h"
#include "services/MeetingSessionHistoryGraphQL.h"
#include "services/MeetingSessionHistorySnapshot.h"
#include "support/JsonLiteral.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QTimeZone>

#include <functional>

using namespace MeetingSessionHistoryGraphQL;

namespace {

// JSON written with single quotes, which keeps the fixtures readable.
QByteArray j(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

QJsonObject merged(QJsonObject base, const QJsonObject &changes, const QStringList &removed = {})
{
    for (auto it = changes.constBegin(); it != changes.constEnd(); ++it)
        base.insert(it.key(), it.value());
    for (const QString &key : removed)
        base.remove(key);
    return base;
}

// "ok", or "decode" when the reader threw JsonDecodeError.
QString outcomeOf(const std::function<void()> &work)
{
    try {
        work();
        return QStringLiteral("ok");
    } catch (const JsonDecodeError &) {
        return QStringLiteral("decode");
    }
}

QJsonObject listItemJson()
{
    return jsonObject(j("{'id':'m-1','title':'Weekly','status':'completed','startedAt':'2025-03-14T09:26:53Z',"
                   "'updatedAt':'2025-03-14T10:00:00.120Z','durationSeconds':1800,'processedByApp':'macos',"
                   "'previewText':'Hello','inputLanguage':'en','translationLanguage':'russian','translationEnabled':true,"
                   "'recordingEnabled':false,'wordCount':120,'lineCount':12,'hasSummary':true,'hasProtocol':false,"
                   "'hasSuggestedAnswer':false,'unknownKey':[1,2]}"));
}

QJsonObject detailJson()
{
    return jsonObject(j("{'id':'m-1','workspaceId':'w-1','title':null,'status':'active','startedAt':'2025-03-14T09:26:53Z',"
                   "'endedAt':null,'durationSeconds':null,'processedByApp':'macos','inputLanguage':'ru',"
                   "'translationLanguage':'english','translationEnabled':true,'recordingEnabled':true,"
                   "'microphoneLabel':'USB Mic','previewText':'Привет','transcriptText':'[10:00:00] Привет',"
                   "'transcriptJson':[{'id':'turn-a','seq':1,'timestamp':'10:00:00','text':'Привет'}],"
                   "'translationText':'Hello',"
                   "'translationJson':[{'transcriptBlockId':'turn-a','seq':1,'language':'english','text':'Hello'}],"
                   "'summaryText':'- greeting','protocolText':null,'suggestedAnswerText':null,"
                   "'sessionParams':{'client':'macos','source':'system_audio','appVersion':'1.2','focusMode':false,"
                   "'clientSessionId':'kavrel-macos-history-1f0c'},"
                   "'statsJson':{'wordCount':1,'lineCount':1,'hasSummary':true},'wordCount':1,'lineCount':1,"
                   "'revision':7,'createdAt':'2025-03-14T09:26:53.5Z','updatedAt':'2025-03-14T09:30:00Z',"
                   "'deletedAt':null,'hasSummary':true,'hasProtocol':false,'hasSuggestedAnswer':false}"));
}

QDateTime utc(int hour, int minute, int second, int ms = 0)
{
    return QDateTime(QDate(2025, 3, 14), QTime(hour, minute, second, ms), QTimeZone::utc());
}

MeetingSessionTranscriptBlock block(const QString &id, qint64 seq, const QString &text,
                                    std::optional<QString> speaker = std::nullopt)
{
    MeetingSessionTranscriptBlock result;
    result.id = id;
    result.seq = seq;
    result.timestamp = QStringLiteral("10:00:0%1").arg(seq);
    result.speakerLabel = std::move(speaker);
    result.text = text;
    return result;
}

MeetingSessionHistorySnapshot baseSnapshot()
{
    MeetingSessionHistorySnapshot snapshot;
    snapshot.title = QStringLiteral("Weekly");
    snapshot.startedAt = utc(9, 26, 53);
    snapshot.durationSeconds = 60;
    snapshot.status = MeetingSessionHistoryStatus::active;
    snapshot.inputLanguage = QStringLiteral("en");
    snapshot.translationLanguage = QStringLiteral("russian");
    snapshot.translationEnabled = true;
    snapshot.microphoneLabel = QStringLiteral("USB Mic");
    snapshot.transcriptBlocks = {block(QStringLiteral("turn-a"), 1, QStringLiteral("Hello there"))};
    MeetingSessionTranslationBlock translation;
    translation.transcriptBlockId = QStringLiteral("turn-a");
    translation.seq = 1;
    translation.language = QStringLiteral("russian");
    translation.text = QStringLiteral("Привет");
    snapshot.translationBlocks = {translation};
    snapshot.sessionParams.client = QStringLiteral("macos");
    snapshot.sessionParams.source = QStringLiteral("system_audio");
    snapshot.sessionParams.appVersion = QStringLiteral("1.0");
    snapshot.sessionParams.clientSessionId = QStringLiteral("kavrel-macos-history-abc");
    return snapshot;
}

using SnapshotChange = std::function<void(MeetingSessionHistorySnapshot &)>;

} // namespace

Q_DECLARE_METATYPE(SnapshotChange)

class tst_MeetingSessionHistoryModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void statusRawValues();
    void blocksAndParamsEncodeOnlyPresentKeysAndReadBack();
    void listItemDecoding_data();
    void listItemDecoding();
    void detailDecoding_data();
    void detailDecoding();
    void detailReadsNestedValues();
    void signatureTellsRecordsApart_data();
    void signatureTellsRecordsApart();
    void signatureIgnoresWhatIsNotSent();
    void envelopeDecoding_data();
    void envelopeDecoding();
    void operationDataDecoding_data();
    void operationDataDecoding();
};

void tst_MeetingSessionHistoryModel::statusRawValues()
{
    using namespace MeetingSessionHistoryStatusValue;
    QCOMPARE(rawValue(MeetingSessionHistoryStatus::active), QStringLiteral("active"));
    QCOMPARE(rawValue(MeetingSessionHistoryStatus::completed), QStringLiteral("completed"));
    QCOMPARE(fromRawValue(QStringLiteral("completed")), MeetingSessionHistoryStatus::completed);
    QCOMPARE(fromRawValue(QStringLiteral("Completed")), std::nullopt);
    QCOMPARE(fromRawValue(QStringLiteral("deleted")), std::nullopt);
}

void tst_MeetingSessionHistoryModel::blocksAndParamsEncodeOnlyPresentKeysAndReadBack()
{
    const MeetingSessionTranscriptBlock plain = block(QStringLiteral("turn-1"), 1, QStringLiteral("Hi"));
    QStringList keys = plain.toJson().keys();
    keys.sort();
    QCOMPARE(keys, (QStringList{"id", "seq", "text", "timestamp"}));
    QCOMPARE(MeetingSessionTranscriptBlock::fromJson(plain.toJson()), plain);

    const MeetingSessionTranscriptBlock labelled = block(QStringLiteral("turn-2"), 2, QStringLiteral("Yo"), QStringLiteral("Speaker 1"));
    QCOMPARE(labelled.toJson().value(QStringLiteral("speakerLabel")).toString(), QStringLiteral("Speaker 1"));
    QCOMPARE(MeetingSessionTranscriptBlock::fromJson(labelled.toJson()), labelled);

    MeetingSessionHistorySessionParams minimal;
    minimal.client = QStringLiteral("macos");
    minimal.source = QStringLiteral("system_audio");
    keys = minimal.toJson().keys();
    keys.sort();
    QCOMPARE(keys, (QStringList{"client", "source"}));
    QCOMPARE(MeetingSessionHistorySessionParams::fromJson(minimal.toJson()), minimal);

    MeetingSessionHistorySessionParams full = minimal;
    full.appVersion = QStringLiteral("2.0");
    full.focusMode = false;
    full.clientSessionId = QStringLiteral("kavrel-macos-history-x");
    QCOMPARE(full.toJson().value(QStringLiteral("focusMode")), QJsonValue(false));
    QCOMPARE(MeetingSessionHistorySessionParams::fromJson(full.toJson()), full);

    MeetingSessionTranslationBlock translation;
    translation.transcriptBlockId = QStringLiteral("turn-1");
    translation.seq = 1;
    translation.language = QStringLiteral("german");
    translation.text = QStringLiteral("Hallo");
    QCOMPARE(MeetingSessionTranslationBlock::fromJson(translation.toJson()), translation);
}

void tst_MeetingSessionHistoryModel::listItemDecoding_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<QString>("outcome");

    const QJsonObject base = listItemJson();
    QTest::newRow("complete, unknown keys ignored") << base << "ok";
    QTest::newRow("title null is absent") << merged(base, {{"title", QJsonValue::Null}}) << "ok";
    QTest::newRow("optionals missing") << merged(base, {}, {"title", "durationSeconds", "processedByApp", "previewText",
                                                            "inputLanguage", "translationLanguage", "wordCount", "lineCount"})
                                       << "ok";
    QTest::newRow("status outside the enumeration") << merged(base, {{"status", "deleted"}}) << "ok";
    QTest::newRow("hasSummary missing") << merged(base, {}, {"hasSummary"}) << "decode";
    QTest::newRow("hasSummary null") << merged(base, {{"hasSummary", QJsonValue::Null}}) << "decode";
    QTest::newRow("id missing") << merged(base, {}, {"id"}) << "decode";
    QTest::newRow("updatedAt missing") << merged(base, {}, {"updatedAt"}) << "decode";
    QTest::newRow("date not ISO 8601") << merged(base, {{"startedAt", "14.03.2025"}}) << "decode";
    QTest::newRow("bare date") << merged(base, {{"startedAt", "2025-03-14"}}) << "decode";
    QTest::newRow("date as a number") << merged(base, {{"startedAt", 1741944413}}) << "decode";
    QTest::newRow("duration as a text") << merged(base, {{"durationSeconds", "1800"}}) << "decode";
    QTest::newRow("duration with a fraction") << merged(base, {{"durationSeconds", 1.5}}) << "decode";
    QTest::newRow("flag as a number") << merged(base, {{"translationEnabled", 1}}) << "decode";
    QTest::newRow("title of the wrong type") << merged(base, {{"title", 5}}) << "decode";
}

void tst_MeetingSessionHistoryModel::listItemDecoding()
{
    QFETCH(QJsonObject, json);
    QFETCH(QString, outcome);
    QCOMPARE(outcomeOf([&] { MeetingSessionHistoryListItem::fromJson(json); }), outcome);
}

void tst_MeetingSessionHistoryModel::detailDecoding_data()
{
    QTest::addColumn<QJsonObject>("json");
    QTest::addColumn<QString>("outcome");

    const QJsonObject base = detailJson();
    QTest::newRow("complete") << base << "ok";
    QTest::newRow("block lists missing") << merged(base, {}, {"transcriptJson", "translationJson"}) << "ok";
    QTest::newRow("block lists null") << merged(base, {{"transcriptJson", QJsonValue::Null}, {"translationJson", QJsonValue::Null}}) << "ok";
    QTest::newRow("transcriptJson as a text") << merged(base, {{"transcriptJson", "[]"}}) << "decode";
    QTest::newRow("block without text") << merged(base, {{"transcriptJson", QJsonArray{QJsonObject{{"id", "t"}, {"seq", 1}, {"timestamp", "x"}}}}}) << "decode";
    QTest::newRow("sessionParams without client") << merged(base, {{"sessionParams", QJsonObject{{"source", "system_audio"}}}}) << "decode";
    QTest::newRow("sessionParams without source") << merged(base, {{"sessionParams", QJsonObject{{"client", "macos"}}}}) << "decode";
    QTest::newRow("statsJson as a text") << merged(base, {{"statsJson", "{}"}}) << "decode";
    QTest::newRow("revision missing") << merged(base, {}, {"revision"}) << "decode";
    QTest::newRow("revision null") << merged(base, {{"revision", QJsonValue::Null}}) << "decode";
    QTest::newRow("createdAt malformed") << merged(base, {{"createdAt", "yesterday"}}) << "decode";
    QTest::newRow("deletedAt set") << merged(base, {{"deletedAt", "2025-03-15T00:00:00+03:00"}}) << "ok";
}

void tst_MeetingSessionHistoryModel::detailDecoding()
{
    QFETCH(QJsonObject, json);
    QFETCH(QString, outcome);
    QCOMPARE(outcomeOf([&] { MeetingSessionHistoryDetail::fromJson(json); }), outcome);
}

void tst_MeetingSessionHistoryModel::detailReadsNestedValues()
{
    const MeetingSessionHistoryDetail detail = MeetingSessionHistoryDetail::fromJson(detailJson());
    QCOMPARE(detail.title, std::nullopt);
    QCOMPARE(detail.revision, 7);
    QCOMPARE(detail.createdAt, utc(9, 26, 53, 500));
    QVERIFY(detail.transcriptJson.has_value());
    QCOMPARE(detail.transcriptJson->size(), 1);
    QCOMPARE(detail.transcriptJson->first().speakerLabel, std::nullopt);
    QCOMPARE(detail.translationJson->first().language, QStringLiteral("english"));
    QCOMPARE(detail.sessionParams->focusMode, false);
    QCOMPARE(detail.statsJson->hasProtocol, std::nullopt);
    QCOMPARE(detail.statsJson->wordCount, 1);

    const MeetingSessionHistoryListItem item = MeetingSessionHistoryListItem::fromJson(listItemJson());
    QCOMPARE(item.updatedAt, utc(10, 0, 0, 120));
    QCOMPARE(item.status, QStringLiteral("completed"));
}

void tst_MeetingSessionHistoryModel::signatureTellsRecordsApart_data()
{
    QTest::addColumn<SnapshotChange>("left");
    QTest::addColumn<SnapshotChange>("right");

    const SnapshotChange none = [](MeetingSessionHistorySnapshot &) {};
    QTest::newRow("block added") << none << SnapshotChange([](auto &s) {
        s.transcriptBlocks.append(block(QStringLiteral("turn-b"), 2, QStringLiteral("More")));
    });
    QTest::newRow("one character of a block") << none << SnapshotChange([](auto &s) {
        s.transcriptBlocks[0].text = QStringLiteral("Hello therE");
    });
    QTest::newRow("speaker label appears") << none << SnapshotChange([](auto &s) {
        s.transcriptBlocks[0].speakerLabel = QStringLiteral("Speaker 2");
    });
    QTest::newRow("new summary") << none << SnapshotChange([](auto &s) { s.summaryText = QStringLiteral("- point"); });
    QTest::newRow("completed") << none << SnapshotChange([](auto &s) { s.status = MeetingSessionHistoryStatus::completed; });
    QTest::newRow("translation changed") << none << SnapshotChange([](auto &s) { s.translationBlocks[0].text = QStringLiteral("Здравствуй"); });
    QTest::newRow("focus mode absent or false") << none << SnapshotChange([](auto &s) { s.sessionParams.focusMode = false; });
    QTest::newRow("end time set") << none << SnapshotChange([](auto &s) { s.endedAt = utc(10, 0, 0); });

    // Values that the server stores differently must never share a fingerprint.
    QTest::newRow("duration absent or zero") << SnapshotChange([](auto &s) { s.durationSeconds.reset(); })
                                             << SnapshotChange([](auto &s) { s.durationSeconds = 0; });
    QTest::newRow("title absent or empty") << SnapshotChange([](auto &s) { s.title.reset(); })
                                           << SnapshotChange([](auto &s) { s.title = QString(); });
    QTest::newRow("speaker absent or empty") << none << SnapshotChange([](auto &s) { s.transcriptBlocks[0].speakerLabel = QString(); });

    // Separators inside texts: the same characters, split over fields differently.
    QTest::newRow("text that spells a block separator")
        << SnapshotChange([](auto &s) {
               s.transcriptBlocks = {block(QStringLiteral("t1"), 1, QStringLiteral("hello||t2|2|10:00:02||bye"))};
           })
        << SnapshotChange([](auto &s) {
               s.transcriptBlocks = {block(QStringLiteral("t1"), 1, QStringLiteral("hello")),
                                     block(QStringLiteral("t2"), 2, QStringLiteral("bye"))};
           });
    QTest::newRow("text that spells a component separator")
        << SnapshotChange([](auto &s) {
               s.summaryText = QStringLiteral("s::p");
               s.protocolText.reset();
           })
        << SnapshotChange([](auto &s) {
               s.summaryText = QStringLiteral("s");
               s.protocolText = QStringLiteral("p::");
           });
    QTest::newRow("label and text swap a bar")
        << SnapshotChange([](auto &s) {
               s.transcriptBlocks[0].speakerLabel = QStringLiteral("A|B");
               s.transcriptBlocks[0].text = QStringLiteral("C");
           })
        << SnapshotChange([](auto &s) {
               s.transcriptBlocks[0].speakerLabel = QStringLiteral("A");
               s.transcriptBlocks[0].text = QStringLiteral("B|C");
           });
    QTest::newRow("escape character itself")
        << SnapshotChange([](auto &s) { s.title = QStringLiteral("a\\"); s.microphoneLabel = QStringLiteral(":b"); })
        << SnapshotChange([](auto &s) { s.title = QStringLiteral("a\\:"); s.microphoneLabel = QStringLiteral("b"); });
}

void tst_MeetingSessionHistoryModel::signatureTellsRecordsApart()
{
    QFETCH(SnapshotChange, left);
    QFETCH(SnapshotChange, right);
    MeetingSessionHistorySnapshot a = baseSnapshot();
    MeetingSessionHistorySnapshot b = baseSnapshot();
    left(a);
    right(b);
    QVERIFY(!(a == b));
    QVERIFY2(a.signature() != b.signature(), qPrintable(a.signature()));
}

void tst_MeetingSessionHistoryModel::signatureIgnoresWhatIsNotSent()
{
    const MeetingSessionHistorySnapshot base = baseSnapshot();
    QCOMPARE(base.signature(), baseSnapshot().signature());

    // Dates go to the server to the second, in UTC.
    MeetingSessionHistorySnapshot fractional = base;
    fractional.startedAt = utc(9, 26, 53, 740);
    QCOMPARE(fractional.signature(), base.signature());
    MeetingSessionHistorySnapshot offset = base;
    offset.startedAt = base.startedAt.toOffsetFromUtc(3 * 3600);
    QCOMPARE(offset.signature(), base.signature());

    MeetingSessionHistorySnapshot emptyOne;
    emptyOne.startedAt = utc(9, 0, 0);
    emptyOne.sessionParams.client = QStringLiteral("macos");
    emptyOne.sessionParams.source = QStringLiteral("system_audio");
    QCOMPARE(emptyOne.signature(), MeetingSessionHistorySnapshot(emptyOne).signature());
    QVERIFY(emptyOne.signature() != base.signature());
}

void tst_MeetingSessionHistoryModel::envelopeDecoding_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("outcome"); // "decode", or "<data present>/<error count>/<message>/<code>"

    QTest::newRow("errors without data") << j("{'errors':[{'message':'boom'}]}") << "no data/1/boom/-";
    QTest::newRow("errors beside null data") << j("{'data':null,'errors':[{'message':'boom','extensions':{'code':'X'}}]}") << "no data/1/boom/X";
    QTest::newRow("errors beside data of another shape") << j("{'data':{'startMeetingSession':null},'errors':[{'message':'m'}]}") << "data/1/m/-";
    QTest::newRow("bare error element") << j("{'errors':[{}]}") << "no data/1/-/-";
    QTest::newRow("extensions without code") << j("{'errors':[{'message':'m','extensions':{'other':1}}],'data':{}}") << "data/1/m/-";
    QTest::newRow("empty error list") << j("{'data':{'x':1},'errors':[]}") << "data/0/-/-";
    QTest::newRow("errors null") << j("{'data':{'x':1},'errors':null}") << "data/-/-/-";
    QTest::newRow("empty object") << j("{}") << "no data/-/-/-";
    QTest::newRow("errors not a list") << j("{'errors':{'message':'m'}}") << "decode";
    QTest::newRow("message of the wrong type") << j("{'errors':[{'message':5}]}") << "decode";
    QTest::newRow("not JSON") << QByteArray("<html>Bad gateway</html>") << "decode";
    QTest::newRow("JSON array") << QByteArray("[]") << "decode";
}

void tst_MeetingSessionHistoryModel::envelopeDecoding()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, outcome);
    QString actual;
    try {
        const GraphQLEnvelope envelope = GraphQLEnvelope::fromJsonBytes(body);
        const QString count = envelope.errors ? QString::number(envelope.errors->size()) : QStringLiteral("-");
        QString message = QStringLiteral("-");
        QString code = QStringLiteral("-");
        if (envelope.errors && !envelope.errors->isEmpty()) {
            message = envelope.errors->first().message.value_or(QStringLiteral("-"));
            if (envelope.errors->first().extensions)
                code = envelope.errors->first().extensions->code.value_or(QStringLiteral("-"));
        }
        actual = QStringLiteral("%1/%2/%3/%4").arg(envelope.data ? "data" : "no data", count, message, code);
    } catch (const JsonDecodeError &) {
        actual = QStringLiteral("decode");
    }
    QCOMPARE(actual, outcome);
}

void tst_MeetingSessionHistoryModel::operationDataDecoding_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("outcome");

    QTest::newRow("start") << "start" << j("{'startMeetingSession':{'id':'m','revision':1}}") << "ok";
    QTest::newRow("start null") << "start" << j("{'startMeetingSession':null}") << "decode";
    QTest::newRow("start revision as text") << "start" << j("{'startMeetingSession':{'id':'m','revision':'1'}}") << "decode";
    QTest::newRow("list without cursor") << "list" << j("{'meetingSessions':{'items':[]}}") << "ok";
    QTest::newRow("list with null cursor") << "list" << j("{'meetingSessions':{'items':[],'nextCursor':null}}") << "ok";
    QTest::newRow("list without items") << "list" << j("{'meetingSessions':{'nextCursor':'c'}}") << "decode";
    QTest::newRow("recovery item without params") << "recover" << j("{'meetingSessions':{'items':[{'id':'m','revision':2}]}}") << "ok";
    QTest::newRow("recovery params without client") << "recover"
        << j("{'meetingSessions':{'items':[{'id':'m','revision':2,'sessionParams':{'source':'s'}}]}}") << "decode";
    QTest::newRow("detail null") << "detail" << j("{'meetingSession':null}") << "decode";
    QTest::newRow("delete with null time") << "delete" << j("{'deleteMeetingSession':{'id':'m','status':'deleted','deletedAt':null,'revision':3}}") << "ok";
    QTest::newRow("delete field missing") << "delete" << j("{}") << "decode";
    QTest::newRow("revision") << "revision" << j("{'meetingSessionRevision':{'id':'m','revision':9}}") << "ok";
}

void tst_MeetingSessionHistoryModel::operationDataDecoding()
{
    QFETCH(QString, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, outcome);
    const QJsonValue value = jsonObject(data);
    QCOMPARE(outcomeOf([&] {
                 if (type == QLatin1String("start"))
                     StartMeetingSessionResponse::fromJson(value, QStringLiteral("data"));
                 else if (type == QLatin1String("list"))
                     MeetingSessionsResponse::fromJson(value, QStringLiteral("data"));
                 else if (type == QLatin1String("recover"))
                     RecoverableSessionsResponse::fromJson(value, QStringLiteral("data"));
                 else if (type == QLatin1String("detail"))
                     MeetingSessionDetailResponse::fromJson(value, QStringLiteral("data"));
                 else if (type == QLatin1String("delete"))
                     DeleteMeetingSessionResponse::fromJson(value, QStringLiteral("data"));
                 else
                     MeetingSessionRevisionResponse::fromJson(value, QStringLiteral("data"));
             }),
             outcome);
}

QTEST_GUILESS_MAIN(tst_MeetingSessionHistoryModel)
#include "tst_MeetingSessionHistoryModel.moc"
