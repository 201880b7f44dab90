#include "audio/SystemAudioCaptureError.h"
#include "audio/SystemAudioCaptureService.h"
#include "platform/PulseAudioContext.h"
#include "support/AudioServerOutage.h"
#include "support/TaskResult.h"
#include "support/TestAudio.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include <mutex>
#include <thread>

namespace {

// Collects chunks on the processing thread.
struct Collected
{
    std::mutex mutex;
    std::vector<QByteArray> chunks;
    bool onMainThread = false;

    void add(const QByteArray &chunk)
    {
        std::lock_guard lock(mutex);
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            onMainThread = true;
        chunks.push_back(chunk);
    }
    void clear()
    {
        std::lock_guard lock(mutex);
        chunks.clear();
    }
    std::vector<qint16> samples()
    {
        std::lock_guard lock(mutex);
        std::vector<qint16> all;
        for (const QByteArray &chunk : chunks) {
            const std::vector<qint16> part = TestAudio::samplesOf(chunk);
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }
    std::size_t sampleCount()
    {
        std::lock_guard lock(mutex);
        std::size_t count = 0;
        for (const QByteArray &chunk : chunks)
            count += std::size_t(chunk.size() / 2);
        return count;
    }
};

constexpr std::size_t window = 160; // 10 ms at 16 kHz

// Index of the first 10 ms window whose level exceeds the threshold, or npos.
std::size_t firstLoud(const std::vector<qint16> &samples, double threshold, std::size_t from = 0)
{
    for (std::size_t i = from; i + window <= samples.size(); i += window) {
        if (TestAudio::rms(samples, i, window) > threshold)
            return i;
    }
    return std::string::npos;
}

std::size_t lastLoud(const std::vector<qint16> &samples, double threshold)
{
    std::size_t last = std::string::npos;
    for (std::size_t i = 0; i + window <= samples.size(); i += window) {
        if (TestAudio::rms(samples, i, window) > threshold)
            last = i + window;
    }
    return last;
}

std::size_t at(double seconds)
{
    return std::size_t(seconds * 16000);
}

} // namespace

class tst_SystemAudioCaptureService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void capturesWhatIsPlayedInOrder();
    void refusesToStartTwiceOrStopWhenIdle();
    void followsAChangeOfTheDefaultOutput();
    void followsAChangeMadeWhileStarting();
    void dropsChunksThatWaitedTooLong();
    void captureTimesFollowTheAudioThroughAHeldUpRead_data();
    void captureTimesFollowTheAudioThroughAHeldUpRead();
    void aSuspendedOutputLeavesAGapInTheTimes();
    void resumesAfterTheAudioServerComesBack();
    void reportsAudioThatDoesNotComeBack();

private:
    QString m_sink;
    QTemporaryDir m_files;
};

namespace {

// The latency the server has configured for a sink, in microseconds (-1 when it cannot tell).
qint64 configuredLatencyOf(const QString &sink)
{
    const std::optional<QString> sinks = TestAudio::pactl({QStringLiteral("list"), QStringLiteral("sinks")});
    if (!sinks)
        return -1;
    for (const QString &block : sinks->split(QStringLiteral("Sink #"))) {
        if (!block.contains(QStringLiteral("Name: ") + sink + QLatin1Char('\n')))
            continue;
        const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("configured (\\d+) usec")).match(block);
        return match.hasMatch() ? match.captured(1).toLongLong() : -1;
    }
    return -1;
}

} // namespace

void tst_SystemAudioCaptureService::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: these tests need the private PulseAudio of scripts/with-test-services");
    m_sink = qEnvironmentVariable("KAVREL_TEST_PULSE_SINK");
    QVERIFY(!m_sink.isEmpty());
    QVERIFY(m_files.isValid());
}

// A tone, a pause and a phrase played into the default output come out as 16 kHz mono
// chunks with each part where it was played: nothing lost, nothing reordered.
void tst_SystemAudioCaptureService::capturesWhatIsPlayedInOrder()
{
    const QString dir = m_files.path();
    const QString tone = TestAudio::makeTone(dir, QStringLiteral("tone.wav"), 1000, 1.0, 48000, 2, -6);
    const QString pause = TestAudio::makeSilence(dir, QStringLiteral("pause.wav"), 0.5, 48000, 2);
    const QString speech = TestAudio::makeSpeech(dir, QStringLiteral("speech.wav"),
                                                 QStringLiteral("The meeting starts now, please listen carefully."), 48000, 2);
    QVERIFY(!tone.isEmpty() && !pause.isEmpty() && !speech.isEmpty());
    const QString program = TestAudio::concatenate(dir, QStringLiteral("program.wav"), {tone, pause, speech});
    QVERIFY(!program.isEmpty());
    const double speechSeconds = TestAudio::durationOf(speech);
    QVERIFY(speechSeconds > 1.0);

    auto collected = std::make_shared<Collected>();
    SystemAudioCaptureService service(PulseAudioContext::shared());
    service.setLiveAudioDataHandler([collected](const QByteArray &chunk, AudioCaptureTime) { collected->add(chunk); });
    const auto started = runTask(service.startCapture());
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));
    QCOMPARE(service.capturedSinkName(), m_sink);
    QTest::qWait(300);
    // Listening lets the speakers run at a period of a whole fragment: the server renders a sink
    // (and hands its monitor's audio over) in pieces of half the latency asked for, and asking
    // for one fragment woke the program, the server and every other recorder of the sink twice
    // a fragment for nothing.
    const qint64 latency = configuredLatencyOf(m_sink);
    QVERIFY2(latency >= 2 * 40000 * 95 / 100, qPrintable(QStringLiteral("%1 us").arg(latency)));
    QVERIFY(TestAudio::playInto(m_sink, program));
    QTest::qWait(400);
    const auto stopped = runTask(service.stopCapture());
    QVERIFY2(stopped.succeeded(), qPrintable(stopped.errorText()));

    QVERIFY(!collected->onMainThread);
    {
        std::lock_guard lock(collected->mutex);
        QVERIFY(!collected->chunks.empty());
        for (const QByteArray &chunk : collected->chunks) {
            QVERIFY(!chunk.isEmpty());
            QCOMPARE(chunk.size() % 2, 0);
        }
        // The monitor hands over shorter pieces than asked for; each chunk is still 40 ms
        // (640 samples, give or take what the resampler holds back), at most, at the stop, the
        // stream's last fragment and then what the resampler held.
        for (std::size_t i = 1; i + 2 < collected->chunks.size(); ++i) {
            const qsizetype samples = collected->chunks[i].size() / 2;
            QVERIFY2(samples >= 600 && samples <= 680, qPrintable(QStringLiteral("chunk %1: %2 samples").arg(i).arg(samples)));
        }
        QVERIFY(collected->chunks.size() >= 2);
        QVERIFY(collected->chunks.rbegin()[1].size() / 2 <= 680);
        QVERIFY(collected->chunks.back().size() / 2 <= 680);
    }
    const std::vector<qint16> samples = collected->samples();
    const std::size_t onset = firstLoud(samples, 0.05);
    QVERIFY2(onset != std::string::npos, "the tone never arrived");

    // The tone: a second of 1 kHz at -6 dBFS (equal channels mix down to the same level).
    QVERIFY(TestAudio::toneShare(samples, onset + at(0.1), at(0.8), 16000, 1000) > 0.95);
    QVERIFY(std::abs(TestAudio::rms(samples, onset + at(0.1), at(0.8)) - 0.354) < 0.04);
    // The pause.
    QVERIFY(TestAudio::rms(samples, onset + at(1.1), at(0.3)) < 0.002);
    // The phrase, not the tone.
    QVERIFY(TestAudio::rms(samples, onset + at(1.5), at(speechSeconds)) > 0.01);
    QVERIFY(TestAudio::toneShare(samples, onset + at(1.5), at(speechSeconds), 16000, 1000) < 0.2);
    // It ends where it should: a lost chunk would end it early, a repeated one late.
    const std::size_t end = lastLoud(samples, 0.003);
    const double endSeconds = double(end - onset) / 16000.0;
    QVERIFY2(endSeconds <= 1.5 + speechSeconds + 0.03 && endSeconds >= 1.5 + speechSeconds - 0.6,
             qPrintable(QStringLiteral("phrase ends at %1 s, the file at %2 s").arg(endSeconds).arg(1.5 + speechSeconds)));
    QVERIFY(TestAudio::rms(samples, end + at(0.05), samples.size()) < 0.002);
}

void tst_SystemAudioCaptureService::refusesToStartTwiceOrStopWhenIdle()
{
    SystemAudioCaptureService service(PulseAudioContext::shared());
    const auto expectError = [](auto result, SystemAudioCaptureError::Case expected, const QString &text) {
        const auto error = result.template errorAs<SystemAudioCaptureError>();
        QVERIFY2(error, "no capture error");
        QCOMPARE(error->errorCase(), expected);
        QCOMPARE(error->message(), text);
    };
    expectError(runTask(service.stopCapture()), SystemAudioCaptureError::Case::notCapturing,
                QStringLiteral("System audio capture is not running."));
    const auto started = runTask(service.startCapture());
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));
    expectError(runTask(service.startCapture()), SystemAudioCaptureError::Case::alreadyCapturing,
                QStringLiteral("System audio capture is already running."));
    QVERIFY(service.isCapturing());
    const auto stopped = runTask(service.stopCapture());
    QVERIFY2(stopped.succeeded(), qPrintable(stopped.errorText()));
    QVERIFY(!*stopped.value);
    expectError(runTask(service.stopCapture()), SystemAudioCaptureError::Case::notCapturing,
                QStringLiteral("System audio capture is not running."));
    // It starts again after a stop.
    QVERIFY(runTask(service.startCapture()).succeeded());
    QVERIFY(runTask(service.stopCapture()).succeeded());
}

// When another output becomes the default, capture moves there, in that output's format.
void tst_SystemAudioCaptureService::followsAChangeOfTheDefaultOutput()
{
    const QString other = QStringLiteral("kavrel_test_headphones");
    const std::optional<QString> module = TestAudio::pactl(
        {QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=") + other,
         QStringLiteral("rate=32000"), QStringLiteral("channels=1")});
    QVERIFY(module);
    struct Restore
    {
        QString sink;
        QString module;
        ~Restore()
        {
            TestAudio::pactl({QStringLiteral("set-default-sink"), sink});
            TestAudio::pactl({QStringLiteral("unload-module"), module});
        }
    } restore{m_sink, module->trimmed()};

    const QString dir = m_files.path();
    const QString low = TestAudio::makeTone(dir, QStringLiteral("low.wav"), 440, 0.6, 48000, 2, -6);
    const QString high = TestAudio::makeTone(dir, QStringLiteral("high.wav"), 1000, 0.6, 32000, 1, -6);
    QVERIFY(!low.isEmpty() && !high.isEmpty());

    auto collected = std::make_shared<Collected>();
    SystemAudioCaptureService service(PulseAudioContext::shared());
    service.setLiveAudioDataHandler([collected](const QByteArray &chunk, AudioCaptureTime) { collected->add(chunk); });
    const auto started = runTask(service.startCapture());
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));
    QCOMPARE(service.capturedSinkName(), m_sink);

    QVERIFY(TestAudio::pactl({QStringLiteral("set-default-sink"), other}));
    QTRY_COMPARE(service.capturedSinkName(), other);
    collected->clear();
    QVERIFY(TestAudio::playInto(m_sink, low));   // the old output is no longer heard
    QVERIFY(TestAudio::playInto(other, high));
    QTest::qWait(200);
    const auto stopped = runTask(service.stopCapture());
    QVERIFY2(stopped.succeeded(), qPrintable(stopped.errorText()));

    const std::vector<qint16> samples = collected->samples();
    const std::size_t onset = firstLoud(samples, 0.05);
    QVERIFY2(onset != std::string::npos, "nothing played into the new default output arrived");
    QVERIFY(TestAudio::toneShare(samples, onset + at(0.05), at(0.4), 16000, 1000) > 0.95);
    QVERIFY(TestAudio::rms(samples, 0, onset) < 0.002);
}

// The default output changes while capture is still being set up on the old one: capture
// ends up on the new default all the same.
void tst_SystemAudioCaptureService::followsAChangeMadeWhileStarting()
{
    const QString other = QStringLiteral("kavrel_test_usb_headset");
    const std::optional<QString> module = TestAudio::pactl(
        {QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=") + other});
    QVERIFY(module);
    struct Restore
    {
        QString sink;
        QString module;
        ~Restore()
        {
            TestAudio::pactl({QStringLiteral("set-default-sink"), sink});
            TestAudio::pactl({QStringLiteral("unload-module"), module});
        }
    } restore{m_sink, module->trimmed()};
    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    QTRY_VERIFY(context->sinkNamed(other).has_value());

    SystemAudioCaptureService service(PulseAudioContext::shared());
    // The start has asked the server for its default output (still the old one) and waits
    // for the answer; the change lands before it goes on.
    QCoro::Task<void> starting = service.startCapture();
    QVERIFY(TestAudio::pactl({QStringLiteral("set-default-sink"), other}));
    const auto started = runTask(std::move(starting));
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));
    QTRY_COMPARE(service.capturedSinkName(), other);
    QVERIFY(runTask(service.stopCapture()).succeeded());
}

// While the handler is stuck, fragments pile up; those older than 750 ms when their turn
// comes are dropped rather than delivered late.
void tst_SystemAudioCaptureService::dropsChunksThatWaitedTooLong()
{
    auto collected = std::make_shared<Collected>();
    auto clock = std::make_shared<QElapsedTimer>();
    auto firstArrival = std::make_shared<std::atomic<qint64>>(-1);
    clock->start();
    SystemAudioCaptureService service(PulseAudioContext::shared());
    service.setLiveAudioDataHandler([collected, clock, firstArrival](const QByteArray &chunk, AudioCaptureTime) {
        qint64 none = -1;
        if (firstArrival->compare_exchange_strong(none, clock->elapsed()))
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        collected->add(chunk);
    });
    const auto started = runTask(service.startCapture());
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));
    // An idle output may take a moment to deliver its first fragment; from then on it
    // delivers in real time.
    QTRY_VERIFY_WITH_TIMEOUT(firstArrival->load() >= 0, 5000);
    QTest::qWait(3000);
    const double elapsed = double(clock->elapsed() - firstArrival->load()) / 1000.0;
    const auto stopped = runTask(service.stopCapture());
    QVERIFY2(stopped.succeeded(), qPrintable(stopped.errorText()));

    // About the first 750 ms of the stall are lost; everything after it arrives.
    const double missing = elapsed - double(collected->sampleCount()) / 16000.0;
    QVERIFY2(missing > 0.55 && missing < 1.0, qPrintable(QStringLiteral("%1 s missing").arg(missing)));
}

// The audio server's thread is held up (a busy machine, or for seconds a stopped process): the
// fragments it finds waiting are handed on at once, each with the time it was captured, not all
// with the time of the read, and none is dropped for having waited in the server. The mixer
// lines the two captures up by these times.
void tst_SystemAudioCaptureService::captureTimesFollowTheAudioThroughAHeldUpRead_data()
{
    QTest::addColumn<int>("holdMilliseconds");
    QTest::newRow("a busy moment") << 300;
    QTest::newRow("seconds") << 3000;
}

void tst_SystemAudioCaptureService::captureTimesFollowTheAudioThroughAHeldUpRead()
{
    QFETCH(int, holdMilliseconds);
    struct Timed
    {
        std::mutex mutex;
        std::vector<std::pair<qsizetype, AudioCaptureTime>> chunks;
    };
    auto timed = std::make_shared<Timed>();
    SystemAudioCaptureService service(PulseAudioContext::shared());
    service.setLiveAudioDataHandler([timed](const QByteArray &chunk, AudioCaptureTime capturedAt) {
        std::lock_guard lock(timed->mutex);
        timed->chunks.emplace_back(chunk.size() / 2, capturedAt);
    });
    const auto started = runTask(service.startCapture());
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        std::lock_guard lock(timed->mutex);
        return timed->chunks.size() >= 5;
    }(), 5000);
    {
        PulseAudioContext::Lock held(*PulseAudioContext::shared());
        std::this_thread::sleep_for(std::chrono::milliseconds(holdMilliseconds));
    }
    QTest::qWait(500);
    QVERIFY(runTask(service.stopCapture()).succeeded());

    std::lock_guard lock(timed->mutex);
    double worst = 0;
    for (std::size_t i = 1; i < timed->chunks.size(); ++i) {
        const double apart = std::chrono::duration<double>(timed->chunks[i].second - timed->chunks[i - 1].second).count();
        worst = std::max(worst, std::abs(apart - double(timed->chunks[i].first) / 16000.0));
    }
    // The last fragment may be cut short at the stop, and the server's own pieces are 20 ms.
    QVERIFY2(worst < 0.025, qPrintable(QStringLiteral("capture times stray %1 s from the audio").arg(worst)));
}

// The output is suspended for a while: it makes no audio meanwhile, and the audio after it keeps
// its own time rather than following on from the audio before.
void tst_SystemAudioCaptureService::aSuspendedOutputLeavesAGapInTheTimes()
{
    struct Timed
    {
        std::mutex mutex;
        // Each chunk's capture time, and when it was handed on.
        std::vector<std::pair<AudioCaptureTime, AudioCaptureTime>> chunks;
    };
    auto timed = std::make_shared<Timed>();
    SystemAudioCaptureService service(PulseAudioContext::shared());
    service.setLiveAudioDataHandler([timed](const QByteArray &, AudioCaptureTime capturedAt) {
        std::lock_guard lock(timed->mutex);
        timed->chunks.emplace_back(capturedAt, AudioCaptureClock::now());
    });
    const auto started = runTask(service.startCapture());
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));
    QTRY_VERIFY_WITH_TIMEOUT([&] {
        std::lock_guard lock(timed->mutex);
        return timed->chunks.size() >= 5;
    }(), 5000);
    QVERIFY(TestAudio::pactl({QStringLiteral("suspend-sink"), m_sink, QStringLiteral("1")}));
    QTest::qWait(2000);
    QVERIFY(TestAudio::pactl({QStringLiteral("suspend-sink"), m_sink, QStringLiteral("0")}));
    QTest::qWait(500);
    QVERIFY(runTask(service.stopCapture()).succeeded());

    std::lock_guard lock(timed->mutex);
    double gap = 0;
    double latest = 0;
    for (std::size_t i = 0; i < timed->chunks.size(); ++i) {
        if (i > 0)
            gap = std::max(gap, std::chrono::duration<double>(timed->chunks[i].first - timed->chunks[i - 1].first).count());
        latest = std::max(latest, std::chrono::duration<double>(timed->chunks[i].second - timed->chunks[i].first).count());
    }
    QVERIFY2(gap > 1.5, qPrintable(QStringLiteral("the capture times leave a gap of %1 s").arg(gap)));
    // Every chunk was handed on a moment after it was captured.
    QVERIFY2(latest < 0.5, qPrintable(QStringLiteral("a chunk was handed on %1 s after it was captured").arg(latest)));
}

// The audio server drops every client (it restarted) and is back a moment later: capture
// takes up the default output again by itself, and nothing is reported.
void tst_SystemAudioCaptureService::resumesAfterTheAudioServerComesBack()
{
    const QString tone = TestAudio::makeTone(m_files.path(), QStringLiteral("after.wav"), 1000, 3.0, 48000, 2, -6);
    QVERIFY(!tone.isEmpty());
    auto collected = std::make_shared<Collected>();
    QStringList errors;
    SystemAudioCaptureService service(PulseAudioContext::shared());
    AudioStreamRecovery::Timings timings;
    timings.resumeTimeout = std::chrono::milliseconds(30000); // far beyond what this takes
    service.setRecoveryTimings(timings);
    service.setLiveAudioDataHandler([collected](const QByteArray &chunk, AudioCaptureTime) { collected->add(chunk); });
    service.setErrorHandler([&errors](const QString &message) { errors << message; });
    const auto started = runTask(service.startCapture());
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));

    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    {
        AudioServerOutage outage;
        QVERIFY(outage.isActive());
        QTRY_VERIFY(context->state() != PulseAudioContext::State::Ready);
        QVERIFY(outage.restore());
    }
    collected->clear();
    std::unique_ptr<QProcess> player = TestAudio::startPlaying(m_sink, tone);
    QTRY_VERIFY_WITH_TIMEOUT(firstLoud(collected->samples(), 0.05) != std::string::npos, 10000);
    player->waitForFinished(10000);
    QVERIFY(service.isCapturing());
    QCOMPARE(service.capturedSinkName(), m_sink);
    const auto stopped = runTask(service.stopCapture());
    QVERIFY2(stopped.succeeded(), qPrintable(stopped.errorText()));
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
}

// The audio server stays away past the resume time-out: the error handler hears of it on the
// main thread, once, and the stop reports the same failure instead of success.
void tst_SystemAudioCaptureService::reportsAudioThatDoesNotComeBack()
{
    QStringList errors;
    bool reportedOffMainThread = false;
    SystemAudioCaptureService service(PulseAudioContext::shared());
    AudioStreamRecovery::Timings timings;
    timings.resumeTimeout = std::chrono::milliseconds(300);
    timings.firstRetryDelay = std::chrono::milliseconds(20);
    service.setRecoveryTimings(timings);
    service.setErrorHandler([&](const QString &message) {
        reportedOffMainThread = reportedOffMainThread || QThread::currentThread() != QCoreApplication::instance()->thread();
        errors << message;
    });
    const auto started = runTask(service.startCapture());
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));
    {
        AudioServerOutage outage;
        QVERIFY(outage.isActive());
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 10000);
        QVERIFY(!reportedOffMainThread);
        QVERIFY(!errors.first().isEmpty());
        const auto stopped = runTask(service.stopCapture());
        const auto error = stopped.errorAs<SystemAudioCaptureError>();
        QVERIFY2(error, "the stop reported success for audio that was lost");
        QCOMPARE(error->message(), errors.first());
    }
    QCOMPARE(errors.size(), 1);
    // The next session starts as usual once the server is back.
    const auto again = runTask(service.startCapture());
    QVERIFY2(again.succeeded(), qPrintable(again.errorText()));
    QVERIFY(runTask(service.stopCapture()).succeeded());
}

QTEST_GUILESS_MAIN(tst_SystemAudioCaptureService)
#include "tst_SystemAudioCaptureService.moc"
