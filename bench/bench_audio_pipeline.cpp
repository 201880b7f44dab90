// Measures the audio path of a listening session.
//
// 1. CPU time to take one hour of 48 kHz stereo float audio through the chunk encoder (to
//    16 kHz mono), the two-lane mixer and the M4A recorder, against ffmpeg doing the same job
//    in the same run (the child's CPU time): it reduces the channels as our converter does
//    (half of each), applies the mixer's system gain, resamples to 16-bit 16 kHz and encodes
//    with the recorder's AAC coder and bit rate, so both code the same signal the same way.
//    For reference also ffmpeg left to its defaults: its own stereo-to-mono reduction on its
//    float path and its default two-loop AAC coder.
// 2. The time from a fragment's capture to the mixer's output of the chunk it completes,
//    with a capture thread delivering fragments of the capture services' length (40 ms) in
//    real time through the processing worker and a queued hop to the main thread, as the
//    capture services do.
//
// Usage: bench_audio_pipeline [--minutes N] [--latency-seconds N]

#include "audio/AudioChunkEncoder.h"
#include "audio/CaptureStream.h"
#include "audio/LocalAudioRecordingService.h"
#include "audio/MixedAudioStreamMixer.h"
#include "base/SerialQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int sourceRate = 48000;
constexpr int sourceChannels = 2;
// Fragments as the capture services get them from the audio server.
constexpr int fragmentMilliseconds = int(CaptureStream::fragmentDuration.count());
constexpr int fragmentFrames = sourceRate / 1000 * fragmentMilliseconds;
constexpr int signalSeconds = 10;   // the input repeats this much signal

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Speech-like material: a few wandering tones over low noise, different in each channel.
std::vector<float> makeSignal()
{
    std::vector<float> signal(std::size_t(sourceRate) * signalSeconds * sourceChannels);
    std::mt19937 random(42);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    for (int frame = 0; frame < sourceRate * signalSeconds; ++frame) {
        const double t = double(frame) / sourceRate;
        const double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 3.1 * t);
        const double voice = envelope * (0.25 * std::sin(2 * M_PI * (180 + 40 * std::sin(2 * M_PI * 0.7 * t)) * t)
                                         + 0.12 * std::sin(2 * M_PI * 720 * t) + 0.06 * std::sin(2 * M_PI * 2400 * t));
        signal[std::size_t(frame) * 2] = float(voice) + noise(random);
        signal[std::size_t(frame) * 2 + 1] = float(0.8 * voice) + noise(random);
    }
    return signal;
}

AudioPCMBuffer fragmentAt(const std::vector<float> &signal, qint64 fragmentIndex)
{
    const qint64 fragmentsPerSignal = qint64(sourceRate) * signalSeconds / fragmentFrames;
    const qint64 offset = (fragmentIndex % fragmentsPerSignal) * fragmentFrames * sourceChannels;
    AudioPCMBuffer buffer;
    buffer.format = AudioFormat{double(sourceRate), sourceChannels, AudioCommonFormat::Float32, true};
    buffer.frameLength = fragmentFrames;
    buffer.buffers.emplace_back(reinterpret_cast<const char *>(signal.data() + offset),
                                qsizetype(fragmentFrames) * sourceChannels * qsizetype(sizeof(float)));
    return buffer;
}

struct PipelineResult
{
    double cpu = 0;
    double wall = 0;
    QString file;
};

PipelineResult runPipeline(const std::vector<float> &signal, int minutes)
{
    const qint64 fragments = qint64(minutes) * 60 * 1000 / fragmentMilliseconds;
    LocalAudioRecordingService recorder;
    // The input arrives far faster than real time, so the whole of it may wait for the
    // recorder's worker at once; the guard against a stalled disk must not end the run.
    recorder.setMaximumQueuedAudio(std::chrono::minutes(minutes + 1));
    recorder.startRecording(true);
    MixedAudioStreamMixer mixer;
    mixer.setOutputHandler([&recorder](QByteArray chunk) -> QCoro::Task<void> {
        co_await recorder.appendMixedAudio(std::move(chunk));
    });
    AudioChunkEncoder encoder;

    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    for (qint64 i = 0; i < fragments; ++i) {
        const QByteArray chunk = encoder.encodeAvailable(fragmentAt(signal, i));
        if (!chunk.isEmpty())
            mixer.appendSystemAudio(chunk);
    }
    QCoro::waitFor(mixer.drainRemainingAudio());
    std::optional<QUrl> url;
    try {
        url = QCoro::waitFor(recorder.finishRecording());
    } catch (const std::exception &error) {
        std::printf("recording failed: %s\n", error.what());
    }
    PipelineResult result;
    result.cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    result.wall = double(wall.elapsed()) / 1000.0;
    result.file = url ? url->toLocalFile() : QString();
    return result;
}

// The filter that makes ffmpeg's input to its encoder what the mixer hands our recorder.
QByteArray sameSignalFilter()
{
    const QByteArray gain = QByteArray::number(0.5 * MixedAudioStreamMixer::systemGain, 'g', 6);
    return "pan=mono|c0=" + gain + "*c0+" + gain + "*c1,aresample=16000,aformat=sample_fmts=s16";
}

// sameJob: the audio reduced and scaled as our pipeline does (sameSignalFilter) and coded with
// the recorder's AAC coder; otherwise ffmpeg's defaults.
PipelineResult runFfmpeg(const QString &rawSignal, int minutes, const QString &output, bool sameJob)
{
    const int loops = minutes * 60 / signalSeconds;
    const QByteArray loopCount = QByteArray::number(loops - 1);
    const QByteArray input = QFile::encodeName(rawSignal);
    const QByteArray outputPath = QFile::encodeName(output);
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    const QByteArray filter = sameJob ? sameSignalFilter() : QByteArray("anull");
    const char *coder = sameJob ? "fast" : "twoloop";
    const pid_t child = fork();
    if (child == 0) {
        execlp("ffmpeg", "ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-stream_loop", loopCount.constData(),
               "-f", "f32le", "-ar", "48000", "-ac", "2", "-i", input.constData(), "-af", filter.constData(), "-ar", "16000", "-ac",
               "1", "-c:a", "aac", "-aac_coder", coder, "-b:a", "96k", outputPath.constData(),
               static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    PipelineResult result;
    result.cpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    result.wall = double(wall.elapsed()) / 1000.0;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        result.file = output;
    return result;
}

struct LatencyResult
{
    std::vector<double> milliseconds;
};

// A capture thread delivers fragments on the real-time clock; a worker converts them;
// a queued hop carries each chunk to the mixer on the main thread.
LatencyResult measureLatency(const std::vector<float> &signal, int seconds)
{
    using Clock = std::chrono::steady_clock;
    LatencyResult result;
    MixedAudioStreamMixer mixer;
    Clock::time_point currentCapture;
    mixer.setOutputHandler([&](QByteArray) -> QCoro::Task<void> {
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - currentCapture).count();
        result.milliseconds.push_back(ms);
        co_return;
    });

    auto worker = std::make_unique<SerialQueue>(QStringLiteral("bench.processing"));
    AudioChunkEncoder encoder;
    QEventLoop loop;
    std::thread capture([&] {
        const Clock::time_point start = Clock::now();
        const qint64 fragments = qint64(seconds) * 1000 / fragmentMilliseconds;
        for (qint64 i = 0; i < fragments; ++i) {
            std::this_thread::sleep_until(start + CaptureStream::fragmentDuration * (i + 1));
            const Clock::time_point captured = Clock::now();
            AudioPCMBuffer fragment = fragmentAt(signal, i);
            worker->async([&, fragment = std::move(fragment), captured] {
                const QByteArray chunk = encoder.encodeAvailable(fragment);
                if (chunk.isEmpty())
                    return;
                QMetaObject::invokeMethod(
                    &mixer,
                    [&mixer, &currentCapture, chunk, captured] {
                        currentCapture = captured;
                        mixer.appendSystemAudio(chunk);
                    },
                    Qt::QueuedConnection);
            });
        }
        // Queued behind the last fragment's hop, once the worker has handed it on.
        worker->async([&loop] { QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection); });
    });
    loop.exec();
    capture.join();
    worker.reset();
    QCoreApplication::processEvents();
    return result;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t index = std::min(values.size() - 1, std::size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    int minutes = 60;
    int latencySeconds = 10;
    const QStringList arguments = application.arguments();
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--minutes"))
            minutes = std::max(1, arguments[i + 1].toInt());
        else if (arguments[i] == QLatin1String("--latency-seconds"))
            latencySeconds = std::max(1, arguments[i + 1].toInt());
    }

    // Recordings go to a throw-away Downloads folder.
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 1;
    const QString config = scratch.filePath(QStringLiteral("config"));
    QDir().mkpath(config);
    QFile userDirs(config + QStringLiteral("/user-dirs.dirs"));
    if (userDirs.open(QIODevice::WriteOnly)) {
        userDirs.write("XDG_DOWNLOAD_DIR=\"" + scratch.filePath(QStringLiteral("Downloads")).toUtf8() + "\"\n");
        userDirs.close();
    }
    qputenv("XDG_CONFIG_HOME", config.toUtf8());

    const std::vector<float> signal = makeSignal();
    const QString rawSignal = scratch.filePath(QStringLiteral("signal.f32"));
    {
        QFile raw(rawSignal);
        if (!raw.open(QIODevice::WriteOnly))
            return 1;
        raw.write(reinterpret_cast<const char *>(signal.data()), qint64(signal.size() * sizeof(float)));
    }

    std::printf("input: %d min of 48 kHz stereo float, %d ms fragments\n", minutes, fragmentMilliseconds);
    std::fflush(stdout);
    const PipelineResult ours = runPipeline(signal, minutes);
    std::printf("kavrel  encoder+mixer+recorder: cpu %8.2f s   wall %8.2f s   %s\n", ours.cpu, ours.wall,
                ours.file.isEmpty() ? "NO FILE" : "m4a written");
    std::fflush(stdout);
    const PipelineResult ffmpeg = runFfmpeg(rawSignal, minutes, scratch.filePath(QStringLiteral("ffmpeg.m4a")), true);
    std::printf("ffmpeg  the same job to m4a:    cpu %8.2f s   wall %8.2f s   %s\n", ffmpeg.cpu, ffmpeg.wall,
                ffmpeg.file.isEmpty() ? "FAILED" : "m4a written");
    std::fflush(stdout);
    const PipelineResult ffmpegOwn
        = runFfmpeg(rawSignal, minutes, scratch.filePath(QStringLiteral("ffmpeg-own.m4a")), false);
    std::printf("ffmpeg  its defaults:           cpu %8.2f s   wall %8.2f s   %s\n", ffmpegOwn.cpu, ffmpegOwn.wall,
                ffmpegOwn.file.isEmpty() ? "FAILED" : "m4a written");
    if (ffmpeg.cpu > 0 && ffmpegOwn.cpu > 0) {
        std::printf("cpu ratio kavrel/ffmpeg: %.3f   (against ffmpeg's defaults: %.3f)\n", ours.cpu / ffmpeg.cpu,
                    ours.cpu / ffmpegOwn.cpu);
    }
    std::fflush(stdout);

    const LatencyResult latency = measureLatency(signal, latencySeconds);
    std::printf("capture -> mixer output (%zu chunks over %d s real time): median %.3f ms   p95 %.3f ms   max %.3f ms\n",
                latency.milliseconds.size(), latencySeconds, percentile(latency.milliseconds, 0.5),
                percentile(latency.milliseconds, 0.95), percentile(latency.milliseconds, 1.0));
    return ours.file.isEmpty() || ffmpeg.file.isEmpty() || ffmpegOwn.file.isEmpty() ? 1 : 0;
}
