#include "audio/MicrophoneLevelGate.h"

#include <algorithm>
#include <cmath>
#include <cstring>

MicrophoneLevelGate::MicrophoneLevelGate(quint32 sampleRate, quint32 channelCount)
    : m_channelCount(std::max<quint32>(channelCount, 1))
    , m_framesPerBlock(std::max<quint32>((sampleRate + 50) / 100, 1))
    , m_bytesPerBlock(qsizetype(m_framesPerBlock) * m_channelCount * 2)
{
    m_partial.reserve(m_bytesPerBlock);
}

void MicrophoneLevelGate::reset()
{
    m_partial.clear();
    m_gateBlocksRemaining = 0;
}

void MicrophoneLevelGate::append(const char *data, qsizetype bytes, const std::function<void(const Block &)> &onBlock)
{
    qsizetype offset = 0;
    while (bytes > 0) {
        const qsizetype take = std::min(bytes, m_bytesPerBlock - m_partial.size());
        m_partial.append(data, take);
        data += take;
        bytes -= take;
        offset += take;
        if (m_partial.size() < m_bytesPerBlock)
            break;

        Block block;
        block.samples = m_partial;
        block.frameCount = m_framesPerBlock;
        block.fragmentOffset = offset;
        m_partial.clear();
        block.level = level(reinterpret_cast<const qint16 *>(block.samples.constData()),
                            qsizetype(m_framesPerBlock) * m_channelCount);
        if (block.level >= gateThreshold) {
            m_gateBlocksRemaining = gateHangBlocks;
            block.passed = true;
        } else if (m_gateBlocksRemaining >= 1) {
            --m_gateBlocksRemaining;
            block.passed = true;
        }
        onBlock(block);
    }
}

double MicrophoneLevelGate::level(const qint16 *samples, qsizetype count)
{
    if (count < 1)
        return 0;
    double sum = 0;
    for (qsizetype i = 0; i < count; ++i) {
        qint16 sample;
        std::memcpy(&sample, samples + i, sizeof sample);
        const double normalized = double(sample) / 32767.0;
        sum += normalized * normalized;
    }
    const double mean = sum / double(count);
    if (!(mean > 0))
        return 0;
    const double rms = std::sqrt(mean);
    const double value = (20.0 * std::log10(std::max(rms, levelFloor)) + levelRangeDecibels) / levelRangeDecibels;
    return std::clamp(value, 0.0, 1.0);
}
