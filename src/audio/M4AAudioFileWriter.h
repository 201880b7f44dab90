#pragma once

#include "audio/AudioFormat.h"
#include "audio/FFmpegPointers.h"

#include <QByteArray>
#include <QString>


struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

// Writes audio chunks (16 kHz mono signed 16-bit) as AAC-LC into an M4A file.
//
// The file is made on the first non-empty chunk, never over an existing file: when the name
// is taken, "-2", "-3" … are added before the extension. It is written as a fragmented MP4
// with fragments of about one second, each on disk as soon as it is complete, so that a
// process killed mid-recording, or a disk that fills up, leaves a file that plays up to about
// its last second. close() completes the file.
//
// Not thread-safe: its owner uses it from one thread.
class M4AAudioFileWriter final
{
public:
    static constexpr int encoderBitRate = 128000;
    static constexpr qint64 fragmentDurationMicroseconds = 1'000'000;

    explicit M4AAudioFileWriter(QString outputPath);
    ~M4AAudioFileWriter(); // closes

    M4AAudioFileWriter(const M4AAudioFileWriter &) = delete;
    M4AAudioFileWriter &operator=(const M4AAudioFileWriter &) = delete;

    // The requested location until the file exists, then where it really is.
    QString outputPath() const { return m_outputPath; }
    AudioFormat clientFormat() const { return m_clientFormat; }
    bool hasFile() const { return m_formatContext != nullptr; }

    // Appends whole frames of the chunk (an odd last byte is ignored). Throws
    // SystemAudioCaptureError: failedToCreateAudioFile, failedToWriteAudioFile(code).
    void append(const QByteArray &pcmData);
    // Appends that many frames of silence, as append() would with zero samples, without them
    // ever being held as bytes. Throws as append() does.
    void appendSilence(qint64 frames);

    // Flushes the encoder and completes the file. Throws failedToWriteAudioFile when that
    // fails; the writer is closed either way, and the file then holds what keepWrittenPart()
    // keeps. Does nothing when no file was made.
    void close();

    // Abandons the recording: releases the writer without completing the file and deletes
    // the file if one was made. Never fails.
    void discard();

    // Abandons the recording after a failure (a full disk): releases the writer and cuts the
    // file back to its last whole fragment, so that it plays up to there; a file holding no
    // whole fragment is deleted. Returns whether a file was kept. Never fails.
    bool keepWrittenPart();

private:
    void createFile();
    // Puts frames into the encoder: the samples of `pcm` (16-bit), or silence when it is null.
    void fill(const char *pcm, qint64 frames);
    void prepareFrame();
    void encodeFrame();
    void writePackets();
    void abandonEncoder();
    void release();

    QString m_outputPath;
    AudioFormat m_clientFormat;
    FFmpeg::Pointer<AVFormatContext> m_formatContext;
    FFmpeg::Pointer<AVCodecContext> m_codecContext;
    AVStream *m_stream = nullptr;
    FFmpeg::Pointer<AVFrame> m_frame;
    FFmpeg::Pointer<AVPacket> m_packet;
    // Samples of the frame being filled (the rest of a chunk that did not end on a frame).
    int m_frameFill = 0;
    qint64 m_nextPts = 0;
    bool m_headerWritten = false;
    // How much of the file is on disk and whole: the header, then each fragment once written.
    qint64 m_headerBytes = 0;
    qint64 m_wholeBytes = 0;
};
