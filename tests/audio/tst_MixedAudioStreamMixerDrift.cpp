#include "audio/MixedAudioStreamMixer.h"
#include "platform/AudioArrivalClock.h"
#include "support/TaskResult.h"

#include <QtTest>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

namespace {

// A capture device on a clock of its own, read as a record stream reads it: fragments end at
// the device's pace, reach the process a little later (now and then a read is held up for half
// a second), and the arrival clock stamps them. Every sample of the system audio is 100, of the
// microphone 1000, so the mixed stream tells which device sounds at each place.
class SimulatedDevice
{
public:
    SimulatedDevice(bool microphone, double slowdown, double phase, unsigned seed)
        : m_microphone(microphone)
        , m_secondsPerSample((1.0 + slowdown) / 16000.0)
        , m_phase(phase)
        , m_random(seed)
        , m_chunk(fragment * 2, Qt::Uninitialized)
    {
        const qint16 value = microphone ? 1000 : 100;
        auto *samples = reinterpret_cast<qint16 *>(m_chunk.data());
        std::fill(samples, samples + fragment, value);
        m_clock.reset(16000 * 2);
        advance();
    }

    static constexpr qsizetype fragment = 1600;

    bool microphone() const { return m_microphone; }
    double arrival() const { return m_arrival; }
    qint64 deliveredSamples() const { return m_delivered; }

    // Hands the fragment that arrives next to the mixer.
    void deliver(MixedAudioStreamMixer &mixer, AudioCaptureTime origin)
    {
        const auto readAt = origin + std::chrono::nanoseconds(qint64(m_arrival * 1e9));
        m_clock.startRead(readAt, std::size_t(m_chunk.size()));
        const AudioCaptureTime capturedAt = m_clock.handOn(std::size_t(m_chunk.size()));
        if (m_microphone)
            mixer.appendMicrophoneAudio(m_chunk, capturedAt);
        else
            mixer.appendSystemAudio(m_chunk, capturedAt);
        m_delivered += fragment;
        advance();
    }

private:
    void advance()
    {
        const double end = m_phase + double(m_delivered + fragment) * m_secondsPerSample;
        std::uniform_real_distribution<double> delay(0.0, 0.015);
        double arrival = std::max(m_arrival, end + delay(m_random));
        // A read held up at the end of every ten minutes.
        const double heldUntil = std::ceil(end / 600.0) * 600.0;
        if (heldUntil - end < 0.5)
            arrival = std::max(arrival, heldUntil);
        m_arrival = arrival;
    }

    bool m_microphone;
    double m_secondsPerSample;
    double m_phase;
    std::mt19937 m_random;
    QByteArray m_chunk;
    AudioArrivalClock m_clock;
    qint64 m_delivered = 0;
    double m_arrival = 0;
};

// How much of each minute of the mixed stream each device sounds in.
struct Minutes
{
    static constexpr qint64 length = 60 * 16000;
    std::vector<qint64> system;
    std::vector<qint64> microphone;
    qint64 samples = 0;

    void count(const QByteArray &chunk)
    {
        // 0.95 × 100, 1.35 × 1000, and both.
        static const QByteArray both = [] {
            QByteArray filled(MixedAudioStreamMixer::chunkSampleCount * 2, Qt::Uninitialized);
            auto *samples = reinterpret_cast<qint16 *>(filled.data());
            std::fill(samples, samples + MixedAudioStreamMixer::chunkSampleCount, qint16(1445));
            return filled;
        }();
        const auto *samples = reinterpret_cast<const qint16 *>(chunk.constData());
        const qsizetype count = chunk.size() / 2;
        const auto minute = std::size_t(this->samples / length);
        if (system.size() <= minute) {
            system.resize(minute + 1);
            microphone.resize(minute + 1);
        }
        if (chunk.size() == both.size() && (this->samples + count) / length == qint64(minute)
            && std::memcmp(chunk.constData(), both.constData(), std::size_t(chunk.size())) == 0) {
            system[minute] += count;
            microphone[minute] += count;
            this->samples += count;
            return;
        }
        for (qsizetype i = 0; i < count; ++i, ++this->samples) {
            const auto at = std::size_t(this->samples / length);
            if (system.size() <= at) {
                system.resize(at + 1);
                microphone.resize(at + 1);
            }
            system[at] += samples[i] == 95 || samples[i] == 1445;
            microphone[at] += samples[i] == 1350 || samples[i] == 1445;
        }
    }
};

} // namespace

class tst_MixedAudioStreamMixerDrift : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bothDevicesStayForHoursWhateverTheirClocks_data();
    void bothDevicesStayForHoursWhateverTheirClocks();
};

// Two devices whose clocks disagree by up to half a percent, over a two-hour meeting: every
// minute of the stream keeps both of them, the stream runs as long as the meeting, and it never
// falls behind what has come by more than the wait for a stopped source.
void tst_MixedAudioStreamMixerDrift::bothDevicesStayForHoursWhateverTheirClocks_data()
{
    QTest::addColumn<double>("systemSlowdown");
    QTest::addColumn<double>("microphoneSlowdown");
    QTest::newRow("microphone 100 ppm slow") << 0.0 << 100e-6;
    QTest::newRow("microphone 0.5 % slow") << 0.0 << 0.005;
    QTest::newRow("microphone 0.5 % fast") << 0.0 << -0.005;
    QTest::newRow("system audio 100 ppm slow") << 100e-6 << 0.0;
    QTest::newRow("system audio 0.5 % slow") << 0.005 << 0.0;
}

void tst_MixedAudioStreamMixerDrift::bothDevicesStayForHoursWhateverTheirClocks()
{
    QFETCH(double, systemSlowdown);
    QFETCH(double, microphoneSlowdown);
    const double seconds = 2 * 3600;

    MixedAudioStreamMixer mixer;
    auto minutes = std::make_shared<Minutes>();
    mixer.setOutputHandler([minutes](QByteArray chunk) -> QCoro::Task<void> {
        minutes->count(chunk);
        co_return;
    });
    const AudioCaptureTime origin = AudioCaptureClock::now();
    SimulatedDevice system(false, systemSlowdown, 0.0, 1);
    // The microphone is taken up a moment after the computer's audio, as a session does.
    SimulatedDevice microphone(true, microphoneSlowdown, 0.3, 2);
    bool microphoneOpen = false;
    qint64 longestHold = 0;
    for (;;) {
        SimulatedDevice &next = system.arrival() <= microphone.arrival() ? system : microphone;
        if (next.arrival() > seconds)
            break;
        if (next.microphone() && !microphoneOpen)
            mixer.setMicrophoneEnabled(microphoneOpen = true);
        next.deliver(mixer, origin);
        longestHold = std::max(longestHold, system.deliveredSamples() - minutes->samples);
    }
    QVERIFY(runTask(mixer.drainRemainingAudio()).succeeded());

    QVERIFY2(longestHold <= MixedAudioStreamMixer::laneWaitSampleCount + 2 * MixedAudioStreamMixer::chunkSampleCount,
             qPrintable(QStringLiteral("held back %1 samples").arg(longestHold)));
    // The stream keeps real time: it is as long as the meeting, whatever the devices' clocks.
    const auto meeting = qint64(seconds * 16000);
    QVERIFY2(std::abs(minutes->samples - meeting) <= 3200,
             qPrintable(QStringLiteral("%1 samples for %2").arg(minutes->samples).arg(meeting)));
    // The first minute holds the microphone's start, the last is not whole.
    const std::size_t whole = std::size_t(minutes->samples / Minutes::length);
    QVERIFY(whole >= 118);
    for (std::size_t minute = 1; minute < whole; ++minute) {
        const double systemShare = double(minutes->system[minute]) / double(Minutes::length);
        const double microphoneShare = double(minutes->microphone[minute]) / double(Minutes::length);
        QVERIFY2(systemShare > 0.99 && microphoneShare > 0.99,
                 qPrintable(QStringLiteral("minute %1: system %2, microphone %3")
                                .arg(minute)
                                .arg(systemShare)
                                .arg(microphoneShare)));
    }
}

QTEST_GUILESS_MAIN(tst_MixedAudioStreamMixerDrift)
#include "tst_MixedAudioStreamMixerDrift.moc"
