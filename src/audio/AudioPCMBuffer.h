#pragma once

#include "audio/AudioFormat.h"

#include <QByteArray>

#include <vector>

// PCM audio in a given format: one buffer when interleaved, one per channel otherwise,
// each holding frameLength frames.
struct AudioPCMBuffer
{
    AudioFormat format;
    quint32 frameLength = 0;
    std::vector<QByteArray> buffers;
};
