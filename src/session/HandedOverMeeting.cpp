#include "session/HandedOverMeeting.h"

#include "base/Json.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

// Milliseconds are kept, as in the record: the snapshot is sent again exactly as it was taken.
QString preciseDate(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODateWithMs);
}

QJsonObject snapshotToJson(const MeetingSessionHistorySnapshot &snapshot)
{
    QJsonObject object;
    Json::putOptional(object, QStringLiteral("title"), snapshot.title);
    object.insert(QStringLiteral("startedAt"), preciseDate(snapshot.startedAt));
    if (snapshot.endedAt)
        object.insert(QStringLiteral("endedAt"), preciseDate(*snapshot.endedAt));
    Json::putOptional(object, QStringLiteral("durationSeconds"), snapshot.durationSeconds);
    object.insert(QStringLiteral("status"), MeetingSessionHistoryStatusValue::rawValue(snapshot.status));
    object.insert(QStringLiteral("inputLanguage"), snapshot.inputLanguage);
    Json::putOptional(object, QStringLiteral("translationLanguage"), snapshot.translationLanguage);
    object.insert(QStringLiteral("translationEnabled"), snapshot.translationEnabled);
    object.insert(QStringLiteral("recordingEnabled"), snapshot.recordingEnabled);
    Json::putOptional(object, QStringLiteral("microphoneLabel"), snapshot.microphoneLabel);
    QJsonArray transcript;
    for (const MeetingSessionTranscriptBlock &block : snapshot.transcriptBlocks)
        transcript.append(block.toJson());
    object.insert(QStringLiteral("transcriptBlocks"), transcript);
    QJsonArray translation;
    for (const MeetingSessionTranslationBlock &block : snapshot.translationBlocks)
        translation.append(block.toJson());
    object.insert(QStringLiteral("translationBlocks"), translation);
    Json::putOptional(object, QStringLiteral("summaryText"), snapshot.summaryText);
    Json::putOptional(object, QStringLiteral("protocolText"), snapshot.protocolText);
    Json::putOptional(object, QStringLiteral("suggestedAnswerText"), snapshot.suggestedAnswerText);
    object.insert(QStringLiteral("sessionParams"), snapshot.sessionParams.toJson());
    return object;
}

MeetingSessionHistorySnapshot snapshotFromJson(const JsonReader &reader)
{
    using namespace MeetingSessionHistoryDecoding;
    MeetingSessionHistorySnapshot snapshot;
    snapshot.title = reader.optionalString(QStringLiteral("title"));
    snapshot.startedAt = reader.date(QStringLiteral("startedAt"));
    snapshot.endedAt = reader.optionalDate(QStringLiteral("endedAt"));
    snapshot.durationSeconds = reader.optionalInteger(QStringLiteral("durationSeconds"));
    const std::optional<MeetingSessionHistoryStatus> status =
        MeetingSessionHistoryStatusValue::fromRawValue(reader.string(QStringLiteral("status")));
    if (!status)
        reader.fail(QStringLiteral("status"), QStringLiteral("not a meeting status"));
    snapshot.status = *status;
    snapshot.inputLanguage = reader.string(QStringLiteral("inputLanguage"));
    snapshot.translationLanguage = reader.optionalString(QStringLiteral("translationLanguage"));
    snapshot.translationEnabled = reader.boolean(QStringLiteral("translationEnabled"));
    snapshot.recordingEnabled = reader.boolean(QStringLiteral("recordingEnabled"));
    snapshot.microphoneLabel = reader.optionalString(QStringLiteral("microphoneLabel"));
    snapshot.transcriptBlocks = list<MeetingSessionTranscriptBlock>(
        reader.array(QStringLiteral("transcriptBlocks")), reader.pathOf(QStringLiteral("transcriptBlocks")),
        &MeetingSessionTranscriptBlock::fromJson);
    snapshot.translationBlocks = list<MeetingSessionTranslationBlock>(
        reader.array(QStringLiteral("translationBlocks")), reader.pathOf(QStringLiteral("translationBlocks")),
        &MeetingSessionTranslationBlock::fromJson);
    snapshot.summaryText = reader.optionalString(QStringLiteral("summaryText"));
    snapshot.protocolText = reader.optionalString(QStringLiteral("protocolText"));
    snapshot.suggestedAnswerText = reader.optionalString(QStringLiteral("suggestedAnswerText"));
    snapshot.sessionParams = MeetingSessionHistorySessionParams::fromJson(reader.object().value(QStringLiteral("sessionParams")),
                                                                          reader.pathOf(QStringLiteral("sessionParams")));
    return snapshot;
}

} // namespace

QJsonObject HandedOverMeeting::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("record"), QJsonDocument::fromJson(record.toJson()).object());
    object.insert(QStringLiteral("finalSnapshot"), snapshotToJson(finalSnapshot));
    Json::putOptional(object, QStringLiteral("accountId"), accountID);
    if (!usageEvents.isEmpty()) {
        QJsonArray events;
        for (const KavrelBillingUsageEvent &event : usageEvents)
            events.append(event.toJson());
        object.insert(QStringLiteral("usageEvents"), events);
    }
    return object;
}

HandedOverMeeting HandedOverMeeting::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    HandedOverMeeting meeting;
    const JsonReader record = reader.object(QStringLiteral("record"));
    meeting.record = MeetingHistoryRecord::fromJson(QJsonDocument(record.object()).toJson(QJsonDocument::Compact));
    meeting.finalSnapshot = snapshotFromJson(reader.object(QStringLiteral("finalSnapshot")));
    meeting.accountID = reader.optionalString(QStringLiteral("accountId"));
    if (const std::optional<QJsonArray> events = reader.optionalArray(QStringLiteral("usageEvents"))) {
        meeting.usageEvents = MeetingSessionHistoryDecoding::list<KavrelBillingUsageEvent>(
            *events, reader.pathOf(QStringLiteral("usageEvents")), &KavrelBillingUsageEvent::fromJson);
    }
    return meeting;
}
