#pragma once

// Test audio: files made at test time with sox and espeak-ng, playback into the private
// audio server with paplay, tone detection, and reading recordings back with libavformat.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class QProcess;

namespace TestAudio {

// Runs a program to its end; true when it exited with 0. Its error output goes to the test
// log when it fails.
bool run(const QString &program, const QStringList &arguments, int timeoutMilliseconds = 30000);

// A sine tone as a WAV file (sox), 16-bit, at the given level in dBFS.
QString makeTone(const QString &directory, const QString &name, double frequency, double seconds, int sampleRate,
                 int channels, double levelDb = -6.0);
// Silence as a WAV file.
QString makeSilence(const QString &directory, const QString &name, double seconds, int sampleRate, int channels);
// A spoken phrase (espeak-ng) resampled to the given format.
QString makeSpeech(const QString &directory, const QString &name, const QString &text, int sampleRate, int channels);
// The files one after another in one WAV file (they must share a format).
QString concatenate(const QString &directory, const QString &name, const QStringList &files);
// Duration of a sound file in seconds (soxi).
double durationOf(const QString &file);

// Plays a file into a sink of the private audio server and waits for the end.
bool playInto(const QString &sink, const QString &file);
// Starts playing and returns at once.
std::unique_ptr<QProcess> startPlaying(const QString &sink, const QString &file);

// Runs pactl with the arguments; its output, or nothing when it failed.
std::optional<QString> pactl(const QStringList &arguments);

// Samples of an audio chunk (an odd last byte is ignored).
std::vector<qint16> samplesOf(const QByteArray &chunk);
// Samples of chunks one after the other (the audio frames a relay received).
std::vector<qint16> samplesOf(const QList<QByteArray> &chunks);
// Decoded samples (a recording read back) as 16-bit ones.
std::vector<qint16> samplesOf(const std::vector<float> &decoded);
QByteArray chunkOf(const std::vector<qint16> &samples);

// Power of one frequency relative to the whole signal's power (0 … about 1).
double toneShare(const float *samples, std::size_t count, double sampleRate, double frequency);
double toneShare(const std::vector<qint16> &samples, std::size_t from, std::size_t count, double sampleRate,
                 double frequency);
double rms(const std::vector<qint16> &samples, std::size_t from, std::size_t count); // 0 … 1
// The largest magnitude among the samples (0 when there are none).
int peak(const std::vector<qint16> &samples);
// Start, in samples, of the first stretch of 0.1 s where the tone is loud and dominates (or -1).
qint64 toneOnset(const std::vector<qint16> &samples, double sampleRate, double frequency);
// Where, in seconds, each burst of the tone begins: a 20 ms window in which the tone is loud and
// carries most of the power, after at least `quietSeconds` without one.
std::vector<double> toneBurstOnsets(const std::vector<float> &samples, double sampleRate, double frequency,
                                    double quietSeconds);
// Where, in seconds, the burst of the tone that begins at `onset` (one of the above) ends, to a
// window.
double toneBurstEnd(const std::vector<float> &samples, double sampleRate, double frequency, double onset);

// Where, in seconds, the first half second in which no sample is louder than `level` begins, at
// or after `from` seconds (-1 when there is none).
double quietFrom(const std::vector<qint16> &samples, double sampleRate, double from, double level);
double quietFrom(const std::vector<float> &samples, double sampleRate, double from, double level);
// The first sample louder than `level` between `from` and `to` seconds, where it lies and the
// samples around it, in words; empty when the stretch is silent throughout.
QString soundIn(const std::vector<qint16> &samples, double sampleRate, double from, double to, double level);
QString soundIn(const std::vector<float> &samples, double sampleRate, double from, double to, double level);

// A recording read back.
struct ReadBack
{
    bool opened = false;
    QString codecName;
    int profile = -1;
    int sampleRate = 0;
    int channels = 0;
    double containerDuration = -1; // seconds, -1 when unknown
    qint64 decodedSamples = 0;
    std::vector<float> samples; // decoded, first channel, from firstKept on
    qint64 firstKept = 0;
    bool decodeError = false;   // decoding stopped on damaged data
};
// Decodes the whole file; keeps the samples from `keepFrom` on (a recording of hours is read
// for its length without holding all of it).
ReadBack readBack(const QString &path, qint64 keepFrom = 0);

} // namespace TestAudio
