#include "services/MeetingSessionHistoryTypes.h"

#include "base/Dates.h"

namespace MeetingSessionHistoryDecoding {

QDateTime date(const JsonReader &reader, const QString &key)
{
    const auto it = reader.object().constFind(key);
    if (it == reader.object().constEnd() || it->isUndefined())
        reader.fail(key, QStringLiteral("missing key"));
    if (it->isNull())
        reader.fail(key, QStringLiteral("null value for a required key"));
    return Dates::decodeBackendDate(*it, reader.pathOf(key));
}

std::optional<QDateTime> optionalDate(const JsonReader &reader, const QString &key)
{
    if (!reader.has(key))
        return std::nullopt;
    return Dates::decodeBackendDate(reader.object().value(key), reader.pathOf(key));
}

} // namespace MeetingSessionHistoryDecoding

namespace {

using namespace MeetingSessionHistoryDecoding;

// An optional object member read with the member type's own reader.
template<typename T>
std::optional<T> optionalMember(const JsonReader &reader, const QString &key)
{
    if (!reader.has(key))
        return std::nullopt;
    return T::fromJson(reader.object().value(key), reader.pathOf(key));
}

// An optional array member whose elements are read with the element type's own reader.
template<typename T>
std::optional<QList<T>> optionalList(const JsonReader &reader, const QString &key)
{
    const auto array = reader.optionalArray(key);
    if (!array)
        return std::nullopt;
    return list<T>(*array, reader.pathOf(key), &T::fromJson);
}

// The list row and the whole record end with the same three flags.
template<typename Record>
void readContentFlags(const JsonReader &reader, Record &record)
{
    record.hasSummary = reader.boolean(QStringLiteral("hasSummary"));
    record.hasProtocol = reader.boolean(QStringLiteral("hasProtocol"));
    record.hasSuggestedAnswer = reader.boolean(QStringLiteral("hasSuggestedAnswer"));
}

} // namespace

// ---- Status ----

namespace MeetingSessionHistoryStatusValue {

QString rawValue(MeetingSessionHistoryStatus status)
{
    switch (status) {
    case MeetingSessionHistoryStatus::active:
        return QStringLiteral("active");
    case MeetingSessionHistoryStatus::completed:
        return QStringLiteral("completed");
    }
    return QString();
}

std::optional<MeetingSessionHistoryStatus> fromRawValue(const QString &raw)
{
    if (raw == QLatin1String("active"))
        return MeetingSessionHistoryStatus::active;
    if (raw == QLatin1String("completed"))
        return MeetingSessionHistoryStatus::completed;
    return std::nullopt;
}

} // namespace MeetingSessionHistoryStatusValue

// ---- Content of a record ----

MeetingSessionTranscriptBlock MeetingSessionTranscriptBlock::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionTranscriptBlock block;
    block.id = reader.string(QStringLiteral("id"));
    block.seq = reader.integer(QStringLiteral("seq"));
    block.timestamp = reader.string(QStringLiteral("timestamp"));
    block.speakerLabel = reader.optionalString(QStringLiteral("speakerLabel"));
    block.text = reader.string(QStringLiteral("text"));
    return block;
}

QJsonObject MeetingSessionTranscriptBlock::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), id);
    object.insert(QStringLiteral("seq"), seq);
    object.insert(QStringLiteral("timestamp"), timestamp);
    Json::putOptional(object, QStringLiteral("speakerLabel"), speakerLabel);
    object.insert(QStringLiteral("text"), text);
    return object;
}

MeetingSessionTranslationBlock MeetingSessionTranslationBlock::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionTranslationBlock block;
    block.transcriptBlockId = reader.string(QStringLiteral("transcriptBlockId"));
    block.seq = reader.integer(QStringLiteral("seq"));
    block.language = reader.string(QStringLiteral("language"));
    block.text = reader.string(QStringLiteral("text"));
    return block;
}

QJsonObject MeetingSessionTranslationBlock::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("transcriptBlockId"), transcriptBlockId);
    object.insert(QStringLiteral("seq"), seq);
    object.insert(QStringLiteral("language"), language);
    object.insert(QStringLiteral("text"), text);
    return object;
}

MeetingSessionHistorySessionParams MeetingSessionHistorySessionParams::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionHistorySessionParams params;
    params.client = reader.string(QStringLiteral("client"));
    params.source = reader.string(QStringLiteral("source"));
    params.appVersion = reader.optionalString(QStringLiteral("appVersion"));
    params.focusMode = reader.optionalBoolean(QStringLiteral("focusMode"));
    params.clientSessionId = reader.optionalString(QStringLiteral("clientSessionId"));
    return params;
}

QJsonObject MeetingSessionHistorySessionParams::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("client"), client);
    object.insert(QStringLiteral("source"), source);
    Json::putOptional(object, QStringLiteral("appVersion"), appVersion);
    Json::putOptional(object, QStringLiteral("focusMode"), focusMode);
    Json::putOptional(object, QStringLiteral("clientSessionId"), clientSessionId);
    return object;
}

MeetingSessionHistoryStats MeetingSessionHistoryStats::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionHistoryStats stats;
    stats.wordCount = reader.optionalInteger(QStringLiteral("wordCount"));
    stats.lineCount = reader.optionalInteger(QStringLiteral("lineCount"));
    stats.hasSummary = reader.optionalBoolean(QStringLiteral("hasSummary"));
    stats.hasProtocol = reader.optionalBoolean(QStringLiteral("hasProtocol"));
    stats.hasSuggestedAnswer = reader.optionalBoolean(QStringLiteral("hasSuggestedAnswer"));
    return stats;
}

// ---- The list ----

MeetingSessionHistoryListItem MeetingSessionHistoryListItem::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionHistoryListItem item;
    item.id = reader.string(QStringLiteral("id"));
    item.title = reader.optionalString(QStringLiteral("title"));
    item.status = reader.string(QStringLiteral("status"));
    item.startedAt = date(reader, QStringLiteral("startedAt"));
    item.updatedAt = date(reader, QStringLiteral("updatedAt"));
    item.durationSeconds = reader.optionalInteger(QStringLiteral("durationSeconds"));
    item.processedByApp = reader.optionalString(QStringLiteral("processedByApp"));
    item.previewText = reader.optionalString(QStringLiteral("previewText"));
    item.inputLanguage = reader.optionalString(QStringLiteral("inputLanguage"));
    item.translationLanguage = reader.optionalString(QStringLiteral("translationLanguage"));
    item.translationEnabled = reader.boolean(QStringLiteral("translationEnabled"));
    item.recordingEnabled = reader.boolean(QStringLiteral("recordingEnabled"));
    item.wordCount = reader.optionalInteger(QStringLiteral("wordCount"));
    item.lineCount = reader.optionalInteger(QStringLiteral("lineCount"));
    readContentFlags(reader, item);
    return item;
}

// ---- One record ----

MeetingSessionHistoryDetail MeetingSessionHistoryDetail::fromJson(const QJsonValue &value, const QString &path)
{
    const JsonReader reader = JsonReader::fromValue(value, path);
    MeetingSessionHistoryDetail detail;
    detail.id = reader.string(QStringLiteral("id"));
    detail.workspaceId = reader.optionalString(QStringLiteral("workspaceId"));
    detail.title = reader.optionalString(QStringLiteral("title"));
    detail.status = reader.string(QStringLiteral("status"));
    detail.startedAt = date(reader, QStringLiteral("startedAt"));
    detail.endedAt = optionalDate(reader, QStringLiteral("endedAt"));
    detail.durationSeconds = reader.optionalInteger(QStringLiteral("durationSeconds"));
    detail.processedByApp = reader.optionalString(QStringLiteral("processedByApp"));
    detail.inputLanguage = reader.optionalString(QStringLiteral("inputLanguage"));
    detail.translationLanguage = reader.optionalString(QStringLiteral("translationLanguage"));
    detail.translationEnabled = reader.boolean(QStringLiteral("translationEnabled"));
    detail.recordingEnabled = reader.boolean(QStringLiteral("recordingEnabled"));
    detail.microphoneLabel = reader.optionalString(QStringLiteral("microphoneLabel"));
    detail.previewText = reader.optionalString(QStringLiteral("previewText"));
    detail.transcriptText = reader.optionalString(QStringLiteral("transcriptText"));
    detail.transcriptJson = optionalList<MeetingSessionTranscriptBlock>(reader, QStringLiteral("transcriptJson"));
    detail.translationText = reader.optionalString(QStringLiteral("translationText"));
    detail.translationJson = optionalList<MeetingSessionTranslationBlock>(reader, QStringLiteral("translationJson"));
    detail.summaryText = reader.optionalString(QStringLiteral("summaryText"));
    detail.protocolText = reader.optionalString(QStringLiteral("protocolText"));
    detail.suggestedAnswerText = reader.optionalString(QStringLiteral("suggestedAnswerText"));
    detail.sessionParams = optionalMember<MeetingSessionHistorySessionParams>(reader, QStringLiteral("sessionParams"));
    detail.statsJson = optionalMember<MeetingSessionHistoryStats>(reader, QStringLiteral("statsJson"));
    detail.wordCount = reader.optionalInteger(QStringLiteral("wordCount"));
    detail.lineCount = reader.optionalInteger(QStringLiteral("lineCount"));
    detail.revision = reader.integer(QStringLiteral("revision"));
    detail.createdAt = optionalDate(reader, QStringLiteral("createdAt"));
    detail.updatedAt = date(reader, QStringLiteral("updatedAt"));
    detail.deletedAt = optionalDate(reader, QStringLiteral("deletedAt"));
    readContentFlags(reader, detail);
    return detail;
}
