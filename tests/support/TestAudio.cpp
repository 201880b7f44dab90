#include "support/TestAudio.h"

#include <QDir>
#include <QProcess>
#include <QtGlobal>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace TestAudio {

bool run(const QString &program, const QStringList &arguments, int timeoutMilliseconds)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        qWarning().noquote() << "could not start" << program;
        return false;
    }
    if (!process.waitForFinished(timeoutMilliseconds)) {
        process.kill();
        process.waitForFinished();
        qWarning().noquote() << program << "timed out";
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning().noquote() << program << arguments.join(QLatin1Char(' ')) << "failed:"
                             << QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    return true;
}

QString makeTone(const QString &directory, const QString &name, double frequency, double seconds, int sampleRate,
                 int channels, double levelDb)
{
    const QString path = QDir(directory).filePath(name);
    const bool ok = run(QStringLiteral("sox"),
                        {QStringLiteral("-n"), QStringLiteral("-r"), QString::number(sampleRate), QStringLiteral("-c"),
                         QString::number(channels), QStringLiteral("-b"), QStringLiteral("16"), path,
                         QStringLiteral("synth"), QString::number(seconds), QStringLiteral("sine"),
                         QString::number(frequency), QStringLiteral("gain"), QString::number(levelDb)});
    return ok ? path : QString();
}

QString makeSilence(const QString &directory, const QString &name, double seconds, int sampleRate, int channels)
{
    const QString path = QDir(directory).filePath(name);
    const bool ok = run(QStringLiteral("sox"),
                        {QStringLiteral("-n"), QStringLiteral("-r"), QString::number(sampleRate), QStringLiteral("-c"),
                         QString::number(channels), QStringLiteral("-b"), QStringLiteral("16"), path,
                         QStringLiteral("trim"), QStringLiteral("0"), QString::number(seconds)});
    return ok ? path : QString();
}

QString makeSpeech(const QString &directory, const QString &name, const QString &text, int sampleRate, int channels)
{
    const QString raw = QDir(directory).filePath(QStringLiteral("espeak-") + name);
    if (!run(QStringLiteral("espeak-ng"), {QStringLiteral("-w"), raw, text}))
        return QString();
    const QString path = QDir(directory).filePath(name);
    const bool ok = run(QStringLiteral("sox"),
                        {raw, QStringLiteral("-r"), QString::number(sampleRate), QStringLiteral("-c"),
                         QString::number(channels), QStringLiteral("-b"), QStringLiteral("16"), path});
    return ok ? path : QString();
}

QString concatenate(const QString &directory, const QString &name, const QStringList &files)
{
    const QString path = QDir(directory).filePath(name);
    QStringList arguments = files;
    arguments << path;
    return run(QStringLiteral("sox"), arguments) ? path : QString();
}

double durationOf(const QString &file)
{
    QProcess process;
    process.start(QStringLiteral("soxi"), {QStringLiteral("-D"), file});
    process.waitForFinished(10000);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed().toDouble();
}

bool playInto(const QString &sink, const QString &file)
{
    return run(QStringLiteral("paplay"), {QStringLiteral("--device=") + sink, file}, 120000);
}

std::unique_ptr<QProcess> startPlaying(const QString &sink, const QString &file)
{
    auto process = std::make_unique<QProcess>();
    process->start(QStringLiteral("paplay"), {QStringLiteral("--device=") + sink, file});
    process->waitForStarted(10000);
    return process;
}

std::optional<QString> pactl(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("pactl"), arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0) {
        qWarning().noquote() << "pactl" << arguments.join(QLatin1Char(' ')) << "failed:"
                             << QString::fromLocal8Bit(process.readAllStandardError());
        return std::nullopt;
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

std::vector<qint16> samplesOf(const QByteArray &chunk)
{
    std::vector<qint16> samples(std::size_t(chunk.size() / 2));
    if (!samples.empty())
        std::memcpy(samples.data(), chunk.constData(), samples.size() * 2);
    return samples;
}

std::vector<qint16> samplesOf(const QList<QByteArray> &chunks)
{
    QByteArray all;
    for (const QByteArray &chunk : chunks)
        all += chunk;
    return samplesOf(all);
}

std::vector<qint16> samplesOf(const std::vector<float> &decoded)
{
    std::vector<qint16> samples;
    samples.reserve(decoded.size());
    for (float sample : decoded)
        samples.push_back(qint16(std::clamp(sample, -1.0f, 1.0f) * 32767.0f));
    return samples;
}

QByteArray chunkOf(const std::vector<qint16> &samples)
{
    return QByteArray(reinterpret_cast<const char *>(samples.data()), qsizetype(samples.size() * 2));
}

double toneShare(const float *samples, std::size_t count, double sampleRate, double frequency)
{
    if (count == 0)
        return 0;
    // Goertzel: the power of one DFT bin, compared with the power of the whole block.
    const double omega = 2.0 * M_PI * frequency / sampleRate;
    const double coefficient = 2.0 * std::cos(omega);
    double s1 = 0;
    double s2 = 0;
    double total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = samples[i];
        total += x * x;
        const double s0 = x + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double binPower = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    if (total <= 0)
        return 0;
    // A pure sine of N samples puts N²/4·A² into its bin and N·A²/2 into the block.
    return (binPower / (double(count) * double(count) / 4.0)) / (2.0 * total / double(count));
}

double toneShare(const std::vector<qint16> &samples, std::size_t from, std::size_t count, double sampleRate,
                 double frequency)
{
    if (from >= samples.size())
        return 0;
    count = std::min(count, samples.size() - from);
    std::vector<float> values(count);
    for (std::size_t i = 0; i < count; ++i)
        values[i] = float(samples[from + i]) / 32768.0f;
    return toneShare(values.data(), count, sampleRate, frequency);
}

double rms(const std::vector<qint16> &samples, std::size_t from, std::size_t count)
{
    if (from >= samples.size())
        return 0;
    count = std::min(count, samples.size() - from);
    if (count == 0)
        return 0;
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = samples[from + i] / 32768.0;
        sum += x * x;
    }
    return std::sqrt(sum / double(count));
}

int peak(const std::vector<qint16> &samples)
{
    int largest = 0;
    for (qint16 sample : samples)
        largest = std::max(largest, std::abs(int(sample)));
    return largest;
}

qint64 toneOnset(const std::vector<qint16> &samples, double sampleRate, double frequency)
{
    const std::size_t window = std::size_t(sampleRate / 10);
    for (std::size_t at = 0; at + window <= samples.size(); at += window / 2) {
        if (rms(samples, at, window) > 0.05 && toneShare(samples, at, window, sampleRate, frequency) > 0.8)
            return qint64(at);
    }
    return -1;
}

namespace {

// Whether the tone is loud and carries most of the power in the 20 ms window at `at`.
bool toneHeardAt(const std::vector<float> &samples, std::size_t at, std::size_t window, double sampleRate,
                 double frequency)
{
    double power = 0;
    for (std::size_t i = at; i < at + window; ++i)
        power += double(samples[i]) * double(samples[i]);
    return std::sqrt(power / double(window)) > 0.05 && toneShare(samples.data() + at, window, sampleRate, frequency) >= 0.4;
}

} // namespace

std::vector<double> toneBurstOnsets(const std::vector<float> &samples, double sampleRate, double frequency,
                                    double quietSeconds)
{
    std::vector<double> onsets;
    const std::size_t window = std::size_t(sampleRate / 50);
    double lastHeard = -quietSeconds;
    for (std::size_t at = 0; at + window <= samples.size(); at += window) {
        if (!toneHeardAt(samples, at, window, sampleRate, frequency))
            continue;
        const double seconds = double(at) / sampleRate;
        if (seconds - lastHeard >= quietSeconds)
            onsets.push_back(seconds);
        lastHeard = seconds;
    }
    return onsets;
}

double toneBurstEnd(const std::vector<float> &samples, double sampleRate, double frequency, double onset)
{
    const std::size_t window = std::size_t(sampleRate / 50);
    auto at = std::size_t(std::max(0.0, onset * sampleRate));
    while (at + window <= samples.size() && toneHeardAt(samples, at, window, sampleRate, frequency))
        at += window;
    return double(at) / sampleRate;
}

namespace {

template<typename Sample>
double quietFromOf(const std::vector<Sample> &samples, double sampleRate, double from, double level)
{
    const auto run = std::size_t(sampleRate / 2);
    std::size_t quiet = 0;
    for (auto i = std::size_t(std::max(0.0, from * sampleRate)); i < samples.size(); ++i) {
        quiet = std::abs(double(samples[i])) <= level ? quiet + 1 : 0;
        if (quiet == run)
            return double(i + 1 - run) / sampleRate;
    }
    return -1;
}

template<typename Sample>
QString soundInOf(const std::vector<Sample> &samples, double sampleRate, double from, double to, double level)
{
    const auto first = std::size_t(std::max(0.0, from * sampleRate));
    const auto last = std::min(samples.size(), std::size_t(std::max(0.0, to * sampleRate)));
    for (std::size_t i = first; i < last; ++i) {
        if (std::abs(double(samples[i])) <= level)
            continue;
        QStringList around;
        for (std::size_t j = i > 0 ? i - 1 : 0; j < std::min(last, i + 4); ++j)
            around << QString::number(double(samples[j]));
        return QStringLiteral("sound at %1 s in the silence from %2 to %3 s: %4")
            .arg(double(i) / sampleRate, 0, 'f', 3).arg(from, 0, 'f', 3).arg(to, 0, 'f', 3).arg(around.join(QStringLiteral(", ")));
    }
    return {};
}

} // namespace

double quietFrom(const std::vector<qint16> &samples, double sampleRate, double from, double level)
{
    return quietFromOf(samples, sampleRate, from, level);
}

double quietFrom(const std::vector<float> &samples, double sampleRate, double from, double level)
{
    return quietFromOf(samples, sampleRate, from, level);
}

QString soundIn(const std::vector<qint16> &samples, double sampleRate, double from, double to, double level)
{
    return soundInOf(samples, sampleRate, from, to, level);
}

QString soundIn(const std::vector<float> &samples, double sampleRate, double from, double to, double level)
{
    return soundInOf(samples, sampleRate, from, to, level);
}

ReadBack readBack(const QString &path, qint64 keepFrom)
{
    ReadBack result;
    result.firstKept = keepFrom;
    AVFormatContext *format = nullptr;
    const QByteArray utf8Path = path.toUtf8();
    if (avformat_open_input(&format, utf8Path.constData(), nullptr, nullptr) < 0)
        return result;
    if (avformat_find_stream_info(format, nullptr) < 0) {
        avformat_close_input(&format);
        return result;
    }
    const int streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (streamIndex < 0) {
        avformat_close_input(&format);
        return result;
    }
    result.opened = true;
    AVStream *stream = format->streams[streamIndex];
    const AVCodecParameters *parameters = stream->codecpar;
    result.codecName = QString::fromUtf8(avcodec_get_name(parameters->codec_id));
    result.profile = parameters->profile;
    result.sampleRate = parameters->sample_rate;
    result.channels = parameters->ch_layout.nb_channels;
    if (stream->duration > 0)
        result.containerDuration = double(stream->duration) * av_q2d(stream->time_base);
    else if (format->duration > 0)
        result.containerDuration = double(format->duration) / AV_TIME_BASE;

    const AVCodec *decoder = avcodec_find_decoder(parameters->codec_id);
    AVCodecContext *context = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    if (!context || avcodec_parameters_to_context(context, parameters) < 0 || avcodec_open2(context, decoder, nullptr) < 0) {
        avcodec_free_context(&context);
        avformat_close_input(&format);
        result.decodeError = true;
        return result;
    }
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    const auto drain = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            const qint64 first = result.decodedSamples;
            result.decodedSamples += frame->nb_samples;
            if (frame->format == AV_SAMPLE_FMT_FLTP || frame->format == AV_SAMPLE_FMT_FLT) {
                const auto *data = reinterpret_cast<const float *>(frame->data[0]);
                const int stride = frame->format == AV_SAMPLE_FMT_FLT ? frame->ch_layout.nb_channels : 1;
                for (int i = int(std::clamp<qint64>(keepFrom - first, 0, frame->nb_samples)); i < frame->nb_samples; ++i)
                    result.samples.push_back(data[i * stride]);
            }
            av_frame_unref(frame);
        }
    };
    for (;;) {
        const int status = av_read_frame(format, packet);
        if (status < 0) {
            if (status != AVERROR_EOF)
                result.decodeError = true;
            break;
        }
        if (packet->stream_index == streamIndex) {
            if (avcodec_send_packet(context, packet) < 0)
                result.decodeError = true;
            drain();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(context, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
    return result;
}

} // namespace TestAudio
