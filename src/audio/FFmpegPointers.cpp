#include "audio/FFmpegPointers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace FFmpeg {

void Deleter::operator()(AVFormatContext *context) const
{
    if (context->pb)
        avio_closep(&context->pb);
    avformat_free_context(context);
}

void Deleter::operator()(AVCodecContext *context) const
{
    avcodec_free_context(&context);
}

void Deleter::operator()(AVFrame *frame) const
{
    av_frame_free(&frame);
}

void Deleter::operator()(AVPacket *packet) const
{
    av_packet_free(&packet);
}

void Deleter::operator()(SwrContext *context) const
{
    swr_free(&context);
}

} // namespace FFmpeg
