#pragma once

#include <QtGlobal>

#include <cmath>

// The sample type of a PCM format.
enum class AudioCommonFormat { Float32, Float64, Int16, Int32 };

// Describes PCM audio as a capture device delivers it.
struct AudioFormat
{
    double sampleRate = 0;
    quint32 channelCount = 0;
    AudioCommonFormat commonFormat = AudioCommonFormat::Int16;
    // Interleaved: one buffer with the channels' samples side by side. Otherwise one
    // buffer per channel.
    bool isInterleaved = true;

    static int bytesPerSample(AudioCommonFormat format)
    {
        switch (format) {
        case AudioCommonFormat::Float32:
        case AudioCommonFormat::Int32:
            return 4;
        case AudioCommonFormat::Float64:
            return 8;
        case AudioCommonFormat::Int16:
            return 2;
        }
        return 0;
    }

    int bytesPerSample() const { return bytesPerSample(commonFormat); }
    // Bytes per frame of each buffer.
    int bytesPerFrame() const { return isInterleaved ? bytesPerSample() * int(channelCount) : bytesPerSample(); }
    int bufferCount() const { return isInterleaved ? 1 : int(channelCount); }
    bool isValid() const
    {
        return std::isfinite(sampleRate) && sampleRate >= 1 && sampleRate <= 1'000'000 && channelCount >= 1
            && channelCount <= 64;
    }

    // The one format that crosses components: 16 kHz mono signed 16-bit.
    static AudioFormat chunkFormat() { return AudioFormat{16000, 1, AudioCommonFormat::Int16, true}; }

    bool operator==(const AudioFormat &) const = default;
};
