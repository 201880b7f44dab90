#include "audio/MicrophoneCaptureError.h"
#include "audio/MicrophoneCaptureService.h"
#include "audio/MicrophoneLevelGate.h"
#include "platform/PulseAudioContext.h"
#include "support/AudioServerOutage.h"
#include "support/TaskResult.h"
#include "support/TestAudio.h"

#include <QCollator>
#include <QProcess>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <mutex>

namespace {

// What the handlers report, in the order they report it (on the capture thread).
struct Events
{
    struct Event
    {
        bool isLevel = false;
        double level = 0;
        QByteArray chunk;
        AudioCaptureTime capturedAt;
    };

    std::mutex mutex;
    std::vector<Event> events;
    bool onMainThread = false;
    QStringList errors;

    void note(Event event)
    {
        std::lock_guard lock(mutex);
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            onMainThread = true;
        events.push_back(std::move(event));
    }
    std::size_t levelCount()
    {
        std::lock_guard lock(mutex);
        return std::size_t(std::count_if(events.begin(), events.end(), [](const Event &e) { return e.isLevel; }));
    }
    std::vector<Event> snapshot()
    {
        std::lock_guard lock(mutex);
        return events;
    }
};

void attach(MicrophoneCaptureService &service, const std::shared_ptr<Events> &events)
{
    service.setLevelHandler([events](double level) { events->note({true, level, {}}); });
    service.setLiveAudioDataHandler([events](const QByteArray &chunk, AudioCaptureTime capturedAt) {
        events->note({false, 0, chunk, capturedAt});
    });
    service.setErrorHandler([events](const QString &message) {
        std::lock_guard lock(events->mutex);
        events->errors << message;
    });
}

// One 10 ms block as the handlers saw it: its level, whether it passed the gate and its share
// of the chunk that carried it.
struct Block
{
    double level = 0;
    bool passed = false;
    qsizetype chunkSamples = 0;
    int chunk = -1; // which chunk carried it
};

struct Blocks
{
    std::vector<Block> blocks;
    int chunks = 0;
    bool consistent = true; // no chunk carried more than the blocks metered since the last one
};

// A chunk carries the blocks metered just before it, about 160 samples (10 ms at 16 kHz) each.
Blocks blocksOf(const std::vector<Events::Event> &events)
{
    Blocks result;
    std::vector<Block> &blocks = result.blocks;
    std::size_t carried = 0;
    for (const Events::Event &event : events) {
        if (event.isLevel) {
            blocks.push_back(Block{event.level, false, 0});
            continue;
        }
        const qsizetype samples = event.chunk.size() / 2;
        // Less than half a block is the end of the run before: what the resampler still held of
        // it when the gate shut.
        if (samples < 80)
            continue;
        const std::size_t count = std::size_t(std::max(1, qRound(double(samples) / 160.0)));
        if (count > blocks.size() - carried) {
            result.consistent = false;
            continue;
        }
        for (std::size_t i = blocks.size() - count; i < blocks.size(); ++i) {
            blocks[i].passed = true;
            blocks[i].chunkSamples = samples / qsizetype(count);
            blocks[i].chunk = result.chunks;
        }
        carried = blocks.size();
        ++result.chunks;
    }
    return result;
}

} // namespace

class tst_MicrophoneCaptureService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void offersInputsButNeverAMonitor();
    void neverChoosesAMonitorAsDefault();
    void gateOpensOnSoundHoldsAndCloses();
    void missingDeviceFallsBackToTheDefault();
    void noInputDeviceIsNoMatterOfPermission();
    void resumesAfterTheAudioServerComesBack();
    void reportsAMicrophoneThatDoesNotComeBack();

private:
    QString m_feed;
    QString m_source;
    QTemporaryDir m_files;
};

void tst_MicrophoneCaptureService::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: these tests need the private PulseAudio of scripts/with-test-services");
    m_feed = qEnvironmentVariable("KAVREL_TEST_PULSE_MIC_FEED");
    m_source = qEnvironmentVariable("KAVREL_TEST_PULSE_MIC_SOURCE");
    QVERIFY(!m_feed.isEmpty() && !m_source.isEmpty());
    QVERIFY(m_files.isValid());
}

void tst_MicrophoneCaptureService::offersInputsButNeverAMonitor()
{
    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    // The list is read from the cache, which fills once the server has answered.
    QTRY_VERIFY(!MicrophoneCaptureService::availableDevices(*context).empty());
    const std::vector<MicrophoneInputDevice> devices = MicrophoneCaptureService::availableDevices(*context);
    QVERIFY(std::any_of(devices.begin(), devices.end(), [this](const MicrophoneInputDevice &device) {
        return device.id == m_source && device.name == QStringLiteral("Kavrel-Test-Microphone");
    }));

    const std::optional<QString> sources = TestAudio::pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")});
    QVERIFY(sources);
    QStringList monitors;
    for (const QString &line : sources->split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString name = line.section(QLatin1Char('\t'), 1, 1);
        if (name.endsWith(QStringLiteral(".monitor")))
            monitors << name;
    }
    QVERIFY(monitors.size() >= 2);
    for (const MicrophoneInputDevice &device : devices)
        QVERIFY2(!monitors.contains(device.id), qPrintable(device.id));

    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QVERIFY(std::is_sorted(devices.begin(), devices.end(), [&](const auto &a, const auto &b) {
        return collator.compare(a.name, b.name) < 0;
    }));
    QCOMPARE(MicrophoneCaptureService::defaultDeviceID(*context), std::optional<QString>(m_source));
}

// A machine without a microphone often has a monitor as its default source; that is never
// taken for a microphone.
void tst_MicrophoneCaptureService::neverChoosesAMonitorAsDefault()
{
    const QString monitor = qEnvironmentVariable("KAVREL_TEST_PULSE_SINK") + QStringLiteral(".monitor");
    QVERIFY(TestAudio::pactl({QStringLiteral("set-default-source"), monitor}));
    struct Restore
    {
        QString source;
        ~Restore() { TestAudio::pactl({QStringLiteral("set-default-source"), source}); }
    } restore{m_source};

    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    QTRY_COMPARE(context->serverInfo().defaultSourceName, monitor);
    const std::vector<MicrophoneInputDevice> devices = MicrophoneCaptureService::availableDevices(*context);
    QVERIFY(!devices.empty());
    QCOMPARE(MicrophoneCaptureService::defaultDeviceID(*context), std::optional<QString>(devices.front().id));
}

// A tone through the microphone: every block is metered; loud blocks pass the gate, ten
// quiet blocks after the last loud one still pass, then the gate closes.
void tst_MicrophoneCaptureService::gateOpensOnSoundHoldsAndCloses()
{
    const QString dir = m_files.path();
    const QString tone = TestAudio::makeTone(dir, QStringLiteral("tone.wav"), 1000, 0.5, 44100, 2, -6);
    const QString quiet = TestAudio::makeSilence(dir, QStringLiteral("quiet.wav"), 0.5, 44100, 2);
    QVERIFY(!tone.isEmpty() && !quiet.isEmpty());
    const QString program = TestAudio::concatenate(dir, QStringLiteral("program.wav"), {tone, quiet});

    auto events = std::make_shared<Events>();
    MicrophoneCaptureService service(PulseAudioContext::shared());
    attach(service, events);
    const auto started = runTask(service.startCapture(m_source));
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));
    QVERIFY(service.isCapturing());
    QTRY_VERIFY_WITH_TIMEOUT(events->levelCount() > 5, 5000);
    QVERIFY(TestAudio::playInto(m_feed, program));
    QTest::qWait(300);
    QVERIFY(runTask(service.stopCapture()).succeeded());
    QVERIFY(!service.isCapturing());

    const std::vector<Events::Event> all = events->snapshot();
    QVERIFY(!events->onMainThread);
    QVERIFY2(events->errors.isEmpty(), qPrintable(events->errors.join(QLatin1Char('\n'))));
    QVERIFY(all.back().isLevel);
    QCOMPARE(all.back().level, 0.0);

    const Blocks seen = blocksOf(std::vector<Events::Event>(all.begin(), all.end() - 1));
    QVERIFY(seen.consistent);
    const std::vector<Block> &blocks = seen.blocks;
    std::vector<std::size_t> loud;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (blocks[i].level >= MicrophoneLevelGate::gateThreshold)
            loud.push_back(i);
    }
    QVERIFY2(loud.size() >= 45 && loud.size() <= 52, qPrintable(QString::number(loud.size())));
    const std::size_t first = loud.front();
    const std::size_t last = loud.back();
    QCOMPARE(last - first + 1, loud.size()); // one run of sound

    // Before the sound nothing passes.
    for (std::size_t i = 0; i < first; ++i)
        QVERIFY(!blocks[i].passed);
    // The level follows the signal: a sine at -6 dBFS reads about -9 dB, silence 0.
    std::vector<double> levels;
    for (std::size_t i : loud) {
        QVERIFY(blocks[i].passed);
        levels.push_back(blocks[i].level);
    }
    std::nth_element(levels.begin(), levels.begin() + qsizetype(levels.size() / 2), levels.end());
    QVERIFY2(std::abs(levels[levels.size() / 2] - 0.8495) < 0.03, qPrintable(QString::number(levels[levels.size() / 2])));
    // The hang: ten more blocks, then the gate is shut.
    QVERIFY(blocks.size() > last + 20);
    for (std::size_t i = last + 1; i <= last + 10; ++i) {
        QVERIFY2(blocks[i].passed, qPrintable(QString::number(i - last)));
        QCOMPARE(blocks[i].level, 0.0);
    }
    for (std::size_t i = last + 11; i < blocks.size(); ++i)
        QVERIFY2(!blocks[i].passed, qPrintable(QString::number(i - last)));
    // Each passed block gives about 10 ms at 16 kHz, and the blocks that pass together within
    // a 40 ms fragment travel as one chunk, not one chunk each.
    for (std::size_t i = first + 1; i <= last + 10; ++i)
        // (The chunk that ends the run also carries what the resampler still held, a few samples.)
        QVERIFY2(blocks[i].chunkSamples >= 150 && blocks[i].chunkSamples <= (blocks[i].chunk == blocks[last + 10].chunk ? 200 : 170),
                 qPrintable(QString::number(blocks[i].chunkSamples)));
    const qsizetype passed = std::count_if(blocks.begin(), blocks.end(), [](const Block &b) { return b.passed; });
    QVERIFY2(seen.chunks * 3 <= passed, qPrintable(QStringLiteral("%1 chunks for %2 blocks").arg(seen.chunks).arg(passed)));
    // The chunks of the one run of sound follow each other by their own length in capture time,
    // the last as well, though the blocks shut out after it end its fragment later.
    std::vector<std::pair<qsizetype, AudioCaptureTime>> chunks;
    for (const Events::Event &event : all) {
        if (!event.isLevel && !event.chunk.isEmpty())
            chunks.emplace_back(event.chunk.size() / 2, event.capturedAt);
    }
    for (std::size_t i = 1; i < chunks.size(); ++i) {
        const double apart = std::chrono::duration<double>(chunks[i].second - chunks[i - 1].second).count();
        const double length = double(chunks[i].first) / 16000.0;
        QVERIFY2(std::abs(apart - length) < 0.008,
                 qPrintable(QStringLiteral("chunk %1 of %2 s came %3 s after the one before").arg(i).arg(length).arg(apart)));
    }
    // While the gate is shut, empty chunks tell how far the quiet reaches: before the sound and
    // after the run, never inside it, each later than what was handed on before it (the
    // resampler's tail of a run ends with the run).
    std::optional<AudioCaptureTime> previous;
    int quietBefore = 0;
    int quietAfter = 0;
    for (const Events::Event &event : all) {
        if (event.isLevel)
            continue;
        if (previous)
            QVERIFY2(event.chunk.isEmpty() ? event.capturedAt > *previous : event.capturedAt >= *previous,
                     qPrintable(QStringLiteral("a chunk of %1 samples came %2 µs after the one before")
                                    .arg(event.chunk.size() / 2)
                                    .arg(std::chrono::duration_cast<std::chrono::microseconds>(event.capturedAt - *previous).count())));
        previous = event.capturedAt;
        if (!event.chunk.isEmpty())
            QVERIFY2(quietAfter == 0, "audio came after the run's quiet");
        else
            ++(event.capturedAt < chunks.front().second ? quietBefore : quietAfter);
    }
    QVERIFY2(quietBefore > 0 && quietAfter > 0, qPrintable(QStringLiteral("%1 quiet before, %2 after").arg(quietBefore).arg(quietAfter)));
}

void tst_MicrophoneCaptureService::missingDeviceFallsBackToTheDefault()
{
    auto events = std::make_shared<Events>();
    MicrophoneCaptureService service(PulseAudioContext::shared());
    attach(service, events);

    // Stopping while stopped only reports a silent meter.
    QVERIFY(runTask(service.stopCapture()).succeeded());
    QCOMPARE(events->levelCount(), std::size_t(1));

    const auto started = runTask(service.startCapture(QStringLiteral("kavrel_unplugged_microphone")));
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));
    QTRY_VERIFY_WITH_TIMEOUT(events->levelCount() > 10, 5000);
    const auto again = runTask(service.startCapture(std::nullopt)).errorAs<MicrophoneCaptureError>();
    QVERIFY2(again, "a second start was accepted");
    QCOMPARE(again->errorCase(), MicrophoneCaptureError::Case::alreadyCapturing);
    QCOMPARE(again->message(), QStringLiteral("Microphone capture is already running."));
    QVERIFY(runTask(service.stopCapture()).succeeded());
    const std::size_t afterStop = events->snapshot().size();
    QTest::qWait(100);
    QCOMPARE(events->snapshot().size(), afterStop);
    QCOMPARE(events->snapshot().back().level, 0.0);
}

// A machine without any input: the microphone is unavailable, not refused.
void tst_MicrophoneCaptureService::noInputDeviceIsNoMatterOfPermission()
{
    // The test microphone is the only input; take it away for this test.
    const std::optional<QString> modules = TestAudio::pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")});
    QVERIFY(modules);
    QString index;
    QString arguments;
    for (const QString &line : modules->split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() >= 3 && fields.at(1) == QStringLiteral("module-remap-source") && fields.at(2).contains(m_source)) {
            index = fields.at(0);
            arguments = fields.at(2);
        }
    }
    QVERIFY2(!index.isEmpty(), "the test microphone's module was not found");
    QVERIFY(TestAudio::pactl({QStringLiteral("unload-module"), index}));
    struct Restore
    {
        QString arguments;
        QString source;
        ~Restore()
        {
            QStringList load{QStringLiteral("load-module"), QStringLiteral("module-remap-source")};
            load << QProcess::splitCommand(arguments);
            TestAudio::pactl(load);
            TestAudio::pactl({QStringLiteral("set-default-source"), source});
        }
    } restore{arguments, m_source};

    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    QTRY_VERIFY(!context->sourceNamed(m_source));
    QVERIFY(MicrophoneCaptureService::availableDevices(*context).empty());
    MicrophoneCaptureService service(context);
    const auto error = runTask(service.startCapture(std::nullopt)).errorAs<MicrophoneCaptureError>();
    QVERIFY2(error, "capture started without an input");
    QCOMPARE(error->errorCase(), MicrophoneCaptureError::Case::selectedDeviceUnavailable);
    QCOMPARE(error->message(), QStringLiteral("The selected microphone is not available."));
    QVERIFY(!service.isCapturing());
}

// The audio server drops every client (it restarted) and is back a moment later: the
// microphone is captured again by itself, and nothing is reported.
void tst_MicrophoneCaptureService::resumesAfterTheAudioServerComesBack()
{
    const QString tone = TestAudio::makeTone(m_files.path(), QStringLiteral("after.wav"), 1000, 3.0, 44100, 2, -6);
    QVERIFY(!tone.isEmpty());
    auto events = std::make_shared<Events>();
    MicrophoneCaptureService service(PulseAudioContext::shared());
    AudioStreamRecovery::Timings timings;
    timings.resumeTimeout = std::chrono::milliseconds(30000); // far beyond what this takes
    service.setRecoveryTimings(timings);
    attach(service, events);
    const auto started = runTask(service.startCapture(m_source));
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));
    QTRY_VERIFY_WITH_TIMEOUT(events->levelCount() > 5, 5000);

    std::shared_ptr<PulseAudioContext> context = PulseAudioContext::shared();
    {
        AudioServerOutage outage;
        QVERIFY(outage.isActive());
        QTRY_VERIFY(context->state() != PulseAudioContext::State::Ready);
        QVERIFY(outage.restore());
    }
    const std::size_t before = events->snapshot().size();
    std::unique_ptr<QProcess> player = TestAudio::startPlaying(m_feed, tone);
    const auto heardAgain = [&events, before] {
        const std::vector<Events::Event> all = events->snapshot();
        return std::any_of(all.begin() + qsizetype(before), all.end(),
                           [](const Events::Event &event) { return !event.isLevel && !event.chunk.isEmpty(); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(heardAgain(), 10000);
    player->waitForFinished(10000);
    QVERIFY(service.isCapturing());
    const auto stopped = runTask(service.stopCapture());
    QVERIFY2(stopped.succeeded(), qPrintable(stopped.errorText()));
    std::lock_guard lock(events->mutex);
    QVERIFY2(events->errors.isEmpty(), qPrintable(events->errors.join(QLatin1Char('\n'))));
}

// The audio server stays away past the resume time-out: the error handler hears of it once, in
// words, and the stop does not tell it again.
void tst_MicrophoneCaptureService::reportsAMicrophoneThatDoesNotComeBack()
{
    auto events = std::make_shared<Events>();
    MicrophoneCaptureService service(PulseAudioContext::shared());
    AudioStreamRecovery::Timings timings;
    timings.resumeTimeout = std::chrono::milliseconds(300);
    timings.firstRetryDelay = std::chrono::milliseconds(20);
    service.setRecoveryTimings(timings);
    attach(service, events);
    const auto started = runTask(service.startCapture(m_source));
    QVERIFY2(started.succeeded(), qPrintable(started.errorText()));
    const auto errorCount = [&events] {
        std::lock_guard lock(events->mutex);
        return events->errors.size();
    };
    {
        AudioServerOutage outage;
        QVERIFY(outage.isActive());
        QTRY_COMPARE_WITH_TIMEOUT(errorCount(), 1, 10000);
        const auto stopped = runTask(service.stopCapture());
        QVERIFY2(stopped.succeeded(), qPrintable(stopped.errorText()));
        std::lock_guard lock(events->mutex);
        const QString told = events->errors.first();
        QVERIFY2(told.startsWith(QStringLiteral("Microphone capture failed: ")) && !told.contains(QStringLiteral("OSStatus")),
                 qPrintable(told));
    }
    QTest::qWait(50);
    QCOMPARE(errorCount(), 1);
    const auto again = runTask(service.startCapture(m_source));
    QVERIFY2(again.succeeded(), qPrintable(again.errorText()));
    QVERIFY(runTask(service.stopCapture()).succeeded());
}

QTEST_GUILESS_MAIN(tst_MicrophoneCaptureService)
#include "tst_MicrophoneCaptureService.moc"
