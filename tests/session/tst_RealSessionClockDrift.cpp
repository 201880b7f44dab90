// A session on the real components with a microphone whose clock runs slow: a pipe source of the
// private audio server, fed by a pacer 0.5 % slower than its nominal rate (real devices stray by
// far less, but over hours). The microphone's steady tone stays in the recording to the end, as
// the computer's audio goes on beside it.

#include "session/MeetingHistoryMirror.h"
#include "session/BillingUsageReporter.h"
#include "session/SessionCompanionSet.h"
#include "support/RealSessionRig.h"
#include "support/TestAudio.h"

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>
#include <optional>
#include <thread>
#include <vector>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int pipeRate = 48000;
constexpr double toneFrequency = 330;

// Writes a steady tone into a pipe source at its nominal rate slowed by `slowdown`, in 10 ms
// blocks, until it is destroyed. While the source is idle (nobody records) its pipe fills up, and
// what does not fit is dropped rather than waited for.
class SlowPacer
{
public:
    SlowPacer(const QString &pipe, double slowdown)
    {
        m_thread = std::thread([this, path = pipe.toStdString(), slowdown] { run(path, slowdown); });
    }
    ~SlowPacer()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    void run(const std::string &path, double slowdown)
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
        if (fd < 0)
            return;
        constexpr int block = pipeRate / 100;
        const auto period = std::chrono::duration<double>(0.01 * (1.0 + slowdown));
        const auto start = std::chrono::steady_clock::now();
        std::vector<qint16> samples(block);
        qint64 written = 0;
        for (qint64 n = 0; !m_stop; ++n) {
            for (int i = 0; i < block; ++i, ++written)
                samples[std::size_t(i)] = qint16(8000 * std::sin(2 * std::numbers::pi * toneFrequency * double(written) / pipeRate));
            if (::write(fd, samples.data(), samples.size() * 2) < 0 && errno != EAGAIN)
                break;
            std::this_thread::sleep_until(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(period * double(n + 1)));
        }
        ::close(fd);
    }

    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

} // namespace

class tst_RealSessionClockDrift final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void aSlowMicrophoneStaysInTheRecording();

private:
    QTemporaryDir m_files;
};

void tst_RealSessionClockDrift::initTestCase()
{
    if (!qEnvironmentVariableIsSet("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: this test needs the private PulseAudio of scripts/with-test-services");
    QVERIFY(m_files.isValid());
}

void tst_RealSessionClockDrift::aSlowMicrophoneStaysInTheRecording()
{
    // Before the clocks were followed, the slow microphone fell out of the mix after 50 s.
    const double listenSeconds = 55;
    const QString source = QStringLiteral("kavrel_slow_mic");
    const QString pipe = m_files.filePath(QStringLiteral("slow_mic.fifo"));
    const std::optional<QString> module = TestAudio::pactl(
        {QStringLiteral("load-module"), QStringLiteral("module-pipe-source"), QStringLiteral("source_name=") + source,
         QStringLiteral("file=") + pipe, QStringLiteral("format=s16le"), QStringLiteral("rate=%1").arg(pipeRate),
         QStringLiteral("channels=1"), QStringLiteral("source_properties=device.description=Kavrel-Slow-Microphone")});
    QVERIFY(module);
    const auto unload = qScopeGuard([&module] { TestAudio::pactl({QStringLiteral("unload-module"), module->trimmed()}); });
    std::optional<SlowPacer> pacer;
    pacer.emplace(pipe, 0.005);

    RealSessionRig rig(m_files.filePath(QStringLiteral("drift.ini")));
    QVERIFY(rig.listening);
    SubtitleViewModel &model = rig.model;
    // The device is chosen from what the program lists, as a user chooses it.
    const auto listed = [&model, &source] {
        const QList<MicrophoneInputDevice> devices = model.availableMicrophones();
        return std::any_of(devices.begin(), devices.end(), [&source](const MicrophoneInputDevice &device) { return device.id == source; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(listed(), 10000);
    model.selectMicrophone(source);
    QCOMPARE(model.selectedMicrophoneID(), source);

    model.startListening(ListeningSessionStartMode::newSession, true);
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy(), 15000);
    QVERIFY2(!model.errorMessage(), qPrintable(model.errorMessage().value_or(QString())));
    QVERIFY(model.isMicrophoneListening());
    QTest::qWait(int(listenSeconds * 1000));
    model.stopActiveSession();
    QTRY_VERIFY_WITH_TIMEOUT(!model.isBusy() && model.status() == SubtitleStatus::stopped, 15000);
    pacer.reset();

    QVERIFY(model.lastRecordingPath());
    const TestAudio::ReadBack recording = TestAudio::readBack(*model.lastRecordingPath());
    QVERIFY(recording.opened && !recording.decodeError && recording.sampleRate > 0);
    QFile::remove(*model.lastRecordingPath());
    const double recordedSeconds = double(recording.decodedSamples) / recording.sampleRate;
    QVERIFY2(recordedSeconds > listenSeconds - 1, qPrintable(QString::number(recordedSeconds)));
    // Every quarter second of the recording, from the first whole second to the end, carries the
    // tone, the only sound played.
    const auto block = std::size_t(recording.sampleRate / 4);
    QStringList silent;
    for (std::size_t from = std::size_t(recording.sampleRate); from + block <= recording.samples.size(); from += block) {
        double power = 0;
        for (std::size_t i = from; i < from + block; ++i)
            power += double(recording.samples[i]) * double(recording.samples[i]);
        if (std::sqrt(power / double(block)) < 0.1)
            silent << QString::number(double(from) / recording.sampleRate, 'f', 2);
    }
    QVERIFY2(silent.isEmpty(), qPrintable(QStringLiteral("no tone at ") + silent.join(QStringLiteral(", ")) + QStringLiteral(" s")));

    const auto settled = [](const TaskHandle<void> &task) { return !task.isValid() || task.isFinished(); };
    QTRY_VERIFY_WITH_TIMEOUT(settled(model.companionSet()->history()->saveTask())
                                 && settled(model.companionSet()->billing()->syncTask()), 10000);
}

QTEST_GUILESS_MAIN(tst_RealSessionClockDrift)
#include "tst_RealSessionClockDrift.moc"
