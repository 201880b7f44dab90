#include "audio/AudioChunkEncoder.h"
#include "audio/SystemAudioCaptureError.h"
#include "support/TestAudio.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstring>

Q_DECLARE_METATYPE(AudioFormat)
Q_DECLARE_METATYPE(AudioPCMBuffer)

namespace {

// A tone in the given format; every channel carries the same signal.
AudioPCMBuffer makeTone(const AudioFormat &format, double frequency, double amplitude, quint32 frames,
                        quint64 firstFrame = 0)
{
    AudioPCMBuffer buffer;
    buffer.format = format;
    buffer.frameLength = frames;
    const int channels = int(format.channelCount);
    const int bytes = format.bytesPerSample();
    buffer.buffers.assign(std::size_t(format.bufferCount()), QByteArray(qsizetype(frames) * format.bytesPerFrame(), 0));
    for (quint32 frame = 0; frame < frames; ++frame) {
        const double value = amplitude * std::sin(2.0 * M_PI * frequency * double(firstFrame + frame) / format.sampleRate);
        for (int channel = 0; channel < channels; ++channel) {
            QByteArray &target = buffer.buffers[format.isInterleaved ? 0 : std::size_t(channel)];
            const qsizetype index = format.isInterleaved ? qsizetype(frame) * channels + channel : qsizetype(frame);
            char *out = target.data() + index * bytes;
            switch (format.commonFormat) {
            case AudioCommonFormat::Float32: {
                const float v = float(value);
                std::memcpy(out, &v, 4);
                break;
            }
            case AudioCommonFormat::Float64:
                std::memcpy(out, &value, 8);
                break;
            case AudioCommonFormat::Int16: {
                const qint16 v = qint16(std::lround(value * 32767.0));
                std::memcpy(out, &v, 2);
                break;
            }
            case AudioCommonFormat::Int32: {
                const qint32 v = qint32(std::llround(value * 2147483647.0));
                std::memcpy(out, &v, 4);
                break;
            }
            }
        }
    }
    return buffer;
}

// Frames [from, from + count) of an interleaved buffer.
AudioPCMBuffer slice(const AudioPCMBuffer &buffer, quint32 from, quint32 count)
{
    AudioPCMBuffer part;
    part.format = buffer.format;
    part.frameLength = count;
    const int bytesPerFrame = buffer.format.bytesPerFrame();
    for (const QByteArray &data : buffer.buffers)
        part.buffers.push_back(data.mid(qsizetype(from) * bytesPerFrame, qsizetype(count) * bytesPerFrame));
    return part;
}

AudioFormat format(double rate, quint32 channels, AudioCommonFormat common, bool interleaved)
{
    return AudioFormat{rate, channels, common, interleaved};
}

} // namespace

class tst_AudioChunkEncoder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void convertsEveryFormatToChunks_data();
    void convertsEveryFormatToChunks();
    void chunkFormatPassesThroughUnchanged();
    void formatChangeRebuildsConverter_data();
    void formatChangeRebuildsConverter();
    void oddChunkSizesMatchOneWholeConversion();
    void flushEndsTheAudioWithItsLastSamples_data();
    void flushEndsTheAudioWithItsLastSamples();
    void rejectsBuffersThatDoNotHoldTheirFormat_data();
    void rejectsBuffersThatDoNotHoldTheirFormat();
};

void tst_AudioChunkEncoder::convertsEveryFormatToChunks_data()
{
    QTest::addColumn<AudioFormat>("source");
    QTest::newRow("48 kHz stereo float interleaved") << format(48000, 2, AudioCommonFormat::Float32, true);
    QTest::newRow("48 kHz stereo float planar") << format(48000, 2, AudioCommonFormat::Float32, false);
    QTest::newRow("44.1 kHz stereo int16") << format(44100, 2, AudioCommonFormat::Int16, true);
    QTest::newRow("96 kHz 6 channels int32 planar") << format(96000, 6, AudioCommonFormat::Int32, false);
    QTest::newRow("8 kHz mono double") << format(8000, 1, AudioCommonFormat::Float64, true);
    QTest::newRow("16 kHz mono int16") << format(16000, 1, AudioCommonFormat::Int16, true);
}

// One second of a 1 kHz tone in 10 ms buffers comes out as one second of 16 kHz mono with the
// tone at the same level.
void tst_AudioChunkEncoder::convertsEveryFormatToChunks()
{
    QFETCH(AudioFormat, source);
    AudioChunkEncoder encoder;
    const quint32 framesPerBuffer = quint32(source.sampleRate / 100);
    std::vector<qint16> output;
    for (int i = 0; i < 100; ++i) {
        const AudioPCMBuffer buffer = makeTone(source, 1000, 0.5, framesPerBuffer, quint64(i) * framesPerBuffer);
        const QByteArray chunk = encoder.encode(buffer);
        QCOMPARE(chunk.size() % 2, 0);
        const std::vector<qint16> samples = TestAudio::samplesOf(chunk);
        output.insert(output.end(), samples.begin(), samples.end());
    }
    // The resampler holds back a few dozen samples of filter delay, never more.
    QVERIFY2(output.size() <= 16000 && output.size() >= 16000 - 64, qPrintable(QString::number(output.size())));
    const std::size_t from = 1600; // skip the filter's start-up
    const std::size_t count = 12800;
    QVERIFY(TestAudio::toneShare(output, from, count, 16000, 1000) > 0.98);
    // Equal channels mix down to the same level (sine at 0.5 has an rms of 0.354).
    QVERIFY2(std::abs(TestAudio::rms(output, from, count) - 0.3536) < 0.02,
             qPrintable(QString::number(TestAudio::rms(output, from, count))));
}

void tst_AudioChunkEncoder::chunkFormatPassesThroughUnchanged()
{
    AudioChunkEncoder encoder;
    const AudioPCMBuffer buffer = makeTone(AudioFormat::chunkFormat(), 440, 0.7, 480);
    const QByteArray chunk = encoder.encode(buffer);
    QCOMPARE(chunk, buffer.buffers.front());
}

void tst_AudioChunkEncoder::formatChangeRebuildsConverter_data()
{
    QTest::addColumn<AudioFormat>("first");
    QTest::addColumn<AudioFormat>("second");
    QTest::newRow("sample rate") << format(48000, 2, AudioCommonFormat::Float32, true)
                                 << format(44100, 2, AudioCommonFormat::Float32, true);
    QTest::newRow("channel count") << format(48000, 2, AudioCommonFormat::Float32, true)
                                   << format(48000, 1, AudioCommonFormat::Float32, true);
    QTest::newRow("sample type") << format(48000, 2, AudioCommonFormat::Float32, true)
                                 << format(48000, 2, AudioCommonFormat::Int16, true);
    QTest::newRow("interleaving") << format(48000, 2, AudioCommonFormat::Float32, true)
                                  << format(48000, 2, AudioCommonFormat::Float32, false);
}

// After the format changes, the new buffers are read as what they are: the tone keeps its
// pitch and level. A converter kept from the old format would read garbage or the wrong rate.
void tst_AudioChunkEncoder::formatChangeRebuildsConverter()
{
    QFETCH(AudioFormat, first);
    QFETCH(AudioFormat, second);
    AudioChunkEncoder encoder;
    for (int i = 0; i < 20; ++i)
        encoder.encode(makeTone(first, 1000, 0.5, quint32(first.sampleRate / 100), quint64(i) * quint64(first.sampleRate / 100)));

    std::vector<qint16> output;
    const quint32 frames = quint32(second.sampleRate / 100);
    for (int i = 0; i < 50; ++i) {
        const std::vector<qint16> samples
            = TestAudio::samplesOf(encoder.encode(makeTone(second, 1000, 0.5, frames, quint64(i) * frames)));
        output.insert(output.end(), samples.begin(), samples.end());
    }
    QVERIFY2(output.size() >= 8000 - 64 && output.size() <= 8000, qPrintable(QString::number(output.size())));
    QVERIFY(TestAudio::toneShare(output, 800, 6400, 16000, 1000) > 0.98);
    QVERIFY(std::abs(TestAudio::rms(output, 800, 6400) - 0.3536) < 0.02);
}

// The resampler's state carries across buffers: cutting a stream into odd pieces gives the
// samples one conversion of the whole stream gives. Pieces too short to release a sample
// are no loss: their samples come out with the next piece.
void tst_AudioChunkEncoder::oddChunkSizesMatchOneWholeConversion()
{
    const AudioFormat source = format(48000, 2, AudioCommonFormat::Float32, true);
    const quint32 total = 96000;
    AudioPCMBuffer whole = makeTone(source, 1234.5, 0.4, total);
    // Add a second tone so that the comparison is not fooled by a periodic signal.
    const AudioPCMBuffer second = makeTone(source, 311, 0.3, total);
    auto *w = reinterpret_cast<float *>(whole.buffers[0].data());
    const auto *s = reinterpret_cast<const float *>(second.buffers[0].constData());
    for (quint32 i = 0; i < total * 2; ++i)
        w[i] += s[i];

    AudioChunkEncoder reference;
    const std::vector<qint16> expected = TestAudio::samplesOf(reference.encode(whole));

    AudioChunkEncoder encoder;
    std::vector<qint16> pieces;
    const quint32 sizes[] = {1, 7, 333, 480, 1021, 2, 4096, 13, 960, 5000, 3};
    quint32 position = 0;
    int shortPieces = 0;
    for (int i = 0; position < total; ++i) {
        const quint32 count = std::min(sizes[i % std::size(sizes)], total - position);
        const AudioPCMBuffer piece = slice(whole, position, count);
        position += count;
        try {
            const std::vector<qint16> samples = TestAudio::samplesOf(encoder.encode(piece));
            pieces.insert(pieces.end(), samples.begin(), samples.end());
        } catch (const SystemAudioCaptureError &error) {
            QCOMPARE(error.errorCase(), SystemAudioCaptureError::Case::failedToCreateAudioBuffer);
            QVERIFY2(count < 16, "only a piece too short for one output sample may come out empty");
            ++shortPieces;
        }
    }
    QVERIFY(shortPieces > 0);
    QVERIFY2(std::abs(qint64(pieces.size()) - qint64(expected.size())) <= 2,
             qPrintable(QStringLiteral("%1 vs %2").arg(pieces.size()).arg(expected.size())));
    const std::size_t common = std::min(pieces.size(), expected.size());
    int largestDifference = 0;
    for (std::size_t i = 0; i < common; ++i)
        largestDifference = std::max(largestDifference, std::abs(int(pieces[i]) - int(expected[i])));
    QVERIFY2(largestDifference <= 2, qPrintable(QString::number(largestDifference)));
}

void tst_AudioChunkEncoder::flushEndsTheAudioWithItsLastSamples_data()
{
    QTest::addColumn<AudioFormat>("source");
    QTest::newRow("48 kHz stereo float") << format(48000, 2, AudioCommonFormat::Float32, true);
    QTest::newRow("44.1 kHz mono int16") << format(44100, 1, AudioCommonFormat::Int16, true);
}

// A source that stops (its stream ended, or the audio after it was dropped): the flush hands on
// what the resampler held, so the audio comes out whole, and what is converted next is not
// preceded by any of it.
void tst_AudioChunkEncoder::flushEndsTheAudioWithItsLastSamples()
{
    QFETCH(AudioFormat, source);
    const auto frames = quint32(source.sampleRate / 10);
    AudioChunkEncoder encoder;
    const qsizetype converted = encoder.encode(makeTone(source, 1000, 0.5, frames)).size() / 2;
    const std::vector<qint16> tail = TestAudio::samplesOf(encoder.flush());
    QVERIFY2(!tail.empty() && std::abs(converted + qsizetype(tail.size()) - 1600) <= 2,
             qPrintable(QStringLiteral("%1 + %2").arg(converted).arg(tail.size())));
    QVERIFY(*std::max_element(tail.begin(), tail.end()) > 1000); // the tone's end, not padding
    QVERIFY(encoder.flush().isEmpty());

    // Silence after it is silent from its first sample; without the flush it would begin with
    // the tone's last samples.
    const std::vector<qint16> after = TestAudio::samplesOf(encoder.encode(makeTone(source, 1000, 0, frames)));
    QVERIFY(!after.empty());
    QCOMPARE(std::count(after.begin(), after.end(), qint16(0)), qsizetype(after.size()));
    AudioChunkEncoder unflushed;
    unflushed.encode(makeTone(source, 1000, 0.5, frames));
    const std::vector<qint16> carried = TestAudio::samplesOf(unflushed.encode(makeTone(source, 1000, 0, frames)));
    QVERIFY(std::count(carried.begin(), carried.end(), qint16(0)) < qsizetype(carried.size()));
}

void tst_AudioChunkEncoder::rejectsBuffersThatDoNotHoldTheirFormat_data()
{
    QTest::addColumn<AudioPCMBuffer>("buffer");
    const AudioFormat stereo = format(48000, 2, AudioCommonFormat::Float32, true);

    AudioPCMBuffer shortData = makeTone(stereo, 1000, 0.5, 480);
    shortData.frameLength = 960;
    QTest::newRow("fewer bytes than frames") << shortData;

    AudioPCMBuffer missingPlane = makeTone(format(48000, 2, AudioCommonFormat::Float32, false), 1000, 0.5, 480);
    missingPlane.buffers.pop_back();
    QTest::newRow("a channel buffer missing") << missingPlane;

    AudioPCMBuffer noRate = makeTone(stereo, 1000, 0.5, 480);
    noRate.format.sampleRate = 0;
    QTest::newRow("no sample rate") << noRate;

    AudioPCMBuffer noChannels = makeTone(stereo, 1000, 0.5, 480);
    noChannels.format.channelCount = 0;
    QTest::newRow("no channels") << noChannels;

    AudioPCMBuffer empty = makeTone(stereo, 1000, 0.5, 480);
    empty.frameLength = 0;
    QTest::newRow("no frames") << empty;
}

void tst_AudioChunkEncoder::rejectsBuffersThatDoNotHoldTheirFormat()
{
    QFETCH(AudioPCMBuffer, buffer);
    AudioChunkEncoder encoder;
    try {
        encoder.encode(buffer);
        QFAIL("a malformed buffer was converted");
    } catch (const SystemAudioCaptureError &error) {
        QCOMPARE(error.errorCase(), SystemAudioCaptureError::Case::failedToCreateAudioBuffer);
        QCOMPARE(error.message(), QStringLiteral("The app could not convert the captured system audio into a PCM buffer."));
    }
    // The encoder is still usable afterwards.
    const AudioFormat stereo = format(48000, 2, AudioCommonFormat::Float32, true);
    QVERIFY(!encoder.encode(makeTone(stereo, 1000, 0.5, 4800)).isEmpty());
}

QTEST_GUILESS_MAIN(tst_AudioChunkEncoder)
#include "tst_AudioChunkEncoder.moc"
