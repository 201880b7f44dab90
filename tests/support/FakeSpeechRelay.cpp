#include "support/FakeSpeechRelay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

FakeSpeechRelay::FakeSpeechRelay(FakeBackend *backend, QObject *parent)
    : QObject(parent)
    , m_backend(backend)
{
    m_clock.start();
    installRoute();
    connect(backend, &FakeBackend::requestReceived, this, &FakeSpeechRelay::onUpgrade);
}

void FakeSpeechRelay::setUpgrades(QList<Upgrade> upgrades)
{
    m_upgrades = upgrades.isEmpty() ? QList<Upgrade>{Upgrade::accept} : std::move(upgrades);
    m_upgradeIndex = 0;
    installRoute();
}

void FakeSpeechRelay::installRoute()
{
    const Upgrade mode = m_upgrades.at(std::min<qsizetype>(m_upgradeIndex, m_upgrades.size() - 1));
    FakeWebSocketRoute route;
    route.rejectStatus = mode == Upgrade::reject401 ? 401 : 0;
    route.rejectBody = mode == Upgrade::reject401 ? QByteArray("{\"error\":{\"message\":\"Unauthorized\"}}") : QByteArray();
    route.neverAnswer = mode == Upgrade::neverAnswer;
    QPointer<FakeSpeechRelay> self(this);
    route.onOpen = [self](FakeWebSocketSession *session) {
        if (self)
            self->onConnected(session);
    };
    m_backend->webSocketRoute(QString::fromLatin1(path), route);
}

void FakeSpeechRelay::onUpgrade(const RecordedRequest &request)
{
    if (request.path != QLatin1String(path))
        return;
    m_problems.append(check(request));
    // The fake backend reads the route again after announcing a refused or unanswered
    // upgrade, so the next upgrade's route goes in on the next turn.
    ++m_upgradeIndex;
    QTimer::singleShot(0, this, &FakeSpeechRelay::installRoute);
}

void FakeSpeechRelay::expect(const QString &language, bool diarize, bool utterances, const QByteArray &accessToken,
                             const QByteArray &refreshToken, const QByteArray &origin)
{
    m_expectation = Expectation{expectedQuery(language, diarize, utterances), "Bearer " + accessToken,
                                "norvantis_refresh_token=" + refreshToken, origin};
}

QByteArray FakeSpeechRelay::expectedQuery(const QString &language, bool diarize, bool utterances)
{
    return "model=nova-3&language=" + language.toUtf8() + "&encoding=linear16&sample_rate=16000&channels=1"
           "&interim_results=true&punctuate=true&smart_format=true&diarize=" + QByteArray(diarize ? "true" : "false")
           + "&utterances=" + QByteArray(utterances ? "true" : "false")
           + "&vad_events=true&endpointing=300&utterance_end_ms=1000";
}

QStringList FakeSpeechRelay::check(const RecordedRequest &request) const
{
    QStringList problems;
    if (!m_expectation)
        return problems;
    const Expectation &expected = *m_expectation;
    if (request.rawQuery.toUtf8() != expected.query)
        problems.append(QStringLiteral("query was \"%1\"").arg(request.rawQuery));
    const QList<QPair<QByteArray, QByteArray>> headers{
        {"Authorization", expected.authorization},
        {"Cookie", expected.cookie},
        {"Origin", expected.origin},
    };
    for (const auto &[name, value] : headers) {
        if (request.headerCount(name) != 1)
            problems.append(QStringLiteral("%1 sent %2 times").arg(QString::fromLatin1(name)).arg(request.headerCount(name)));
        else if (request.header(name) != value)
            problems.append(QStringLiteral("%1 was \"%2\"").arg(QString::fromLatin1(name), QString::fromUtf8(request.header(name))));
    }
    return problems;
}

void FakeSpeechRelay::onConnected(FakeWebSocketSession *session)
{
    const qsizetype index = m_connections.size();
    m_connections.append(Connection{session, m_clock.elapsed(), {}});
    QPointer<FakeSpeechRelay> self(this);
    connect(session, &FakeWebSocketSession::binaryReceived, this, [this, index](const QByteArray &data) {
        m_connections[index].frames.append(Frame{true, data, m_clock.elapsed()});
    });
    connect(session, &FakeWebSocketSession::textReceived, this, [this, index, session](const QByteArray &text) {
        m_connections[index].frames.append(Frame{false, text, m_clock.elapsed()});
        if (text == "{\"type\":\"Finalize\"}") {
            for (const QByteArray &frame : std::as_const(answerToFinalize))
                session->sendText(frame);
        }
        if (onText)
            onText(session, text);
    });
    if (onOpen)
        onOpen(session);
}

void FakeSpeechRelay::clearFrames()
{
    for (Connection &connection : m_connections) {
        connection.frames = {};
        if (connection.session)
            connection.session->clearFrames();
    }
}

int FakeSpeechRelay::upgradeCount() const
{
    return int(m_backend->upgradeRequests(QString::fromLatin1(path)).size());
}

QList<FakeWebSocketSession *> FakeSpeechRelay::sessions() const
{
    QList<FakeWebSocketSession *> result;
    for (const Connection &connection : m_connections)
        result.append(connection.session.data());
    return result;
}

FakeWebSocketSession *FakeSpeechRelay::session(int index) const
{
    return index < m_connections.size() ? m_connections.at(index).session.data() : nullptr;
}

QList<FakeSpeechRelay::Frame> FakeSpeechRelay::frames(int index) const
{
    return index < m_connections.size() ? m_connections.at(index).frames : QList<Frame>();
}

QList<QByteArray> FakeSpeechRelay::audioFrames(int index) const
{
    QList<QByteArray> result;
    for (const Frame &frame : frames(index)) {
        if (frame.binary)
            result.append(frame.data);
    }
    return result;
}

QList<QByteArray> FakeSpeechRelay::controlFrames(int index) const
{
    QList<QByteArray> result;
    for (const Frame &frame : frames(index)) {
        if (!frame.binary)
            result.append(frame.data);
    }
    return result;
}

qint64 FakeSpeechRelay::openedAtMs(int index) const
{
    return index < m_connections.size() ? m_connections.at(index).openedAtMs : -1;
}

bool FakeSpeechRelay::stallReading(FakeWebSocketSession *session) const
{
    return m_backend->stallReading(session);
}

void FakeSpeechRelay::resumeReading(FakeWebSocketSession *session) const
{
    m_backend->resumeReading(session);
}

QByteArray FakeSpeechRelay::results(const QString &transcript, bool isFinal, bool speechFinal)
{
    return resultsWith({transcript}, std::nullopt, isFinal, speechFinal);
}

QByteArray FakeSpeechRelay::resultsWith(const QList<std::optional<QString>> &alternatives,
                                        const std::optional<QList<std::optional<QString>>> &utterances, bool isFinal,
                                        bool speechFinal)
{
    QJsonArray alternativeArray;
    for (const auto &alternative : alternatives) {
        QJsonObject object{{QStringLiteral("confidence"), 0.9}};
        if (alternative)
            object.insert(QStringLiteral("transcript"), *alternative);
        alternativeArray.append(object);
    }
    QJsonObject frame{
        {QStringLiteral("type"), QStringLiteral("Results")},
        {QStringLiteral("channel_index"), QJsonArray{0, 1}},
        {QStringLiteral("duration"), 1.02},
        {QStringLiteral("start"), 0.5},
        {QStringLiteral("is_final"), isFinal},
        {QStringLiteral("speech_final"), speechFinal},
        {QStringLiteral("channel"), QJsonObject{{QStringLiteral("alternatives"), alternativeArray}}},
    };
    if (utterances) {
        QJsonArray utteranceArray;
        for (const auto &utterance : *utterances) {
            QJsonObject object{{QStringLiteral("start"), 0.0}};
            if (utterance)
                object.insert(QStringLiteral("transcript"), *utterance);
            utteranceArray.append(object);
        }
        frame.insert(QStringLiteral("utterances"), utteranceArray);
    }
    return QJsonDocument(frame).toJson(QJsonDocument::Compact);
}

QByteArray FakeSpeechRelay::metadata()
{
    return R"({"type":"Metadata","transaction_key":"deprecated","request_id":"r-1","duration":0.0,"channels":1})";
}

QByteArray FakeSpeechRelay::utteranceEnd()
{
    return R"({"type":"UtteranceEnd","channel":[0,1],"last_word_end":2.4})";
}

QByteArray FakeSpeechRelay::speechStarted()
{
    return R"({"type":"SpeechStarted","channel":[0],"timestamp":0.2})";
}

QByteArray FakeSpeechRelay::error(const std::optional<QString> &message, const std::optional<QString> &description)
{
    QJsonObject frame{{QStringLiteral("type"), QStringLiteral("Error")}};
    if (message)
        frame.insert(QStringLiteral("message"), *message);
    if (description)
        frame.insert(QStringLiteral("description"), *description);
    return QJsonDocument(frame).toJson(QJsonDocument::Compact);
}

QByteArray FakeSpeechRelay::malformed()
{
    return "{\"type\":\"Results\",";
}
