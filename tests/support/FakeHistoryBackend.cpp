#include "support/FakeHistoryBackend.h"

#include <QCborArray>
#include <QCborMap>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>

#include <algorithm>

namespace {

// The operations the backend knows, by name, each with the variables it declares and their
// types as the schema has them.
struct Operation
{
    QString kind; // "query" or "mutation"
    QMap<QString, QString> variables;
};

const QMap<QString, Operation> &knownOperations()
{
    static const QMap<QString, Operation> operations{
        {QStringLiteral("RecoverMeetingSession"),
         {QStringLiteral("query"), {{QStringLiteral("workspaceId"), QStringLiteral("ID!")}, {QStringLiteral("limit"), QStringLiteral("Int")}}}},
        {QStringLiteral("StartMeetingSession"),
         {QStringLiteral("mutation"), {{QStringLiteral("input"), QStringLiteral("StartMeetingSessionInput!")}}}},
        {QStringLiteral("UpdateMeetingSession"),
         {QStringLiteral("mutation"),
          {{QStringLiteral("id"), QStringLiteral("ID!")}, {QStringLiteral("input"), QStringLiteral("UpdateMeetingSessionInput!")}}}},
        {QStringLiteral("MeetingSessionRevision"), {QStringLiteral("query"), {{QStringLiteral("id"), QStringLiteral("ID!")}}}},
        {QStringLiteral("MeetingSessions"),
         {QStringLiteral("query"),
          {{QStringLiteral("workspaceId"), QStringLiteral("ID!")}, {QStringLiteral("limit"), QStringLiteral("Int")},
           {QStringLiteral("cursor"), QStringLiteral("String")}, {QStringLiteral("q"), QStringLiteral("String")},
           {QStringLiteral("dateFrom"), QStringLiteral("String")}, {QStringLiteral("dateTo"), QStringLiteral("String")}}}},
        {QStringLiteral("MeetingSession"), {QStringLiteral("query"), {{QStringLiteral("id"), QStringLiteral("ID!")}}}},
        {QStringLiteral("DeleteMeetingSession"), {QStringLiteral("mutation"), {{QStringLiteral("id"), QStringLiteral("ID!")}}}},
    };
    return operations;
}

// Why a document and its variables do not fit the named operation; empty when they fit.
QString operationMismatch(const QString &query, const QJsonObject &variables)
{
    static const QRegularExpression header(QStringLiteral("^(query|mutation) (\\w+)\\(([^)]*)\\) \\{"));
    const QRegularExpressionMatch match = header.match(query);
    const auto operation = knownOperations().constFind(match.captured(2));
    if (!match.hasMatch() || operation == knownOperations().constEnd())
        return QStringLiteral("unknown operation");
    if (match.captured(1) != operation->kind)
        return QStringLiteral("not a %1").arg(operation->kind);
    QMap<QString, QString> declared;
    static const QRegularExpression declaration(QStringLiteral("\\$(\\w+): ([\\w!\\[\\]]+)"));
    for (auto it = declaration.globalMatch(match.captured(3)); it.hasNext();) {
        const QRegularExpressionMatch variable = it.next();
        declared.insert(variable.captured(1), variable.captured(2));
    }
    if (declared != operation->variables)
        return QStringLiteral("declares other variables");
    for (auto it = variables.constBegin(); it != variables.constEnd(); ++it) {
        if (!declared.contains(it.key()))
            return QStringLiteral("undeclared variable %1").arg(it.key());
    }
    for (auto it = declared.constBegin(); it != declared.constEnd(); ++it) {
        if (it.value().endsWith(QLatin1Char('!')) && variables.value(it.key()).isNull())
            return QStringLiteral("missing variable %1").arg(it.key());
    }
    return QString();
}

const QSet<QString> startInputKeys{
    QStringLiteral("workspaceId"), QStringLiteral("title"), QStringLiteral("startedAt"), QStringLiteral("processedByApp"),
    QStringLiteral("inputLanguage"), QStringLiteral("translationLanguage"), QStringLiteral("translationEnabled"),
    QStringLiteral("recordingEnabled"), QStringLiteral("microphoneLabel"), QStringLiteral("sessionParams"),
};
const QSet<QString> startRequiredKeys{
    QStringLiteral("workspaceId"), QStringLiteral("startedAt"), QStringLiteral("processedByApp"),
    QStringLiteral("inputLanguage"), QStringLiteral("translationEnabled"), QStringLiteral("recordingEnabled"),
    QStringLiteral("sessionParams"),
};
const QSet<QString> updateInputKeys{
    QStringLiteral("revision"), QStringLiteral("status"), QStringLiteral("processedByApp"), QStringLiteral("transcriptJson"),
    QStringLiteral("translationJson"), QStringLiteral("summaryText"), QStringLiteral("protocolText"),
    QStringLiteral("suggestedAnswerText"), QStringLiteral("inputLanguage"), QStringLiteral("translationLanguage"),
    QStringLiteral("translationEnabled"), QStringLiteral("recordingEnabled"), QStringLiteral("microphoneLabel"),
    QStringLiteral("durationSeconds"), QStringLiteral("endedAt"), QStringLiteral("sessionParams"),
    QStringLiteral("contentSnapshot"),
};
const QSet<QString> updateRequiredKeys{
    QStringLiteral("revision"), QStringLiteral("status"), QStringLiteral("processedByApp"), QStringLiteral("transcriptJson"),
    QStringLiteral("translationJson"), QStringLiteral("inputLanguage"), QStringLiteral("translationEnabled"),
    QStringLiteral("recordingEnabled"), QStringLiteral("sessionParams"),
};
const QStringList listItemKeys{
    QStringLiteral("id"), QStringLiteral("title"), QStringLiteral("status"), QStringLiteral("startedAt"),
    QStringLiteral("updatedAt"), QStringLiteral("durationSeconds"), QStringLiteral("processedByApp"),
    QStringLiteral("previewText"), QStringLiteral("inputLanguage"), QStringLiteral("translationLanguage"),
    QStringLiteral("translationEnabled"), QStringLiteral("recordingEnabled"), QStringLiteral("wordCount"),
    QStringLiteral("lineCount"), QStringLiteral("hasSummary"), QStringLiteral("hasProtocol"),
    QStringLiteral("hasSuggestedAnswer"),
};

QString isoText(const QDateTime &date)
{
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

std::optional<QDateTime> parseIso(const QString &text)
{
    QDateTime date = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!date.isValid())
        date = QDateTime::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

// The input's problem in the terms a GraphQL server reports it, or nothing.
std::optional<QString> inputProblem(const QJsonObject &input, const QSet<QString> &allowed, const QSet<QString> &required)
{
    for (auto it = input.constBegin(); it != input.constEnd(); ++it) {
        if (!allowed.contains(it.key()))
            return QStringLiteral("Field \"%1\" is not defined by the input type.").arg(it.key());
        if (it->isNull())
            return QStringLiteral("Field \"%1\" must be left out rather than null.").arg(it.key());
    }
    for (const QString &key : required) {
        if (!input.contains(key))
            return QStringLiteral("Field \"%1\" of required type was not provided.").arg(key);
    }
    const QJsonObject params = input.value(QStringLiteral("sessionParams")).toObject();
    if (!params.value(QStringLiteral("client")).isString() || !params.value(QStringLiteral("source")).isString())
        return QStringLiteral("sessionParams needs client and source.");
    return std::nullopt;
}

QString transcriptText(const QJsonArray &blocks)
{
    QStringList lines;
    for (const QJsonValue &value : blocks) {
        const QJsonObject block = value.toObject();
        const QString speaker = block.value(QStringLiteral("speakerLabel")).toString();
        QString line = QStringLiteral("[%1] ").arg(block.value(QStringLiteral("timestamp")).toString());
        if (!speaker.isEmpty())
            line += speaker + QStringLiteral(": ");
        line += block.value(QStringLiteral("text")).toString();
        lines.append(line);
    }
    return lines.join(QLatin1Char('\n'));
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

// Server-side derived fields: plain texts, counters and flags.
void refreshDerivedFields(QJsonObject &fields)
{
    const QJsonArray transcript = fields.value(QStringLiteral("transcriptJson")).toArray();
    const QJsonArray translation = fields.value(QStringLiteral("translationJson")).toArray();
    const QString transcriptPlain = transcriptText(transcript);
    QStringList translationLines;
    for (const QJsonValue &value : translation)
        translationLines.append(value.toObject().value(QStringLiteral("text")).toString());
    qint64 words = 0;
    for (const QJsonValue &value : transcript)
        words += value.toObject().value(QStringLiteral("text")).toString().split(QLatin1Char(' '), Qt::SkipEmptyParts).size();

    fields.insert(QStringLiteral("transcriptText"), textOrNull(transcriptPlain));
    fields.insert(QStringLiteral("translationText"), textOrNull(translationLines.join(QLatin1Char('\n'))));
    QString preview;
    if (!transcript.isEmpty())
        preview = transcript.first().toObject().value(QStringLiteral("text")).toString().left(120);
    fields.insert(QStringLiteral("previewText"), textOrNull(preview));
    fields.insert(QStringLiteral("wordCount"), words);
    fields.insert(QStringLiteral("lineCount"), transcript.size());
    const bool hasSummary = !fields.value(QStringLiteral("summaryText")).toString().isEmpty();
    const bool hasProtocol = !fields.value(QStringLiteral("protocolText")).toString().isEmpty();
    const bool hasAnswer = !fields.value(QStringLiteral("suggestedAnswerText")).toString().isEmpty();
    fields.insert(QStringLiteral("hasSummary"), hasSummary);
    fields.insert(QStringLiteral("hasProtocol"), hasProtocol);
    fields.insert(QStringLiteral("hasSuggestedAnswer"), hasAnswer);
    QJsonObject stats;
    stats.insert(QStringLiteral("wordCount"), words);
    stats.insert(QStringLiteral("lineCount"), transcript.size());
    stats.insert(QStringLiteral("hasSummary"), hasSummary);
    stats.insert(QStringLiteral("hasProtocol"), hasProtocol);
    stats.insert(QStringLiteral("hasSuggestedAnswer"), hasAnswer);
    fields.insert(QStringLiteral("statsJson"), stats);
}

QString encodeCursor(int offset)
{
    return QString::fromLatin1(QByteArray("offset:" + QByteArray::number(offset)).toBase64());
}

std::optional<int> decodeCursor(const QString &cursor)
{
    const QByteArray decoded = QByteArray::fromBase64(cursor.toLatin1());
    if (!decoded.startsWith("offset:"))
        return std::nullopt;
    bool ok = false;
    const int offset = decoded.mid(7).toInt(&ok);
    if (!ok || offset < 0)
        return std::nullopt;
    return offset;
}

} // namespace

// ---- Scripted replies ----

FakeHistoryBackend::ScriptedReply FakeHistoryBackend::ScriptedReply::error(std::optional<QString> message, std::optional<QString> code)
{
    ScriptedReply reply;
    reply.kind = Kind::graphQLError;
    reply.message = std::move(message);
    reply.code = std::move(code);
    return reply;
}

FakeHistoryBackend::ScriptedReply FakeHistoryBackend::ScriptedReply::errorBesideNullData(std::optional<QString> message,
                                                                                         std::optional<QString> code)
{
    ScriptedReply reply = error(std::move(message), std::move(code));
    reply.kind = Kind::errorBesideNullData;
    return reply;
}

FakeHistoryBackend::ScriptedReply FakeHistoryBackend::ScriptedReply::errorBesideNullField(std::optional<QString> message,
                                                                                          std::optional<QString> code)
{
    ScriptedReply reply = error(std::move(message), std::move(code));
    reply.kind = Kind::errorBesideNullField;
    return reply;
}

FakeHistoryBackend::ScriptedReply FakeHistoryBackend::ScriptedReply::httpFailure(int status, const QByteArray &body,
                                                                                 const QByteArray &contentType)
{
    ScriptedReply reply;
    reply.kind = Kind::httpFailure;
    reply.status = status;
    reply.body = body;
    reply.contentType = contentType;
    return reply;
}

FakeHistoryBackend::ScriptedReply FakeHistoryBackend::ScriptedReply::brokenCompression()
{
    ScriptedReply reply = httpFailure(200, QByteArray("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03not-deflate-data", 24),
                                      "application/json");
    reply.contentEncoding = "gzip";
    return reply;
}

FakeHistoryBackend::ScriptedReply FakeHistoryBackend::ScriptedReply::dropConnection(bool commitFirst)
{
    ScriptedReply reply;
    reply.kind = Kind::dropConnection;
    reply.commitFirst = commitFirst;
    reply.times = 0;
    return reply;
}

FakeHistoryBackend::ScriptedReply FakeHistoryBackend::ScriptedReply::hang(bool commitFirst)
{
    ScriptedReply reply;
    reply.kind = Kind::hang;
    reply.commitFirst = commitFirst;
    return reply;
}

// ---- Setup ----

FakeHistoryBackend::FakeHistoryBackend(FakeBackend *backend, QObject *parent)
    : QObject(parent)
    , m_backend(backend)
    , m_now(QDateTime(QDate(2025, 3, 14), QTime(9, 26, 53), QTimeZone::utc()))
{
    m_backend->route("POST", QString::fromLatin1(graphQLPath), [this](const RecordedRequest &request) { return handle(request); });
}

QString FakeHistoryBackend::operationName(const QString &query)
{
    static const QRegularExpression pattern(QStringLiteral("^(?:query|mutation) (\\w+)"));
    return pattern.match(query).captured(1);
}

void FakeHistoryBackend::script(const QString &operationName, const ScriptedReply &reply)
{
    m_scripts[operationName].append(reply);
}

QString FakeHistoryBackend::nowText() const
{
    return isoText(m_now);
}

QString FakeHistoryBackend::addMeeting(const QString &workspaceId, const QJsonObject &fields)
{
    Meeting meeting;
    meeting.id = QStringLiteral("meeting-%1").arg(++m_serial);
    meeting.workspaceId = workspaceId;
    meeting.order = m_serial;
    QJsonObject defaults{
        {QStringLiteral("title"), QJsonValue::Null},
        {QStringLiteral("status"), QStringLiteral("active")},
        {QStringLiteral("startedAt"), nowText()},
        {QStringLiteral("endedAt"), QJsonValue::Null},
        {QStringLiteral("durationSeconds"), QJsonValue::Null},
        {QStringLiteral("processedByApp"), QStringLiteral("macos")},
        {QStringLiteral("inputLanguage"), QStringLiteral("en")},
        {QStringLiteral("translationLanguage"), QJsonValue::Null},
        {QStringLiteral("translationEnabled"), false},
        {QStringLiteral("recordingEnabled"), false},
        {QStringLiteral("microphoneLabel"), QJsonValue::Null},
        {QStringLiteral("transcriptJson"), QJsonArray()},
        {QStringLiteral("translationJson"), QJsonArray()},
        {QStringLiteral("summaryText"), QJsonValue::Null},
        {QStringLiteral("protocolText"), QJsonValue::Null},
        {QStringLiteral("suggestedAnswerText"), QJsonValue::Null},
        {QStringLiteral("sessionParams"), QJsonValue::Null},
        {QStringLiteral("createdAt"), nowText()},
        {QStringLiteral("updatedAt"), nowText()},
        {QStringLiteral("deletedAt"), QJsonValue::Null},
    };
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        defaults.insert(it.key(), it.value());
    refreshDerivedFields(defaults);
    meeting.fields = defaults;
    m_meetings.insert(meeting.id, meeting);
    return meeting.id;
}

std::optional<QJsonObject> FakeHistoryBackend::meeting(const QString &id) const
{
    const auto it = m_meetings.constFind(id);
    if (it == m_meetings.constEnd())
        return std::nullopt;
    return detailJson(*it);
}

bool FakeHistoryBackend::isDeleted(const QString &id) const
{
    return m_meetings.value(id).deleted;
}

QStringList FakeHistoryBackend::meetingIds() const
{
    QList<const Meeting *> meetings;
    for (const Meeting &meeting : m_meetings)
        meetings.append(&meeting);
    std::sort(meetings.begin(), meetings.end(), [](const Meeting *a, const Meeting *b) { return a->order < b->order; });
    QStringList ids;
    for (const Meeting *meeting : meetings)
        ids.append(meeting->id);
    return ids;
}

bool FakeHistoryBackend::setMeetingsAside(const QString &filePath)
{
    {
        QCborArray entries;
        for (const Meeting &meeting : std::as_const(m_meetings)) {
            QCborMap entry;
            entry.insert(QStringLiteral("id"), meeting.id);
            entry.insert(QStringLiteral("workspaceId"), meeting.workspaceId);
            entry.insert(QStringLiteral("revision"), meeting.revision);
            entry.insert(QStringLiteral("order"), meeting.order);
            entry.insert(QStringLiteral("contentUnavailable"), meeting.contentUnavailable);
            entry.insert(QStringLiteral("deleted"), meeting.deleted);
            entry.insert(QStringLiteral("fields"), QCborMap::fromJsonObject(meeting.fields));
            entries.append(entry);
        }
        QFile file(filePath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(QCborValue(entries).toCbor()) < 0 || !file.flush())
            return false;
    }
    m_meetings.clear();
    return true;
}

bool FakeHistoryBackend::bringMeetingsBack(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QCborParserError error;
    const QCborValue entries = QCborValue::fromCbor(file.readAll(), &error);
    if (error.error != QCborError::NoError || !entries.isArray())
        return false;
    for (const QCborValue &value : entries.toArray()) {
        const QCborMap entry = value.toMap();
        Meeting meeting;
        meeting.id = entry.value(QStringLiteral("id")).toString();
        meeting.workspaceId = entry.value(QStringLiteral("workspaceId")).toString();
        meeting.revision = entry.value(QStringLiteral("revision")).toInteger();
        meeting.order = int(entry.value(QStringLiteral("order")).toInteger());
        meeting.contentUnavailable = entry.value(QStringLiteral("contentUnavailable")).toBool();
        meeting.deleted = entry.value(QStringLiteral("deleted")).toBool();
        meeting.fields = entry.value(QStringLiteral("fields")).toMap().toJsonObject();
        m_meetings.insert(meeting.id, meeting);
    }
    return true;
}

qint64 FakeHistoryBackend::revisionOf(const QString &id) const
{
    return m_meetings.value(id).revision;
}

int FakeHistoryBackend::meetingCount() const
{
    return int(std::count_if(m_meetings.cbegin(), m_meetings.cend(), [](const Meeting &m) { return !m.deleted; }));
}

void FakeHistoryBackend::bumpRevision(const QString &id)
{
    if (m_meetings.contains(id))
        ++m_meetings[id].revision;
}

void FakeHistoryBackend::setContentUnavailable(const QString &id)
{
    if (m_meetings.contains(id))
        m_meetings[id].contentUnavailable = true;
}

QStringList FakeHistoryBackend::operationNames() const
{
    QStringList names;
    for (const Call &call : m_calls)
        names.append(call.operationName);
    return names;
}

// ---- Requests ----

FakeResponse FakeHistoryBackend::data(const QString &field, const QJsonValue &value)
{
    QJsonObject payload;
    payload.insert(field, value);
    QJsonObject body;
    body.insert(QStringLiteral("data"), payload);
    return FakeResponse::json(200, body);
}

FakeResponse FakeHistoryBackend::errors(const QJsonValue &dataValue, bool withData, const std::optional<QString> &message,
                                        const std::optional<QString> &code)
{
    QJsonObject error;
    if (message)
        error.insert(QStringLiteral("message"), *message);
    if (code) {
        QJsonObject extensions;
        extensions.insert(QStringLiteral("code"), *code);
        error.insert(QStringLiteral("extensions"), extensions);
    }
    error.insert(QStringLiteral("locations"), QJsonArray{QJsonObject{{QStringLiteral("line"), 2}, {QStringLiteral("column"), 3}}});
    QJsonObject body;
    if (withData)
        body.insert(QStringLiteral("data"), dataValue);
    body.insert(QStringLiteral("errors"), QJsonArray{error});
    return FakeResponse::json(200, body);
}

FakeResponse FakeHistoryBackend::handle(const RecordedRequest &request)
{
    if (request.header("Authorization") != "Bearer " + m_accessToken.toUtf8()) {
        QJsonObject body{{QStringLiteral("errors"),
                          QJsonArray{QJsonObject{{QStringLiteral("message"), QStringLiteral("Unauthorized")},
                                                 {QStringLiteral("extensions"),
                                                  QJsonObject{{QStringLiteral("code"), QStringLiteral("UNAUTHENTICATED")}}}}}}};
        return FakeResponse::json(401, body);
    }

    const QJsonDocument document = QJsonDocument::fromJson(request.body);
    const QJsonObject object = document.object();
    if (!document.isObject() || !object.value(QStringLiteral("query")).isString()
        || !object.value(QStringLiteral("variables")).isObject())
        return FakeResponse::text(400, "Body must be {\"query\": String, \"variables\": Object}.");

    Call call;
    call.query = object.value(QStringLiteral("query")).toString();
    call.variables = object.value(QStringLiteral("variables")).toObject();
    call.request = request;
    call.operationName = operationName(call.query);
    m_calls.append(call);

    if (const QString mismatch = operationMismatch(call.query, call.variables); !mismatch.isEmpty()) {
        m_documentMismatches.append((call.operationName.isEmpty() ? call.query : call.operationName) + QStringLiteral(": ")
                                    + mismatch);
        return errors(QJsonValue(), false, QStringLiteral("Unexpected document for %1.").arg(call.operationName),
                      QStringLiteral("GRAPHQL_VALIDATION_FAILED"));
    }

    auto scripts = m_scripts.find(call.operationName);
    if (scripts != m_scripts.end() && !scripts->isEmpty()) {
        ScriptedReply &reply = scripts->first();
        const FakeResponse response = scripted(call.operationName, reply, call.variables);
        if (reply.times > 0 && --reply.times == 0)
            scripts->removeFirst();
        return response;
    }
    return dispatch(call.operationName, call.variables);
}

FakeResponse FakeHistoryBackend::scripted(const QString &operation, ScriptedReply &reply, const QJsonObject &variables)
{
    if (reply.commitFirst || reply.commitEvery) {
        dispatch(operation, variables);
        reply.commitFirst = false;
    }
    static const QHash<QString, QString> fields{
        {QStringLiteral("RecoverMeetingSession"), QStringLiteral("meetingSessions")},
        {QStringLiteral("StartMeetingSession"), QStringLiteral("startMeetingSession")},
        {QStringLiteral("UpdateMeetingSession"), QStringLiteral("updateMeetingSession")},
        {QStringLiteral("MeetingSessionRevision"), QStringLiteral("meetingSessionRevision")},
        {QStringLiteral("MeetingSessions"), QStringLiteral("meetingSessions")},
        {QStringLiteral("MeetingSession"), QStringLiteral("meetingSession")},
        {QStringLiteral("DeleteMeetingSession"), QStringLiteral("deleteMeetingSession")},
    };
    switch (reply.kind) {
    case ScriptedReply::Kind::graphQLError:
        return errors(QJsonValue(), false, reply.message, reply.code);
    case ScriptedReply::Kind::errorBesideNullData:
        return errors(QJsonValue(QJsonValue::Null), true, reply.message, reply.code);
    case ScriptedReply::Kind::errorBesideNullField:
        return errors(QJsonObject{{fields.value(operation), QJsonValue::Null}}, true, reply.message, reply.code);
    case ScriptedReply::Kind::httpFailure: {
        FakeResponse response = FakeResponse::text(reply.status, reply.body, reply.contentType);
        if (!reply.contentEncoding.isEmpty())
            response.withHeader("Content-Encoding", reply.contentEncoding);
        return response;
    }
    case ScriptedReply::Kind::dropConnection:
        return FakeResponse::dropConnection();
    case ScriptedReply::Kind::hang:
        return FakeResponse::hang();
    }
    return FakeResponse::empty(500);
}

FakeResponse FakeHistoryBackend::dispatch(const QString &operation, const QJsonObject &variables)
{
    if (operation == QLatin1String("RecoverMeetingSession"))
        return recover(variables);
    if (operation == QLatin1String("StartMeetingSession"))
        return start(variables);
    if (operation == QLatin1String("UpdateMeetingSession"))
        return update(variables);
    if (operation == QLatin1String("MeetingSessionRevision"))
        return revision(variables);
    if (operation == QLatin1String("MeetingSessions"))
        return list(variables);
    if (operation == QLatin1String("MeetingSession"))
        return detail(variables);
    if (operation == QLatin1String("DeleteMeetingSession"))
        return remove(variables);
    return errors(QJsonValue(), false, QStringLiteral("Unknown operation."), QStringLiteral("GRAPHQL_VALIDATION_FAILED"));
}

QList<const FakeHistoryBackend::Meeting *> FakeHistoryBackend::visibleMeetings(const QString &workspaceId) const
{
    QList<const Meeting *> result;
    for (const Meeting &meeting : m_meetings) {
        if (!meeting.deleted && meeting.workspaceId == workspaceId)
            result.append(&meeting);
    }
    // Newest first; meetings started at the same moment in reverse order of creation.
    std::sort(result.begin(), result.end(), [](const Meeting *a, const Meeting *b) {
        const QDateTime startA = parseIso(a->fields.value(QStringLiteral("startedAt")).toString()).value_or(QDateTime());
        const QDateTime startB = parseIso(b->fields.value(QStringLiteral("startedAt")).toString()).value_or(QDateTime());
        if (startA != startB)
            return startA > startB;
        return a->order > b->order;
    });
    return result;
}

QJsonObject FakeHistoryBackend::detailJson(const Meeting &meeting) const
{
    QJsonObject object = meeting.fields;
    object.insert(QStringLiteral("id"), meeting.id);
    object.insert(QStringLiteral("workspaceId"), meeting.workspaceId);
    object.insert(QStringLiteral("revision"), meeting.revision);
    return object;
}

FakeResponse FakeHistoryBackend::recover(const QJsonObject &variables)
{
    const QString workspaceId = variables.value(QStringLiteral("workspaceId")).toString();
    const int limit = variables.value(QStringLiteral("limit")).toInt(50);
    QJsonArray items;
    for (const Meeting *meeting : visibleMeetings(workspaceId)) {
        if (items.size() >= limit)
            break;
        items.append(QJsonObject{{QStringLiteral("id"), meeting->id},
                                 {QStringLiteral("revision"), meeting->revision},
                                 {QStringLiteral("sessionParams"), meeting->fields.value(QStringLiteral("sessionParams"))}});
    }
    return data(QStringLiteral("meetingSessions"), QJsonObject{{QStringLiteral("items"), items}});
}

FakeResponse FakeHistoryBackend::start(const QJsonObject &variables)
{
    const QJsonObject input = variables.value(QStringLiteral("input")).toObject();
    if (auto problem = inputProblem(input, startInputKeys, startRequiredKeys))
        return errors(QJsonValue::Null, true, *problem, QStringLiteral("BAD_USER_INPUT"));
    QJsonObject fields;
    for (const QString &key : {QStringLiteral("title"), QStringLiteral("startedAt"), QStringLiteral("processedByApp"),
                               QStringLiteral("inputLanguage"), QStringLiteral("translationLanguage"),
                               QStringLiteral("translationEnabled"), QStringLiteral("recordingEnabled"),
                               QStringLiteral("microphoneLabel"), QStringLiteral("sessionParams")}) {
        if (input.contains(key))
            fields.insert(key, input.value(key));
    }
    const QString id = addMeeting(input.value(QStringLiteral("workspaceId")).toString(), fields);
    const Meeting &meeting = m_meetings[id];
    return data(QStringLiteral("startMeetingSession"),
                QJsonObject{{QStringLiteral("id"), meeting.id}, {QStringLiteral("revision"), meeting.revision}});
}

FakeResponse FakeHistoryBackend::update(const QJsonObject &variables)
{
    const QString id = variables.value(QStringLiteral("id")).toString();
    const QJsonObject input = variables.value(QStringLiteral("input")).toObject();
    if (auto problem = inputProblem(input, updateInputKeys, updateRequiredKeys))
        return errors(QJsonValue::Null, true, *problem, QStringLiteral("BAD_USER_INPUT"));
    if (input.contains(QStringLiteral("contentSnapshot")) && input.value(QStringLiteral("contentSnapshot")) != QJsonValue(true))
        return errors(QJsonValue::Null, true, QStringLiteral("contentSnapshot may only be true."), QStringLiteral("BAD_USER_INPUT"));

    auto it = m_meetings.find(id);
    if (it == m_meetings.end() || it->deleted)
        return errors(QJsonValue::Null, true, QStringLiteral("Meeting session not found"), QStringLiteral("NOT_FOUND"));
    if (input.value(QStringLiteral("revision")).toInteger() != it->revision)
        return errors(QJsonValue::Null, true, QString::fromLatin1(outdatedRevisionMessage), QStringLiteral("CONFLICT"));
    const bool contentSnapshot = input.value(QStringLiteral("contentSnapshot")).toBool();
    if (it->contentUnavailable && !contentSnapshot)
        return errors(QJsonValue::Null, true, QStringLiteral("Stored meeting content cannot be read; send a full snapshot."),
                      QString::fromLatin1(contentUnavailableCode));
    it->contentUnavailable = false;

    QJsonObject &fields = it->fields;
    for (const QString &key : {QStringLiteral("status"), QStringLiteral("processedByApp"), QStringLiteral("transcriptJson"),
                               QStringLiteral("translationJson"), QStringLiteral("inputLanguage"),
                               QStringLiteral("translationEnabled"), QStringLiteral("recordingEnabled"),
                               QStringLiteral("sessionParams")})
        fields.insert(key, input.value(key));
    for (const QString &key : {QStringLiteral("summaryText"), QStringLiteral("protocolText"),
                               QStringLiteral("suggestedAnswerText"), QStringLiteral("translationLanguage"),
                               QStringLiteral("microphoneLabel"), QStringLiteral("durationSeconds"),
                               QStringLiteral("endedAt")})
        fields.insert(key, input.contains(key) ? input.value(key) : QJsonValue(QJsonValue::Null));
    fields.insert(QStringLiteral("updatedAt"), nowText());
    refreshDerivedFields(fields);
    ++it->revision;
    return data(QStringLiteral("updateMeetingSession"),
                QJsonObject{{QStringLiteral("id"), it->id}, {QStringLiteral("revision"), it->revision}});
}

FakeResponse FakeHistoryBackend::revision(const QJsonObject &variables)
{
    const QString id = variables.value(QStringLiteral("id")).toString();
    const auto it = m_meetings.constFind(id);
    if (it == m_meetings.constEnd() || it->deleted)
        return errors(QJsonValue::Null, true, QStringLiteral("Meeting session not found"), QStringLiteral("NOT_FOUND"));
    return data(QStringLiteral("meetingSessionRevision"),
                QJsonObject{{QStringLiteral("id"), it->id}, {QStringLiteral("revision"), it->revision}});
}

FakeResponse FakeHistoryBackend::list(const QJsonObject &variables)
{
    const QString workspaceId = variables.value(QStringLiteral("workspaceId")).toString();
    const int limit = variables.value(QStringLiteral("limit")).toInt(20);
    int offset = 0;
    if (variables.contains(QStringLiteral("cursor"))) {
        const auto decoded = decodeCursor(variables.value(QStringLiteral("cursor")).toString());
        if (!decoded)
            return errors(QJsonValue::Null, true, QStringLiteral("Invalid cursor"), QStringLiteral("BAD_USER_INPUT"));
        offset = *decoded;
    }
    const QString q = variables.value(QStringLiteral("q")).toString();
    const auto dateFrom = parseIso(variables.value(QStringLiteral("dateFrom")).toString());
    const auto dateTo = parseIso(variables.value(QStringLiteral("dateTo")).toString());

    QList<const Meeting *> matches;
    for (const Meeting *meeting : visibleMeetings(workspaceId)) {
        const QJsonObject &fields = meeting->fields;
        if (!q.isEmpty()) {
            const bool found = fields.value(QStringLiteral("title")).toString().contains(q, Qt::CaseInsensitive)
                               || fields.value(QStringLiteral("transcriptText")).toString().contains(q, Qt::CaseInsensitive)
                               || fields.value(QStringLiteral("summaryText")).toString().contains(q, Qt::CaseInsensitive);
            if (!found)
                continue;
        }
        const auto started = parseIso(fields.value(QStringLiteral("startedAt")).toString());
        if (dateFrom && started && *started < *dateFrom)
            continue;
        if (dateTo && started && *started > *dateTo)
            continue;
        matches.append(meeting);
    }

    QJsonArray items;
    for (int i = offset; i < matches.size() && i < offset + limit; ++i) {
        const QJsonObject full = detailJson(*matches.at(i));
        QJsonObject item;
        for (const QString &key : listItemKeys)
            item.insert(key, full.value(key));
        items.append(item);
    }
    QJsonObject connection{{QStringLiteral("items"), items}};
    if (offset + limit < matches.size())
        connection.insert(QStringLiteral("nextCursor"), encodeCursor(offset + limit));
    else
        connection.insert(QStringLiteral("nextCursor"), QJsonValue::Null);
    return data(QStringLiteral("meetingSessions"), connection);
}

FakeResponse FakeHistoryBackend::detail(const QJsonObject &variables)
{
    const QString id = variables.value(QStringLiteral("id")).toString();
    const auto it = m_meetings.constFind(id);
    if (it == m_meetings.constEnd() || it->deleted)
        return data(QStringLiteral("meetingSession"), QJsonValue::Null);
    return data(QStringLiteral("meetingSession"), detailJson(*it));
}

FakeResponse FakeHistoryBackend::remove(const QJsonObject &variables)
{
    const QString id = variables.value(QStringLiteral("id")).toString();
    auto it = m_meetings.find(id);
    if (it == m_meetings.end() || it->deleted)
        return errors(QJsonValue::Null, true, QStringLiteral("Meeting session not found"), QStringLiteral("NOT_FOUND"));
    it->deleted = true;
    ++it->revision;
    it->fields.insert(QStringLiteral("status"), QStringLiteral("deleted"));
    it->fields.insert(QStringLiteral("deletedAt"), nowText());
    return data(QStringLiteral("deleteMeetingSession"),
                QJsonObject{{QStringLiteral("id"), it->id},
                            {QStringLiteral("status"), QStringLiteral("deleted")},
                            {QStringLiteral("deletedAt"), it->fields.value(QStringLiteral("deletedAt"))},
                            {QStringLiteral("revision"), it->revision}});
}
