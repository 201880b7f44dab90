#include "audio/M4AAudioFileWriter.h"

#include "audio/SystemAudioCaptureError.h"
#include "base/KavrelDiagnostics.h"

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// FFmpeg writes its own messages to the terminal; ours go to the audio log, and only when
// something went wrong.
void forwardFFmpegLog(void *, int level, const char *format, va_list arguments)
{
    if (level > AV_LOG_WARNING)
        return;
    char line[1024];
    std::vsnprintf(line, sizeof line, format, arguments);
    qCWarning(KavrelDiagnostics::audio()).noquote() << "ffmpeg:" << QString::fromUtf8(line).trimmed();
}

void routeFFmpegLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(&forwardFFmpegLog); });
}

QString errorText(int code)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

// The name itself, then "name-2.m4a", "name-3.m4a" …
QString candidatePath(const QString &path, int attempt)
{
    if (attempt <= 1)
        return path;
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    const QString base = suffix.isEmpty() ? path : path.left(path.size() - suffix.size() - 1);
    return base + QStringLiteral("-") + QString::number(attempt) + (suffix.isEmpty() ? QString() : QStringLiteral(".") + suffix);
}

} // namespace

M4AAudioFileWriter::M4AAudioFileWriter(QString outputPath)
    : m_outputPath(std::move(outputPath))
    , m_clientFormat(AudioFormat::chunkFormat())
{
    routeFFmpegLog();
}

M4AAudioFileWriter::~M4AAudioFileWriter()
{
    try {
        close();
    } catch (...) {
        qCWarning(KavrelDiagnostics::audio()).noquote() << "recording could not be completed:" << m_outputPath;
    }
}

void M4AAudioFileWriter::release()
{
    m_formatContext.reset();
    m_stream = nullptr;
    m_codecContext.reset();
    m_frame.reset();
    m_packet.reset();
    m_frameFill = 0;
    m_headerWritten = false;
}

void M4AAudioFileWriter::createFile()
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    const AVOutputFormat *outputFormat = av_guess_format("ipod", nullptr, nullptr);
    if (!codec || !outputFormat)
        throw SystemAudioCaptureError::failedToCreateAudioFile();

    // Claim a name that nobody uses: a recording never replaces an existing file.
    QString path;
    for (int attempt = 1; attempt <= 1000 && path.isEmpty(); ++attempt) {
        QFile file(candidatePath(m_outputPath, attempt));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            path = file.fileName();
        else if (!file.exists())
            break;
    }
    if (path.isEmpty())
        throw SystemAudioCaptureError::failedToCreateAudioFile();

    try {
        const QByteArray utf8Path = path.toUtf8();
        AVFormatContext *formatContext = nullptr;
        const int allocated = avformat_alloc_output_context2(&formatContext, outputFormat, nullptr, utf8Path.constData());
        m_formatContext.reset(formatContext);
        if (allocated < 0 || !m_formatContext)
            throw SystemAudioCaptureError::failedToCreateAudioFile();

        m_codecContext.reset(avcodec_alloc_context3(codec));
        if (!m_codecContext)
            throw SystemAudioCaptureError::failedToCreateAudioFile();
        m_codecContext->sample_fmt = AV_SAMPLE_FMT_FLTP;
        m_codecContext->sample_rate = int(m_clientFormat.sampleRate);
        av_channel_layout_default(&m_codecContext->ch_layout, int(m_clientFormat.channelCount));
        m_codecContext->profile = FF_PROFILE_AAC_LOW;
        // AAC carries at most 6144 bits per channel and frame of 1024 samples; asking for more
        // only earns a warning from the encoder.
        const qint64 maximumBitRate = qint64(6144) * m_codecContext->sample_rate / 1024 * m_clientFormat.channelCount;
        m_codecContext->bit_rate = std::min<qint64>(encoderBitRate, maximumBitRate);
        m_codecContext->time_base = AVRational{1, m_codecContext->sample_rate};
        if (m_formatContext->oformat->flags & AVFMT_GLOBALHEADER)
            m_codecContext->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // At this bit rate (the most AAC carries for 16 kHz mono) speech comes back from the
        // fast coder about as close to the original as from the default two-loop search
        // (within a few dB of signal to error, either way round), at a third of its CPU; the
        // search pays off at low bit rates, which a recording never uses. An encoder without
        // the option ignores it.
        av_opt_set(m_codecContext->priv_data, "aac_coder", "fast", 0);
        if (avcodec_open2(m_codecContext.get(), codec, nullptr) < 0)
            throw SystemAudioCaptureError::failedToCreateAudioFile();

        m_stream = avformat_new_stream(m_formatContext.get(), nullptr);
        if (!m_stream || avcodec_parameters_from_context(m_stream->codecpar, m_codecContext.get()) < 0)
            throw SystemAudioCaptureError::failedToCreateAudioFile();
        m_stream->time_base = m_codecContext->time_base;

        if (avio_open(&m_formatContext->pb, utf8Path.constData(), AVIO_FLAG_WRITE) < 0)
            throw SystemAudioCaptureError::failedToCreateAudioFile();
        // Each finished fragment goes to disk at once rather than waiting in a buffer.
        m_formatContext->flags |= AVFMT_FLAG_FLUSH_PACKETS;

        AVDictionary *options = nullptr;
        av_dict_set(&options, "movflags", "+frag_keyframe+empty_moov+default_base_moof", 0);
        av_dict_set_int(&options, "frag_duration", fragmentDurationMicroseconds, 0);
        const int status = avformat_write_header(m_formatContext.get(), &options);
        av_dict_free(&options);
        if (status < 0)
            throw SystemAudioCaptureError::failedToCreateAudioFile();
        avio_flush(m_formatContext->pb);
        if (m_formatContext->pb->error < 0)
            throw SystemAudioCaptureError::failedToWriteAudioFile(m_formatContext->pb->error);
        m_headerWritten = true;
        m_headerBytes = avio_tell(m_formatContext->pb);
        m_wholeBytes = m_headerBytes;

        m_frame.reset(av_frame_alloc());
        m_packet.reset(av_packet_alloc());
        if (!m_frame || !m_packet)
            throw SystemAudioCaptureError::failedToCreateAudioFile();
    } catch (...) {
        release();
        QFile::remove(path);
        throw;
    }
    m_outputPath = path;
    m_nextPts = 0;
}

void M4AAudioFileWriter::append(const QByteArray &pcmData)
{
    if (pcmData.isEmpty())
        return;
    const int bytesPerFrame = m_clientFormat.bytesPerFrame();
    if (bytesPerFrame == 0)
        throw SystemAudioCaptureError::failedToCreateAudioBuffer();
    const qsizetype frames = pcmData.size() / bytesPerFrame;
    // No file for a chunk without a whole frame: a file exists only when it holds audio.
    if (frames == 0)
        return;
    fill(pcmData.constData(), frames);
}

void M4AAudioFileWriter::appendSilence(qint64 frames)
{
    if (frames > 0)
        fill(nullptr, frames);
}

void M4AAudioFileWriter::fill(const char *pcm, qint64 frames)
{
    if (!m_formatContext)
        createFile();
    // The samples go straight into the encoder's frame; a full frame is encoded at once.
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    qint64 taken = 0;
    while (taken < frames) {
        if (m_frameFill == 0)
            prepareFrame();
        const int frameSize = m_frame->nb_samples;
        const qsizetype count = qsizetype(std::min<qint64>(frameSize - m_frameFill, frames - taken));
        auto *samples = reinterpret_cast<float *>(m_frame->data[0]) + m_frameFill;
        if (!pcm) {
            std::fill_n(samples, count, 0.0f);
        } else {
            for (qsizetype i = 0; i < count; ++i) {
                qint16 sample;
                std::memcpy(&sample, pcm + (taken + i) * 2, 2);
                samples[i] = float(sample) * (1.0f / 32768.0f);
            }
        }
        m_frameFill += int(count);
        taken += count;
        if (m_frameFill == frameSize)
            encodeFrame();
    }
}

void M4AAudioFileWriter::prepareFrame()
{
    // One buffer serves every frame: the encoder has copied the last one's samples by the
    // time it hands back its packets, so the buffer is normally free to fill again.
    if (!m_frame->buf[0]) {
        m_frame->format = AV_SAMPLE_FMT_FLTP;
        m_frame->sample_rate = m_codecContext->sample_rate;
        m_frame->nb_samples = m_codecContext->frame_size > 0 ? m_codecContext->frame_size : 1024;
        av_channel_layout_copy(&m_frame->ch_layout, &m_codecContext->ch_layout);
        const int status = av_frame_get_buffer(m_frame.get(), 0);
        if (status < 0)
            throw SystemAudioCaptureError::failedToWriteAudioFile(status);
    }
    const int status = av_frame_make_writable(m_frame.get());
    if (status < 0)
        throw SystemAudioCaptureError::failedToWriteAudioFile(status);
}

void M4AAudioFileWriter::encodeFrame()
{
    // A short last frame is sent as it is (the encoder takes one) and ends the stream.
    const int frameSize = m_frame->nb_samples;
    m_frame->nb_samples = m_frameFill;
    m_frame->pts = m_nextPts;
    m_nextPts += m_frameFill;
    m_frameFill = 0;
    const int status = avcodec_send_frame(m_codecContext.get(), m_frame.get());
    m_frame->nb_samples = frameSize;
    if (status < 0)
        throw SystemAudioCaptureError::failedToWriteAudioFile(status);
    writePackets();
}

void M4AAudioFileWriter::writePackets()
{
    for (;;) {
        int status = avcodec_receive_packet(m_codecContext.get(), m_packet.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            return;
        if (status < 0)
            throw SystemAudioCaptureError::failedToWriteAudioFile(status);
        av_packet_rescale_ts(m_packet.get(), m_codecContext->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        status = av_write_frame(m_formatContext.get(), m_packet.get());
        av_packet_unref(m_packet.get());
        if (status < 0)
            throw SystemAudioCaptureError::failedToWriteAudioFile(status);
        if (m_formatContext->pb && m_formatContext->pb->error < 0)
            throw SystemAudioCaptureError::failedToWriteAudioFile(m_formatContext->pb->error);
        // Every packet is flushed (AVFMT_FLAG_FLUSH_PACKETS) and the muxer hands the file only
        // whole fragments, so what it has taken is on disk and ends with a whole fragment.
        m_wholeBytes = avio_tell(m_formatContext->pb);
    }
}

void M4AAudioFileWriter::close()
{
    if (!m_formatContext)
        return;
    int failure = 0;
    try {
        if (m_frameFill > 0)
            encodeFrame();
        int status = avcodec_send_frame(m_codecContext.get(), nullptr);
        if (status < 0 && status != AVERROR_EOF)
            throw SystemAudioCaptureError::failedToWriteAudioFile(status);
        writePackets();
        status = av_write_trailer(m_formatContext.get());
        if (status < 0)
            throw SystemAudioCaptureError::failedToWriteAudioFile(status);
        avio_flush(m_formatContext->pb);
        if (m_formatContext->pb->error < 0)
            throw SystemAudioCaptureError::failedToWriteAudioFile(m_formatContext->pb->error);
        status = avio_closep(&m_formatContext->pb);
        if (status < 0)
            throw SystemAudioCaptureError::failedToWriteAudioFile(status);
    } catch (const SystemAudioCaptureError &error) {
        failure = error.status();
        qCWarning(KavrelDiagnostics::audio()).noquote()
            << "recording could not be completed:" << errorText(failure);
    }
    if (failure == 0) {
        release();
        return;
    }
    keepWrittenPart();
    throw SystemAudioCaptureError::failedToWriteAudioFile(failure);
}

void M4AAudioFileWriter::discard()
{
    const bool hadFile = m_formatContext != nullptr;
    abandonEncoder();
    release();
    if (hadFile)
        QFile::remove(m_outputPath);
}

bool M4AAudioFileWriter::keepWrittenPart()
{
    if (!m_formatContext)
        return false;
    const qint64 whole = m_wholeBytes;
    const bool playable = m_headerWritten && whole > m_headerBytes;
    abandonEncoder();
    // Closing may write what the file's buffer still holds (or fail to): the file is cut back
    // after it.
    release();
    // Cutting a file back needs no room on the disk.
    if (playable && QFile::resize(m_outputPath, whole)) {
        qCWarning(KavrelDiagnostics::audio()).noquote()
            << "recording kept up to its last whole fragment:" << m_outputPath << whole << "bytes";
        return true;
    }
    QFile::remove(m_outputPath);
    return false;
}

// Lets the encoder finish what it holds, and throws that away.
void M4AAudioFileWriter::abandonEncoder()
{
    if (m_codecContext && m_packet && avcodec_send_frame(m_codecContext.get(), nullptr) >= 0) {
        while (avcodec_receive_packet(m_codecContext.get(), m_packet.get()) == 0)
            av_packet_unref(m_packet.get());
    }
}
