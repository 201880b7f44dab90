#include "audio/AudioChunkEncoder.h"

#include "audio/SystemAudioCaptureError.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>

namespace {

AVSampleFormat sampleFormatFor(AudioCommonFormat format, bool interleaved)
{
    switch (format) {
    case AudioCommonFormat::Float32:
        return interleaved ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
    case AudioCommonFormat::Float64:
        return interleaved ? AV_SAMPLE_FMT_DBL : AV_SAMPLE_FMT_DBLP;
    case AudioCommonFormat::Int16:
        return interleaved ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S16P;
    case AudioCommonFormat::Int32:
        return interleaved ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S32P;
    }
    return AV_SAMPLE_FMT_NONE;
}

} // namespace

AudioChunkEncoder::AudioChunkEncoder()
    : m_targetFormat(AudioFormat::chunkFormat())
{
}

AudioChunkEncoder::~AudioChunkEncoder()
{
    releaseConverter();
}

void AudioChunkEncoder::releaseConverter()
{
    m_converter.reset();
}

QByteArray AudioChunkEncoder::encode(const AudioPCMBuffer &pcmBuffer)
{
    QByteArray chunk = encodeAvailable(pcmBuffer);
    if (chunk.isEmpty())
        throw SystemAudioCaptureError::failedToCreateAudioBuffer();
    return chunk;
}

QByteArray AudioChunkEncoder::encodeAvailable(const AudioPCMBuffer &pcmBuffer)
{
    const AudioFormat &format = pcmBuffer.format;
    const AudioFormatSignature signature{format.sampleRate, format.channelCount, format.commonFormat,
                                         format.isInterleaved};

    if (!m_converter || !m_sourceFormatSignature || *m_sourceFormatSignature != signature) {
        releaseConverter();
        m_sourceFormatSignature = signature;
        if (!format.isValid())
            throw SystemAudioCaptureError::failedToCreateAudioBuffer();

        AVChannelLayout inputLayout;
        av_channel_layout_default(&inputLayout, int(format.channelCount));
        AVChannelLayout outputLayout;
        av_channel_layout_default(&outputLayout, int(m_targetFormat.channelCount));
        SwrContext *allocated = nullptr;
        int status = swr_alloc_set_opts2(&allocated, &outputLayout, AV_SAMPLE_FMT_S16,
                                         int(std::lround(m_targetFormat.sampleRate)), &inputLayout,
                                         sampleFormatFor(format.commonFormat, format.isInterleaved),
                                         int(std::lround(format.sampleRate)), 0, nullptr);
        FFmpeg::Pointer<SwrContext> converter(allocated);
        if (status >= 0)
            status = swr_init(converter.get());
        av_channel_layout_uninit(&inputLayout);
        av_channel_layout_uninit(&outputLayout);
        if (status < 0)
            throw SystemAudioCaptureError::failedToCreateAudioBuffer();
        m_converter = std::move(converter);
    }

    // The buffer must hold what its format says; never read past what was captured.
    const qsizetype bytesNeeded = qsizetype(pcmBuffer.frameLength) * format.bytesPerFrame();
    if (pcmBuffer.frameLength == 0 || int(pcmBuffer.buffers.size()) != format.bufferCount())
        throw SystemAudioCaptureError::failedToCreateAudioBuffer();
    const uint8_t *planes[64] = {};
    for (std::size_t i = 0; i < pcmBuffer.buffers.size(); ++i) {
        if (pcmBuffer.buffers[i].size() < bytesNeeded)
            throw SystemAudioCaptureError::failedToCreateAudioBuffer();
        planes[i] = reinterpret_cast<const uint8_t *>(pcmBuffer.buffers[i].constData());
    }

    const double ratio = m_targetFormat.sampleRate / format.sampleRate;
    qint64 capacity = std::max<qint64>(qint64(std::ceil(ratio * pcmBuffer.frameLength)) + 32, 1);
    // The resampler may hold back more than the headroom after a long run of tiny buffers;
    // give it room for all of it so nothing lags behind.
    capacity = std::max<qint64>(capacity, swr_get_out_samples(m_converter.get(), int(pcmBuffer.frameLength)));

    QByteArray chunk(capacity * 2, Qt::Uninitialized);
    uint8_t *output = reinterpret_cast<uint8_t *>(chunk.data());
    const int produced = swr_convert(m_converter.get(), &output, int(capacity), planes, int(pcmBuffer.frameLength));
    if (produced < 0)
        throw SystemAudioCaptureError::failedToCreateAudioBuffer();
    chunk.truncate(qsizetype(produced) * 2);
    return chunk;
}

QByteArray AudioChunkEncoder::flush()
{
    if (!m_converter)
        return {};
    const int capacity = std::max(swr_get_out_samples(m_converter.get(), 0), 0) + 32;
    QByteArray chunk(qsizetype(capacity) * 2, Qt::Uninitialized);
    uint8_t *output = reinterpret_cast<uint8_t *>(chunk.data());
    const int produced = swr_convert(m_converter.get(), &output, capacity, nullptr, 0);
    releaseConverter();
    chunk.truncate(qsizetype(std::max(produced, 0)) * 2);
    return chunk;
}
