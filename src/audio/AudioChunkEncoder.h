#pragma once

#include "audio/AudioFormat.h"
#include "audio/AudioPCMBuffer.h"
#include "audio/FFmpegPointers.h"

#include <QByteArray>

#include <optional>


// Turns captured PCM of any format into audio chunks: 16 kHz mono signed 16-bit
// little-endian. The resampler keeps its state from one buffer to the next while the
// source format stays the same, so consecutive chunks join without clicks; a format change
// starts a new resampler.
//
// Not thread-safe: each owner uses its encoder from one thread only.
class AudioChunkEncoder final
{
public:
    AudioChunkEncoder();
    ~AudioChunkEncoder();

    AudioChunkEncoder(const AudioChunkEncoder &) = delete;
    AudioChunkEncoder &operator=(const AudioChunkEncoder &) = delete;

    AudioFormat targetFormat() const { return m_targetFormat; }

    // Converts one captured buffer. Throws SystemAudioCaptureError(failedToCreateAudioBuffer)
    // when no converter can be made for the format, the buffer does not hold what its
    // format promises, or the converter releases no sample for it (the samples stay in the
    // resampler and come out with the next buffer).
    QByteArray encode(const AudioPCMBuffer &pcmBuffer);

    // The same, except that a buffer for which the resampler releases nothing yet gives an
    // empty chunk instead of a failure. Capture uses this form: a short fragment is no fault.
    QByteArray encodeAvailable(const AudioPCMBuffer &pcmBuffer);

    // What the resampler still holds of the audio given so far (a few samples, or none), for
    // when that audio ends here: the source stopped or lost audio. The next buffer starts a new
    // resampler, so nothing of this audio comes out with later audio.
    QByteArray flush();

private:
    struct AudioFormatSignature
    {
        double sampleRate;
        quint32 channelCount;
        AudioCommonFormat commonFormat;
        bool isInterleaved;
        bool operator==(const AudioFormatSignature &) const = default;
    };

    void releaseConverter();

    AudioFormat m_targetFormat;
    FFmpeg::Pointer<SwrContext> m_converter;
    std::optional<AudioFormatSignature> m_sourceFormatSignature;
};
