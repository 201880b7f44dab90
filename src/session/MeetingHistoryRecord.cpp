#include "session/MeetingHistoryRecord.h"

#include "base/Json.h"

#include <QJsonObject>

namespace {

// Milliseconds are kept: the record's duration is counted from them, and a duration one
// second off would make an unchanged meeting look changed.
QString preciseDate(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODateWithMs);
}

QUuid uuid(const JsonReader &reader, const QString &key)
{
    const QUuid value = QUuid::fromString(reader.string(key));
    if (value.isNull())
        reader.fail(key, QStringLiteral("not a UUID"));
    return value;
}

QJsonObject settingsToJson(const MeetingSettings &settings)
{
    QJsonObject object;
    object.insert(QStringLiteral("sourceLanguage"), SourceLanguageOptions::rawValue(settings.sourceLanguage));
    object.insert(QStringLiteral("translationEnabled"), settings.isTranslationEnabled);
    object.insert(QStringLiteral("translationLanguage"), TranslationLanguageOptions::rawValue(settings.translationLanguage));
    object.insert(QStringLiteral("recordingEnabled"), settings.isAudioRecordingEnabled);
    object.insert(QStringLiteral("microphoneName"), settings.microphoneName);
    return object;
}

MeetingSettings settingsFromJson(const JsonReader &reader)
{
    MeetingSettings settings;
    const std::optional<SourceLanguageOption> source =
        SourceLanguageOptions::fromRawValue(reader.string(QStringLiteral("sourceLanguage")));
    if (!source)
        reader.fail(QStringLiteral("sourceLanguage"), QStringLiteral("not a source language"));
    const std::optional<TranslationLanguageOption> target =
        TranslationLanguageOptions::fromRawValue(reader.string(QStringLiteral("translationLanguage")));
    if (!target)
        reader.fail(QStringLiteral("translationLanguage"), QStringLiteral("not a translation language"));
    settings.sourceLanguage = *source;
    settings.isTranslationEnabled = reader.boolean(QStringLiteral("translationEnabled"));
    settings.translationLanguage = *target;
    settings.isAudioRecordingEnabled = reader.boolean(QStringLiteral("recordingEnabled"));
    settings.microphoneName = reader.string(QStringLiteral("microphoneName"));
    return settings;
}

} // namespace

bool MeetingHistoryRecord::belongsToDraft(const QUuid &turnID, const QDateTime &turnTime) const
{
    return firstTurnID && firstTurnTime && *firstTurnID == turnID
           && firstTurnTime->toSecsSinceEpoch() == turnTime.toSecsSinceEpoch();
}

QByteArray MeetingHistoryRecord::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("conversationGeneration"), conversationGeneration.toString(QUuid::WithoutBraces));
    Json::putOptional(object, QStringLiteral("sessionId"), sessionID);
    Json::putOptional(object, QStringLiteral("sessionRevision"), sessionRevision);
    if (startedAt)
        object.insert(QStringLiteral("startedAt"), preciseDate(*startedAt));
    if (endedAt)
        object.insert(QStringLiteral("endedAt"), preciseDate(*endedAt));
    object.insert(QStringLiteral("source"), source);
    object.insert(QStringLiteral("focusMode"), focusMode);
    Json::putOptional(object, QStringLiteral("lastSavedSignature"), lastSavedSignature);
    Json::putOptional(object, QStringLiteral("lastCompletedSignature"), lastCompletedSignature);
    // Written only when set: an ordinary entry stays as it was.
    if (startUncertain)
        object.insert(QStringLiteral("startUncertain"), true);
    object.insert(QStringLiteral("nextUsageEventSequence"), nextUsageEventSequence);
    if (firstTurnID)
        object.insert(QStringLiteral("firstTurnId"), firstTurnID->toString(QUuid::WithoutBraces));
    if (firstTurnTime)
        object.insert(QStringLiteral("firstTurnAt"), preciseDate(*firstTurnTime));
    Json::putOptional(object, QStringLiteral("accountId"), accountID);
    if (settings)
        object.insert(QStringLiteral("settings"), settingsToJson(*settings));
    return Json::toCompactBytes(object);
}

MeetingHistoryRecord MeetingHistoryRecord::fromJson(const QByteArray &json)
{
    const JsonReader reader = JsonReader::parse(json);
    MeetingHistoryRecord record;
    record.conversationGeneration = uuid(reader, QStringLiteral("conversationGeneration"));
    record.sessionID = reader.optionalString(QStringLiteral("sessionId"));
    record.sessionRevision = reader.optionalInteger(QStringLiteral("sessionRevision"));
    record.startedAt = reader.optionalDate(QStringLiteral("startedAt"));
    record.endedAt = reader.optionalDate(QStringLiteral("endedAt"));
    record.source = reader.string(QStringLiteral("source"));
    record.focusMode = reader.boolean(QStringLiteral("focusMode"));
    record.lastSavedSignature = reader.optionalString(QStringLiteral("lastSavedSignature"));
    record.lastCompletedSignature = reader.optionalString(QStringLiteral("lastCompletedSignature"));
    record.startUncertain = reader.optionalBoolean(QStringLiteral("startUncertain")).value_or(false);
    if (const std::optional<qint64> sequence = reader.optionalInteger(QStringLiteral("nextUsageEventSequence")))
        record.nextUsageEventSequence = int(*sequence);
    if (reader.has(QStringLiteral("firstTurnId")))
        record.firstTurnID = uuid(reader, QStringLiteral("firstTurnId"));
    record.firstTurnTime = reader.optionalDate(QStringLiteral("firstTurnAt"));
    record.accountID = reader.optionalString(QStringLiteral("accountId"));
    if (const std::optional<JsonReader> settings = reader.optionalObject(QStringLiteral("settings")))
        record.settings = settingsFromJson(*settings);
    return record;
}
