#pragma once

#include <memory>

// Owners for the FFmpeg and libswresample objects, freed through their own free functions.

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace FFmpeg {

struct Deleter
{
    // Closes the output file, if one is open, before freeing the context.
    void operator()(AVFormatContext *context) const;
    void operator()(AVCodecContext *context) const;
    void operator()(AVFrame *frame) const;
    void operator()(AVPacket *packet) const;
    void operator()(SwrContext *context) const;
};

template<typename T>
using Pointer = std::unique_ptr<T, Deleter>;

} // namespace FFmpeg
