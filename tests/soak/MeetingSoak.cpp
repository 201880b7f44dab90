#include "soak/MeetingSoak.h"

#include "soak/SoakChecks.h"

#include "session/SessionTestFakes.h"

#include "accounts/AuthService.h"
#include "accounts/KavrelBackendProxyService.h"
#include "audio/LocalAudioRecordingService.h"
#include "platform/PulseAudioContext.h"
#include "session/AIResultPanelSet.h"
#include "session/BillingUsageReporter.h"
#include "session/MeetingHistoryMirror.h"
#include "session/RealSessionPorts.h"
#include "session/SessionCompanionSet.h"
#include "session/SessionDraftStore.h"
#include "session/SessionTurnStore.h"
#include "session/StableReconstructionScheduler.h"
#include "speech/DeepSeekTranslationService.h"
#include "speech/DeepgramLiveTranscriptionService.h"
#include "speech/KavrelLiveTranslationV2Service.h"
#include "support/FakeAuthBackend.h"
#include "support/FakeBillingBackend.h"
#include "support/FakeHistoryBackend.h"
#include "support/FakeSpeechRelay.h"
#include "support/FakeTranslationRelay.h"
#include "support/ProcessMemory.h"
#include "support/TestAuth.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTimeZone>
#include <QTimer>

#include <cmath>

using namespace SessionTest;
using namespace std::chrono_literals;
using Script = FakeHistoryBackend::ScriptedReply;

namespace {

constexpr int sampleRate = 16000;
// Audio goes in as a capture thread delivers it, in 20 ms fragments from both sources in turn
// (the mixer mixes whenever one lane holds a chunk, so whole pieces from one source at a time
// would record the two sources one after the other), and the run waits for the engine after
// each piece of 0.3 s.
constexpr qsizetype fragmentSamples = 320;
constexpr qsizetype pieceSamples = 4800;

// The real recorder, counting what reaches it: the run feeds the next audio only once the
// mixer has handed on the last, as a capture thread in real time would never outrun it.
class CountingRecorder final : public SessionRecorder
{
public:
    CountingRecorder(std::unique_ptr<SessionRecorder> inner, qint64 *counter)
        : m_inner(std::move(inner))
        , m_counter(counter)
    {
    }

    void startRecording(bool isEnabled) override { m_inner->startRecording(isEnabled); }
    QCoro::Task<void> appendMixedAudio(QByteArray chunk) override
    {
        *m_counter += chunk.size();
        return m_inner->appendMixedAudio(std::move(chunk));
    }
    void setFailureHandler(std::function<void(const QString &reason)> handler) override
    {
        m_inner->setFailureHandler(std::move(handler));
    }
    QCoro::Task<std::optional<QUrl>> finishRecording() override { return m_inner->finishRecording(); }
    QCoro::Task<void> cancel() override { return m_inner->cancel(); }

private:
    std::unique_ptr<SessionRecorder> m_inner;
    qint64 *m_counter;
};

} // namespace

MeetingSoak::MeetingSoak(SoakOptions options, SoakReport::Printer printer)
    : m_options(options)
    , m_report(options.keepGoing, options.verbose, std::move(printer))
    , m_random(options.seed)
{
}

MeetingSoak::~MeetingSoak()
{
    // The engine first, then the sign-in, each given a moment to close its connections, then
    // the fake servers.
    m_model.reset();
    waitFor([] { return false; }, 50);
    m_auth.reset();
    waitFor([] { return false; }, 50);
    delete m_pulse;
}

QString MeetingSoak::faultName(Fault fault)
{
    switch (fault) {
    case Fault::speechDrop:
        return QStringLiteral("speech relay dropped");
    case Fault::speechRefused:
        return QStringLiteral("speech relay refused reconnection past the schedule");
    case Fault::translationDrop:
        return QStringLiteral("translation socket dropped with finals pending");
    case Fault::historyDropped:
        return QStringLiteral("history saves dropped");
    case Fault::historyServerError:
        return QStringLiteral("history saves answered 503");
    case Fault::tokenExpiry:
        return QStringLiteral("access token expired");
    case Fault::slowAIReply:
        return QStringLiteral("slow AI reply after a new request");
    case Fault::startNewWhileHistoryDown:
        return QStringLiteral("Start New while the history endpoint is down");
    case Fault::startNewThroughGatewayErrors:
        return QStringLiteral("Start New while the history gateway answers 502, 503, 504");
    case Fault::quitAndRestart:
        return QStringLiteral("quit and restart from the draft");
    case Fault::startNewWhileHistoryDownThenQuit:
        return QStringLiteral("Start New while the history endpoint is down, then quit and restart");
    }
    return QString();
}

QString MeetingSoak::tagOf(int index) const
{
    return QStringLiteral("#%1#").arg(index);
}

// No colon anywhere: a line with one reads as "speaker: text" to the block translation.
QString MeetingSoak::sentence(int index) const
{
    return tagOf(index)
           + QStringLiteral(" uh, we went through the numbers for the next quarter and agreed that the rollout waits for "
                            "the signed test plan.");
}

bool MeetingSoak::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

bool MeetingSoak::expect(const std::function<bool()> &condition, const QString &what, int timeoutMs)
{
    const bool held = waitFor(condition, timeoutMs);
    if (!held)
        m_report.check(false, what, QStringLiteral("not within %1 s").arg(timeoutMs / 1000.0));
    return held;
}

// ---- Set-up ----

void MeetingSoak::setUp()
{
    m_pulse = new QTimer(QCoreApplication::instance());
    m_pulse->setInterval(2);
    m_pulse->start();

    m_backend = std::make_unique<FakeBackend>();
    if (!m_backend->start())
        throw SoakStopped{QStringLiteral("the fake backend did not start")};
    m_authBackend = std::make_unique<FakeAuthBackend>(m_backend.get());
    m_authBackend->setSessionLifetimeSeconds(5 * 3600);
    m_speech = std::make_unique<FakeSpeechRelay>(m_backend.get());
    m_translation = std::make_unique<FakeTranslationRelay>(m_backend.get());
    m_history = std::make_unique<FakeHistoryBackend>(m_backend.get());
    m_billing = std::make_unique<FakeBillingBackend>(m_backend.get());
    m_billing->setIncludedSeconds(100 * 3600);
    m_backend->route("POST", QString::fromLatin1(FakeTranslationRelay::chatPath),
                     [this](const RecordedRequest &request) { return answerChat(request); });

    const QDateTime realNow = QDateTime::currentDateTimeUtc();
    AuthSession session = TestAuth::defaultSession();
    session.expiresAt = realNow.addSecs(3600);
    m_authBackend->registerSession(session);
    m_auth = TestAuth::signedInService(m_backend->baseUrl(), session);
    m_auth->setClock([this] { return QDateTime::currentDateTimeUtc().addSecs(m_authClockOffsetSeconds); });

    m_defaults = std::make_unique<UserDefaults>(m_directory.filePath(QStringLiteral("preferences.ini")));
    m_localization = std::make_unique<KavrelLocalizationStore>(*m_defaults);
    m_trace = std::make_unique<Trace>();
    m_clock = QDateTime(QDate(2026, 5, 4), QTime(9, 0, 0, 400), QTimeZone::utc());
    m_history->setNow(m_clock);
    m_billing->setNow(m_clock);

    // A quiet 400 Hz tone (whole periods in a piece): something to encode, nothing a level
    // meter would call silence.
    m_audio.resize(pieceSamples * 2);
    auto *samples = reinterpret_cast<qint16 *>(m_audio.data());
    for (qsizetype i = 0; i < pieceSamples; ++i)
        samples[i] = qint16(2000.0 * std::sin(2.0 * M_PI * 400.0 * double(i) / sampleRate));
    m_tasksBefore = runningTaskCount();
    m_heapBefore = ProcessMemory::heapInUse();
}

void MeetingSoak::buildEngine()
{
    m_trace->calls.clear();
    SessionServices services = SessionServices::makeDefault(m_auth.get(), PulseAudioContext::shared());
    auto system = std::make_unique<FakeSystemAudio>(m_trace.get());
    auto microphones = std::make_unique<FakeMicrophones>(m_trace.get());
    m_systemAudio = system.get();
    m_microphones = microphones.get();
    services.systemAudio = std::move(system);
    services.microphones = std::move(microphones);
    auto recording = std::make_unique<LocalAudioRecordingService>();
    m_recording = recording.get();
    services.recorder = std::make_unique<CountingRecorder>(std::make_unique<RealSessionRecorder>(std::move(recording)),
                                                           &m_recordedBytes);

    auto *speechClient = static_cast<RealSpeechToTextStream *>(services.speechToText.get())->service();
    DeepgramLiveTranscriptionService::Timings speechTimings = speechClient->timings();
    speechTimings.reconnectDelays = {5ms, 10ms, 20ms, 40ms};
    speechTimings.finalizePause = 20ms;
    speechTimings.stopTimeout = 3000ms;
    speechClient->setTimings(speechTimings);
    KavrelLiveTranslationV2Service::Timings translationTimings = services.liveTranslation->timings();
    translationTimings.reconnectDelays = {5ms, 10ms, 20ms, 30ms};
    translationTimings.previewRetryDelay = 20ms;
    translationTimings.emergencyPreviewDelay = 20ms;
    services.liveTranslation->setTimings(translationTimings);

    m_model = std::make_unique<SubtitleViewModel>(*m_defaults, std::move(services), *m_localization);
    m_model->setAudioRecordingEnabled(true);
    m_model->setTranslationEnabled(true);
    SubtitleViewModel::Timings timings;
    timings.draftAutosaveDelay = 20ms;
    timings.stopDrainPause = 1ms;
    m_model->setTimings(timings);
    SessionCompanionSet *companions = m_model->companionSet();
    SessionCompanionSet::Timings companionTimings;
    companionTimings.stableRewriteDebounce = 30ms;
    companionTimings.history.retryDelays = {1ms, 3ms, 8ms};
    companionTimings.history.deferredRetryDelay = 30ms;
    companions->setTimings(companionTimings);
    companions->setClock([this] { return m_clock; });

    // Each stop names its recording; "Start New" clears the name right after, so it is
    // taken as it appears.
    SubtitleViewModel *model = m_model.get();
    QObject::connect(model, &SubtitleViewModel::lastRecordingPathChanged, model, [this, model] {
        if (model->lastRecordingPath() && !m_ledger.stretches.empty() && m_ledger.stretches.back().recordingPath.isEmpty())
            m_ledger.stretches.back().recordingPath = *model->lastRecordingPath();
    });
}

void MeetingSoak::tearDownEngine()
{
    m_recording = nullptr;
    m_model.reset();
    m_systemAudio = nullptr;
    m_microphones = nullptr;
    waitFor([] { return false; }, 50);
}

void MeetingSoak::schedule()
{
    std::vector<Fault> faults{Fault::speechRefused, Fault::quitAndRestart};
    faults.push_back(Fault::startNewWhileHistoryDownThenQuit);
    for (int i = 0; i < m_options.faultRepeats; ++i) {
        for (Fault fault : {Fault::speechDrop, Fault::translationDrop, Fault::historyDropped, Fault::historyServerError,
                            Fault::tokenExpiry, Fault::slowAIReply, Fault::startNewWhileHistoryDown,
                            Fault::startNewThroughGatewayErrors})
            faults.push_back(fault);
    }
    // Spread over the meeting, apart enough that each one's recovery is over before the next.
    const int first = 12;
    const int last = m_options.turns - 12;
    const int spacing = std::max(3, std::min(8, (last - first) / int(faults.size() + 1)));
    std::vector<int> taken;
    for (Fault fault : faults) {
        std::uniform_int_distribution<int> at(first, last);
        int turn = at(m_random);
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const bool clear = std::none_of(taken.begin(), taken.end(), [&](int t) { return std::abs(t - turn) < spacing; });
            if (clear)
                break;
            turn = at(m_random);
        }
        taken.push_back(turn);
        m_faults.emplace(turn, fault);
    }
    std::uniform_int_distribution<int> gap(30, 90);
    for (int turn = gap(m_random); turn < m_options.turns - 5; turn += gap(m_random))
        m_microphoneToggles.push_back(turn);
}

// ---- The meeting ----

void MeetingSoak::run()
{
    m_wall.start();
    try {
        m_report.note(QStringLiteral("soak: %1 turns, each fault %2 time(s), %3 s of audio per turn, seed %4 "
                                     "(KAVREL_SOAK_SEED=%4 replays it)")
                          .arg(m_options.turns)
                          .arg(m_options.faultRepeats)
                          .arg(m_options.secondsPerTurn)
                          .arg(m_options.seed));
        if (m_options.plantedLeakBytes > 0)
            m_report.note(QStringLiteral("  a leak of %1 bytes a turn planted (KAVREL_SOAK_PLANTED_LEAK)").arg(m_options.plantedLeakBytes));
        setUp();
        schedule();
        for (const auto &[turn, fault] : m_faults)
            m_report.note(QStringLiteral("  planned: turn %1 %2").arg(turn).arg(faultName(fault)));
        buildEngine();
        beginMeeting();
        startListening();
        expect([this] { return m_model->turnStore()->isTranslationAvailable(); }, QStringLiteral("translation ready"));

        for (int turn = 0; turn < m_options.turns; ++turn) {
            const auto range = m_faults.equal_range(turn);
            for (auto it = range.first; it != range.second; ++it)
                runFault(it->second, turn);
            if (std::find(m_microphoneToggles.begin(), m_microphoneToggles.end(), turn) != m_microphoneToggles.end())
                toggleMicrophone();
            if (turn > 0 && turn % m_options.aiEveryTurns == m_options.aiEveryTurns / 2)
                askAI(turn);
            speakTurn(m_spoken);
            if ((turn + 1) % 50 == 0)
                clearHarnessRecords();
            if (turn + 1 == m_options.warmupTurns) {
                waitForQuiet(QStringLiteral("after the warm-up"));
                m_early = measure(QStringLiteral("after %1 turns").arg(m_spoken));
            }
            if ((turn + 1) % 500 == 0)
                m_report.note(QStringLiteral("  %1 turns, %2 s").arg(turn + 1).arg(m_wall.elapsed() / 1000.0, 0, 'f', 1));
        }
        finish();
    } catch (const SoakStopped &stopped) {
        m_report.note(QStringLiteral("soak stopped at its first miss: ") + stopped.miss);
    }
}

void MeetingSoak::beginMeeting()
{
    SoakMeeting meeting;
    meeting.clientSessionID = m_model->companionSet()->history()->clientSessionID();
    m_ledger.meetings.push_back(meeting);
}

void MeetingSoak::beginStretch()
{
    SoakStretch stretch;
    stretch.meeting = int(m_ledger.meetings.size()) - 1;
    stretch.startedAt = m_clock;
    m_ledger.stretches.push_back(stretch);
    m_recordedBytes = 0;
}

void MeetingSoak::endStretch()
{
    SoakStretch &stretch = m_ledger.stretches.back();
    stretch.stoppedAt = m_clock;
    m_ledger.meetings.back().stoppedAt = m_clock;
}

void MeetingSoak::startListening()
{
    beginStretch();
    m_model->startListening(ListeningSessionStartMode::continuePrevious, false);
    expect([this] { return !m_model->isBusy() && m_model->status() == SubtitleStatus::listening; },
           QStringLiteral("listening starts"));
    expect([this] { return speechSession() && speechSession()->isConnected(); }, QStringLiteral("speech socket open"));
}

void MeetingSoak::listenAgain()
{
    startListening();
    expect([this] { return m_model->turnStore()->isTranslationAvailable(); }, QStringLiteral("translation ready again"));
}

void MeetingSoak::startNew()
{
    m_model->startNewSession();
    if (expect([this] { return !m_model->isBusy() && m_model->status() == SubtitleStatus::idle; },
               QStringLiteral("Start New ends")))
        endStretch();
}

void MeetingSoak::quit(const QString &what)
{
    SubtitleViewModel *model = m_model.get();
    TaskHandle<void> stop = spawnTask([model](CancellationToken) -> QCoro::Task<void> {
        co_await model->stopActiveSessionAndWait();
    });
    expect([stop] { return stop.isFinished(); }, what);
}

void MeetingSoak::stopListening()
{
    m_model->stopActiveSession();
    expect([this] { return !m_model->isBusy() && m_model->status() == SubtitleStatus::stopped; },
           QStringLiteral("listening stops"));
    endStretch();
}

FakeWebSocketSession *MeetingSoak::speechSession() const
{
    const QList<FakeWebSocketSession *> sessions = m_speech->sessions();
    return sessions.isEmpty() ? nullptr : sessions.last();
}

int MeetingSoak::speechConnectionCount() const
{
    return int(m_speech->sessions().size());
}

void MeetingSoak::feedAudio(double seconds)
{
    const qint64 total = std::llround(seconds * sampleRate);
    SoakStretch &stretch = m_ledger.stretches.back();
    const QDateTime start = stretch.startedAt;
    const DeepgramLiveTranscriptionService *speech =
        static_cast<RealSpeechToTextStream *>(m_model->services().speechToText.get())->service();
    for (qint64 fed = 0; fed < total;) {
        const qsizetype count = qsizetype(std::min<qint64>(pieceSamples, total - fed));
        const bool microphone =
            m_model->isMicrophoneListening() && m_microphones->current && m_microphones->current->chunkHandler;
        for (qsizetype offset = 0; offset < count; offset += fragmentSamples) {
            const QByteArray fragment = m_audio.mid(offset * 2, std::min(fragmentSamples, count - offset) * 2);
            if (m_systemAudio->chunkHandler)
                m_systemAudio->chunkHandler(fragment, AudioCaptureTime());
            if (microphone)
                m_microphones->current->chunkHandler(fragment, AudioCaptureTime());
        }
        fed += count;
        stretch.audioSamples += count;
        m_clock = start.addMSecs(stretch.audioSamples * 1000 / sampleRate);
        // The mixer hands on whole chunks; the rest waits in its lane for the next audio (with
        // the microphone on, a chunk more, until both lanes hold it).
        const qint64 chunk = MixedAudioStreamMixer::chunkSampleCount;
        const qint64 expected = std::max<qint64>(0, (stretch.audioSamples - (microphone ? chunk : 0)) / chunk * chunk * 2);
        if (!waitFor([this, expected] { return m_recordedBytes >= expected; }, 5000))
            m_report.check(false, QStringLiteral("the mixer hands on every sample"),
                           QStringLiteral("%1 of %2 bytes").arg(m_recordedBytes).arg(expected));
        // Nor does it outrun the speech socket, which drops what waits too long as stale, or
        // the recording's encoder, which gives up on a backlog of a minute.
        waitFor([speech] { return speech->pendingAudioChunkCount() == 0; }, 2000);
        const LocalAudioRecordingService *recording = m_recording;
        waitFor([recording] { return recording->queuedBytes() < 5 * sampleRate * 2; }, 10000);
    }
    m_history->setNow(m_clock);
    m_billing->setNow(m_clock);
}

void MeetingSoak::speakTurn(int index, bool closeIt)
{
    if (m_options.plantedLeakBytes > 0)
        m_plantedLeak.emplace_back(m_options.plantedLeakBytes, 'L');
    feedAudio(m_options.secondsPerTurn);
    FakeWebSocketSession *session = speechSession();
    const int closedBefore = m_model->turnStore()->closedTurnCount();
    const QString text = sentence(index);
    ++m_spoken;
    if (!closeIt) {
        // Half the turn is final, the rest still an interim when the user quits; the relay
        // answers the stop's Finalize with the whole turn, as the service does.
        session->sendText(FakeSpeechRelay::results(text.left(text.size() / 2), true, false));
        session->sendText(FakeSpeechRelay::results(text, false, false));
        m_speech->answerToFinalize = {FakeSpeechRelay::results(text, true, true)};
        expect([this] { return m_model->turnStore()->hasOpenTurn() && !m_model->turnStore()->turns().back().text.isEmpty(); },
               QStringLiteral("turn %1 opens").arg(index));
        m_ledger.meetings.back().tags.append(index);
        return;
    }
    session->sendText(FakeSpeechRelay::results(text.left(text.size() / 2), false, false));
    session->sendText(FakeSpeechRelay::results(text, true, true));
    expect([this, closedBefore] { return m_model->turnStore()->closedTurnCount() == closedBefore + 1; },
           QStringLiteral("turn %1 closes").arg(index));
    m_ledger.meetings.back().tags.append(index);
}

void MeetingSoak::toggleMicrophone()
{
    const bool wasOn = m_model->isMicrophoneListening();
    m_model->toggleMicrophoneCapture();
    expect([this, wasOn] { return !m_model->isMicrophoneBusy() && m_model->isMicrophoneListening() != wasOn; },
           QStringLiteral("microphone toggles %1").arg(wasOn ? "off" : "on"));
}

void MeetingSoak::askAI(int turn)
{
    AIResultPanelSet *panels = m_model->companionSet()->panels();
    if (!waitFor([panels] { return !panels->isAnyLoading(); }))
        return;
    switch (m_aiAsks++ % 4) {
    case 0:
        m_model->summarizeSourceText();
        break;
    case 1:
        m_model->generateSourceProtocol();
        break;
    case 2:
        m_model->suggestSourceAnswer();
        break;
    default:
        m_model->generateTranslatedProtocol();
        break;
    }
    Q_UNUSED(turn);
}

// ---- The AI endpoint ----

// Answers the three kinds of chat request as a model would: the stable rewrite gets its
// JSON with the filler word gone, translations keep their timestamps and lines, and the AI
// panels get a numbered reply (so a late one can be told from the one asked after it).
FakeResponse MeetingSoak::answerChat(const RecordedRequest &request)
{
    const QJsonArray messages = request.json().value(QStringLiteral("messages")).toArray();
    const QString system = messages.isEmpty() ? QString() : messages.first().toObject().value(QStringLiteral("content")).toString();
    const QString last = messages.isEmpty() ? QString() : messages.last().toObject().value(QStringLiteral("content")).toString();
    static const QRegularExpression stamped(QStringLiteral("^(\\[(\\d\\d:\\d\\d:\\d\\d)\\] )(.*)$"));
    QString content;
    int delayMs = 0;
    if (system.startsWith(QLatin1String("Reconstruct clean readable dialogue"))) {
        QJsonArray rewritten;
        const QString block = last.section(QStringLiteral("\n\n"), 1);
        for (const QString &line : block.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch match = stamped.match(line);
            QJsonObject item;
            item.insert(QStringLiteral("timestamp"), match.hasMatch() ? match.captured(2) : QString());
            item.insert(QStringLiteral("text"), QString(match.hasMatch() ? match.captured(3) : line).remove(QStringLiteral("uh, ")));
            rewritten.append(item);
        }
        content = QString::fromUtf8(QJsonDocument(rewritten).toJson(QJsonDocument::Compact));
    } else if (system.startsWith(QLatin1String("Translate from "))) {
        QStringList lines;
        for (const QString &line : last.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch match = stamped.match(line);
            lines.append(match.hasMatch() ? match.captured(1) + QStringLiteral("EN ") + match.captured(3)
                                          : QStringLiteral("EN ") + line);
        }
        content = lines.join(QLatin1Char('\n'));
    } else {
        const int serial = ++m_aiRequests;
        content = QStringLiteral("AI reply %1").arg(serial);
        if (m_slowReplyDelayMs > 0) {
            delayMs = m_slowReplyDelayMs;
            m_slowReplyDelayMs = 0;
            m_slowReplySerial = serial;
        }
    }
    return FakeResponse::json(200, FakeTranslationRelay::chatCompletion(content)).withDelay(delayMs);
}

// ---- Faults ----

void MeetingSoak::runFault(Fault fault, int turn)
{
    m_ledger.faults.append(QStringLiteral("turn %1: %2").arg(turn).arg(faultName(fault)));
    if (m_options.verbose)
        m_report.note(QStringLiteral("  fault at turn %1: %2").arg(turn).arg(faultName(fault)));
    switch (fault) {
    case Fault::speechDrop: {
        const int connections = speechConnectionCount();
        speechSession()->abort();
        expect([this, connections] { return speechConnectionCount() == connections + 1 && speechSession()->isConnected(); },
               QStringLiteral("the speech client reconnects"));
        break;
    }
    case Fault::speechRefused: {
        // Every reconnection is refused: the client gives up, the session stops and is saved;
        // the user starts listening again once the relay is back.
        m_speech->setUpgrades({FakeSpeechRelay::Upgrade::reject401});
        speechSession()->abort();
        if (expect([this] { return !m_model->isBusy() && m_model->status() == SubtitleStatus::stopped; },
                   QStringLiteral("the session stops when the relay stays away")))
            endStretch();
        m_speech->setUpgrades({FakeSpeechRelay::Upgrade::accept});
        expect([this] { return m_model->companionSet()->history()->saveTask().isFinished(); },
               QStringLiteral("the stop's save ends"));
        startListening();
        break;
    }
    case Fault::translationDrop: {
        // Finals go out on a socket that no longer reads; then it drops.
        const int connections = m_translation->v2ConnectionCount();
        FakeWebSocketSession *socket = m_translation->v2Session();
        m_backend->stallReading(socket);
        speakTurn(m_spoken);
        speakTurn(m_spoken);
        // (The stalled socket hears of its own end only once it reads again.)
        m_backend->resumeReading(socket);
        socket->abort();
        expect([this, connections] { return m_translation->v2ConnectionCount() > connections; },
               QStringLiteral("the translation client reconnects"));
        break;
    }
    case Fault::historyDropped: {
        std::bernoulli_distribution committed(0.5);
        m_history->script(QStringLiteral("UpdateMeetingSession"), Script::dropConnection(committed(m_random)));
        askAI(turn);
        speakTurn(m_spoken);
        speakTurn(m_spoken);
        speakTurn(m_spoken);
        m_history->clearScripts();
        break;
    }
    case Fault::historyServerError: {
        Script failure = Script::httpFailure(503, "upstream unavailable");
        failure.times = 2;
        m_history->script(QStringLiteral("UpdateMeetingSession"), failure);
        askAI(turn);
        speakTurn(m_spoken);
        m_history->clearScripts();
        break;
    }
    case Fault::tokenExpiry: {
        // Each expiry moves the client's clock past the session; the refreshed one lasts until
        // well after the next.
        ++m_tokenExpiries;
        m_authClockOffsetSeconds = qint64(m_tokenExpiries) * 10 * 3600;
        m_authBackend->setSessionLifetimeSeconds(m_authClockOffsetSeconds + 5 * 3600);
        const QString token = QStringLiteral("access-user-1-%1").arg(m_tokenExpiries);
        m_history->setAccessToken(token);
        m_billing->setAccessToken(token);
        const int connections = speechConnectionCount();
        speechSession()->abort();
        askAI(turn);
        expect([this, connections] { return speechConnectionCount() == connections + 1 && speechSession()->isConnected(); },
               QStringLiteral("the speech client reconnects with the refreshed token"));
        break;
    }
    case Fault::slowAIReply: {
        // The protocol's reply is slow; the answer asked meanwhile must neither start a second
        // request nor be overwritten by the late reply.
        AIResultPanelSet *panels = m_model->companionSet()->panels();
        waitFor([panels] { return !panels->isAnyLoading(); });
        m_slowReplyDelayMs = 400;
        const int before = m_aiRequests;
        m_model->generateSourceProtocol();
        expect([this, before] { return m_aiRequests > before; }, QStringLiteral("the slow protocol request goes out"));
        const int slowSerial = m_slowReplySerial;
        m_model->suggestSourceAnswer();
        speakTurn(m_spoken);
        expect([panels] { return !panels->isAnyLoading(); }, QStringLiteral("the slow reply arrives"));
        m_report.check(m_model->transcriptProtocolText() == QStringLiteral("AI reply %1").arg(slowSerial),
                       QStringLiteral("the protocol panel shows the slow reply it asked for"), m_model->transcriptProtocolText());
        m_report.check(m_aiRequests == before + 1, QStringLiteral("the answer asked while it loaded sent nothing"));
        break;
    }
    case Fault::startNewWhileHistoryDown: {
        // A slow protocol is still out when the user starts anew with the endpoint down: the old
        // meeting keeps its last record, the new one starts empty and never gets the late reply.
        // A translation still on its way at Start New never reaches the finished meeting's record.
        waitForTranslations(QStringLiteral("before Start New"));
        AIResultPanelSet *panels = m_model->companionSet()->panels();
        waitFor([panels] { return !panels->isAnyLoading(); });
        m_slowReplyDelayMs = 300;
        m_model->generateSourceProtocol();
        for (const char *operation : {"UpdateMeetingSession", "StartMeetingSession"})
            m_history->script(QString::fromLatin1(operation), Script::dropConnection(false));
        startNew();
        m_history->clearScripts();
        beginMeeting();
        expect([panels] { return !panels->isAnyLoading(); }, QStringLiteral("the late protocol reply arrives"));
        m_report.check(m_model->transcriptProtocolText().isEmpty(), QStringLiteral("the late reply stays out of the new meeting"),
                       m_model->transcriptProtocolText());
        listenAgain();
        break;
    }
    case Fault::startNewThroughGatewayErrors: {
        // The gateway in front of the history server answers for it for a while: the finished
        // meeting waits through every answer and lands once the server is back (the checks find
        // it on the server with all its turns). Start New comes right after the last turn, its
        // translation most likely still on its way.
        noteTranslationsInFlight();
        for (const char *operation : {"UpdateMeetingSession", "StartMeetingSession"}) {
            for (int status : {502, 503, 504}) {
                Script failure = Script::httpFailure(status, "<html>gateway</html>", "text/html");
                failure.times = 2;
                m_history->script(QString::fromLatin1(operation), failure);
            }
        }
        startNew();
        MeetingHistoryMirror *history = m_model->companionSet()->history();
        expect([history] { return history->handedOverCount() == 0; },
               QStringLiteral("the finished meeting lands through the gateway's errors"));
        m_history->clearScripts();
        beginMeeting();
        listenAgain();
        break;
    }
    case Fault::startNewWhileHistoryDownThenQuit: {
        // The finished meeting cannot reach the server before the program quits: it waits on
        // disk, and the next run sends it, once, with every turn.
        waitForTranslations(QStringLiteral("before Start New"));
        for (const char *operation : {"UpdateMeetingSession", "StartMeetingSession"})
            m_history->script(QString::fromLatin1(operation), Script::dropConnection(false));
        startNew();
        quit(QStringLiteral("the quit ends with the history endpoint down"));
        m_report.check(m_model->companionSet()->history()->handedOverCount() == 1,
                       QStringLiteral("the finished meeting is still waiting at the quit"));
        tearDownEngine();
        m_history->clearScripts();
        buildEngine();
        const std::optional<QString> notice = m_model->errorMessage();
        m_report.check(notice && notice->contains(QStringLiteral("ещё не сохранилась в истории")),
                       QStringLiteral("the restart says which meeting is still waiting"), notice.value_or(QString()));
        expect([this] { return m_model->companionSet()->history()->handedOverCount() == 0; },
               QStringLiteral("the waiting meeting lands after the restart"));
        beginMeeting();
        listenAgain();
        break;
    }
    case Fault::quitAndRestart: {
        // A turn is still open when the user quits; the program comes back from its draft and
        // goes on listening, in the same meeting.
        speakTurn(m_spoken, false);
        quit(QStringLiteral("the quit's stop ends"));
        m_speech->answerToFinalize.clear();
        endStretch();
        tearDownEngine();
        buildEngine();
        const int restored = int(m_ledger.meetings.back().tags.size());
        m_report.check(m_model->turnStore()->closedTurnCount() == restored, QStringLiteral("the draft brings back every turn"),
                       QStringLiteral("%1 of %2").arg(m_model->turnStore()->closedTurnCount()).arg(restored));
        // The restored meeting goes on with its own record rather than a second one.
        m_report.check(m_model->companionSet()->history()->clientSessionID() == m_ledger.meetings.back().clientSessionID,
                       QStringLiteral("the restored meeting keeps its record"));
        listenAgain();
        break;
    }
    }
}

// ---- The end ----

void MeetingSoak::waitForTranslations(const QString &when)
{
    SessionTurnStore *turns = m_model->turnStore();
    expect([turns] {
        for (const SessionTurn &turn : turns->turns()) {
            if (turn.translationText.isEmpty())
                return false;
        }
        return true;
    }, QStringLiteral("every turn translated ") + when, 60000);
}

void MeetingSoak::noteTranslationsInFlight()
{
    QList<int> &inFlight = m_ledger.meetings.back().translationsInFlight;
    for (const SessionTurn &turn : m_model->turnStore()->turns()) {
        if (turn.translationText.isEmpty())
            inFlight.append(SoakChecks::tagsIn(turn.text));
    }
    if (m_options.verbose && !inFlight.isEmpty())
        m_report.note(QStringLiteral("  %1 translation(s) on their way at Start New").arg(inFlight.size()));
}

void MeetingSoak::waitForQuiet(const QString &when)
{
    SessionTurnStore *turns = m_model->turnStore();
    waitForTranslations(when);
    StableReconstructionScheduler *rewrite = m_model->companionSet()->stableRewrite();
    expect([rewrite, turns] {
        return rewrite->nextStableTurnIndex() == turns->closedTurnCount() && !rewrite->isRunning() && !rewrite->isWaiting();
    }, QStringLiteral("the stable rewrite caught up ") + when, 60000);
    AIResultPanelSet *panels = m_model->companionSet()->panels();
    expect([panels] { return !panels->isAnyLoading(); }, QStringLiteral("the AI panels settled ") + when);
    // A save on its way holds its request body for a moment, and the recorder's queue its audio
    // (all but the batch it gathers); the figures are taken between them.
    SessionCompanionSet *companions = m_model->companionSet();
    SessionDraftStore *draft = m_model->draftStore();
    const LocalAudioRecordingService *recording = m_recording;
    const auto settled = [](const TaskHandle<void> &task) { return !task.isValid() || task.isFinished(); };
    expect([companions, draft, recording, settled] {
        return settled(companions->history()->saveTask()) && !companions->history()->hasDeferredRetry()
               && settled(companions->billing()->syncTask()) && !draft->hasPendingAutosave()
               && recording->queuedBytes() < LocalAudioRecordingService::batchBytes;
    }, QStringLiteral("the saves and the recorder settled ") + when);
}

MeetingSoak::MemoryFigure MeetingSoak::measure(const QString &when)
{
    // The figures are the program's: what the harness keeps in this process goes first (its
    // records of requests and frames), and the fake server's stored meetings wait in a file
    // while the figures are taken.
    clearHarnessRecords();
    MemoryFigure figure;
    const qint64 withStore = ProcessMemory::heapInUse();
    const QString asideFile = m_directory.filePath(QStringLiteral("stored-meetings.cbor"));
    if (!m_history->setMeetingsAside(asideFile))
        throw SoakStopped{QStringLiteral("the fake server's meetings could not be set aside")};
    figure.resident = ProcessMemory::residentBytes();
    figure.heap = ProcessMemory::heapInUse();
    figure.store = withStore - figure.heap;
    if (!m_history->bringMeetingsBack(asideFile))
        throw SoakStopped{QStringLiteral("the fake server's meetings could not be brought back")};
    QFile::remove(asideFile);
    figure.text = SoakChecks::textBytes(*m_model->turnStore());
    figure.turns = int(m_model->turnStore()->turns().size());
    m_report.note(QStringLiteral("  memory %1: live heap %2 MiB, resident %3 MiB, %6 turns in the meeting with %4 MiB "
                                 "of text (the fake server's stored meetings, %5 MiB, left out)")
                      .arg(when)
                      .arg(figure.heap / 1048576.0, 0, 'f', 2)
                      .arg(figure.resident / 1048576.0, 0, 'f', 2)
                      .arg(figure.text / 1048576.0, 0, 'f', 2)
                      .arg(figure.store / 1048576.0, 0, 'f', 2)
                      .arg(figure.turns));
    return figure;
}

qint64 MeetingSoak::measureMeetingHeld()
{
    waitForQuiet(QStringLiteral("after the stop"));
    const MemoryFigure withMeeting = measure(QStringLiteral("after the stop"));
    m_model->startNewSession();
    expect([this] { return !m_model->isBusy() && m_model->status() == SubtitleStatus::idle; },
           QStringLiteral("Start New after the stop ends"));
    // The draft's encoder follows the session at its next write, the next meeting's first:
    // until then it keeps the finished meeting's turns and their JSON. That write is made now.
    m_model->draftStore()->scheduleDraftAutosave();
    waitForQuiet(QStringLiteral("once Start New cleared the meeting"));
    const MemoryFigure withoutMeeting = measure(QStringLiteral("once Start New cleared the meeting"));
    return withMeeting.heap - withoutMeeting.heap;
}

void MeetingSoak::clearHarnessRecords()
{
    // The fake server records every request and frame and keeps every websocket session; that
    // memory is the harness's.
    m_backend->clearRecords();
    m_backend->dropClosedWebSockets();
    m_history->clearCalls();
    m_translation->clearV2Received();
    m_speech->clearFrames();
}

void MeetingSoak::finish()
{
    waitForQuiet(QStringLiteral("at the end"));
    m_late = measure(QStringLiteral("after %1 turns").arg(m_spoken));
    stopListening();
    SessionCompanionSet *companions = m_model->companionSet();
    expect([this, companions] {
        return companions->history()->saveTask().isFinished() && companions->billing()->syncTask().isFinished()
               && !m_model->draftStore()->hasPendingAutosave() && !companions->history()->hasDeferredRetry();
    }, QStringLiteral("the last save, usage report and draft are out"));
    m_report.note(QStringLiteral("meeting over after %1 s of wall time: %2 turns, %3 meetings, %4 listening stretches")
                      .arg(m_wall.elapsed() / 1000.0, 0, 'f', 1)
                      .arg(m_spoken)
                      .arg(m_ledger.meetings.size())
                      .arg(m_ledger.stretches.size()));
    SoakChecks checks(*this);
    checks.run();
}
