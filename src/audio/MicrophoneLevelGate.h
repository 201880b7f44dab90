#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <functional>

// Level meter and noise gate of the microphone. Whatever fragment sizes the audio server
// delivers, the samples are cut into fixed 10 ms blocks, so the meter and the gate's hang
// time mean the same on every device.
//
// A block at or above the threshold opens the gate and passes; the gate then stays open for
// the next ten quiet blocks; after that quiet blocks are dropped (the stream simply has a
// gap, no silence is inserted).
//
// Samples are signed 16-bit, interleaved. Not thread-safe.
class MicrophoneLevelGate final
{
public:
    static constexpr double gateThreshold = 0.025;
    static constexpr int gateHangBlocks = 10;
    static constexpr double levelFloor = 0.00001; // -100 dB
    static constexpr double levelRangeDecibels = 60;

    struct Block
    {
        QByteArray samples; // one block, interleaved
        quint32 frameCount = 0;
        double level = 0;
        bool passed = false;
        // Bytes of the fragment given to append() up to this block's end.
        qsizetype fragmentOffset = 0;
    };

    MicrophoneLevelGate(quint32 sampleRate, quint32 channelCount);

    quint32 framesPerBlock() const { return m_framesPerBlock; }

    // Adds a fragment and reports every block it completes, in order.
    void append(const char *data, qsizetype bytes, const std::function<void(const Block &)> &onBlock);

    // Forgets a partial block and closes the gate.
    void reset();

    // The meter level of the samples: 0 at -60 dBFS and below, 1 at full scale, linear in
    // decibels between.
    static double level(const qint16 *samples, qsizetype count);

private:
    quint32 m_channelCount;
    quint32 m_framesPerBlock;
    qsizetype m_bytesPerBlock;
    QByteArray m_partial;
    int m_gateBlocksRemaining = 0;
};
