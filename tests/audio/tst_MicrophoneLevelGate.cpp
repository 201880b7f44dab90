#include "audio/MicrophoneLevelGate.h"
#include "support/TestAudio.h"

#include <QtTest>

#include <cmath>

namespace {

// Interleaved stereo samples at 44.1 kHz: 30 ms quiet, 20 ms loud, then 200 ms quiet.
std::vector<qint16> program()
{
    std::vector<qint16> samples;
    const auto append = [&](double seconds, double amplitude) {
        const int frames = int(std::lround(seconds * 44100));
        for (int i = 0; i < frames; ++i) {
            const auto value = qint16(std::lround(amplitude * 32767 * std::sin(2 * M_PI * 1000 * i / 44100.0)));
            samples.push_back(value);
            samples.push_back(value);
        }
    };
    append(0.03, 0.0005); // about -69 dBFS: below the gate
    append(0.02, 0.5);
    append(0.2, 0.0005);
    return samples;
}

} // namespace

Q_DECLARE_METATYPE(std::vector<qint16>)

class tst_MicrophoneLevelGate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void level_data();
    void level();
    void gateDecidesPerTenMillisecondsWhateverTheFragments_data();
    void gateDecidesPerTenMillisecondsWhateverTheFragments();
};

void tst_MicrophoneLevelGate::level_data()
{
    QTest::addColumn<std::vector<qint16>>("samples");
    QTest::addColumn<double>("expected");
    std::vector<qint16> square(480);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = i % 2 ? 32767 : -32767;
    QTest::newRow("full-scale square") << square << 1.0;
    QTest::newRow("silence") << std::vector<qint16>(480, 0) << 0.0;
    QTest::newRow("constant 328 (about -40 dB)") << std::vector<qint16>(480, 328) << 0.33350;
    QTest::newRow("constant 32 (below -60 dB)") << std::vector<qint16>(480, 32) << 0.0;
    QTest::newRow("nothing") << std::vector<qint16>() << 0.0;
}

void tst_MicrophoneLevelGate::level()
{
    QFETCH(std::vector<qint16>, samples);
    QFETCH(double, expected);
    const double level = MicrophoneLevelGate::level(samples.data(), qsizetype(samples.size()));
    QVERIFY2(std::abs(level - expected) < 0.0005, qPrintable(QString::number(level, 'f', 5)));
}

void tst_MicrophoneLevelGate::gateDecidesPerTenMillisecondsWhateverTheFragments_data()
{
    QTest::addColumn<int>("fragmentBytes");
    QTest::newRow("one byte at a time") << 1;
    QTest::newRow("odd sizes") << 1234;
    QTest::newRow("exactly one block") << 441 * 4;
    QTest::newRow("large fragments") << 4096 * 4;
    QTest::newRow("everything at once") << 0;
}

// Blocks 3 and 4 are loud and pass, the next ten quiet blocks still pass, the rest do not.
// The meter sees every block.
void tst_MicrophoneLevelGate::gateDecidesPerTenMillisecondsWhateverTheFragments()
{
    QFETCH(int, fragmentBytes);
    const std::vector<qint16> samples = program();
    const QByteArray bytes = TestAudio::chunkOf(samples);
    if (fragmentBytes == 0)
        fragmentBytes = int(bytes.size());

    MicrophoneLevelGate gate(44100, 2);
    QCOMPARE(gate.framesPerBlock(), quint32(441));
    std::vector<MicrophoneLevelGate::Block> blocks;
    for (qsizetype offset = 0; offset < bytes.size(); offset += fragmentBytes) {
        const qsizetype size = std::min<qsizetype>(fragmentBytes, bytes.size() - offset);
        gate.append(bytes.constData() + offset, size, [&](const MicrophoneLevelGate::Block &block) {
            // Each block says where in its fragment it ended (capture times are reckoned from it).
            QCOMPARE(offset + block.fragmentOffset, qsizetype(blocks.size() + 1) * 441 * 4);
            blocks.push_back(block);
        });
    }

    QCOMPARE(blocks.size(), std::size_t(25));
    QByteArray passedAudio;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const bool loud = i == 3 || i == 4;
        const bool shouldPass = i >= 3 && i <= 14;
        QCOMPARE(blocks[i].frameCount, quint32(441));
        QCOMPARE(blocks[i].samples.size(), qsizetype(441 * 4));
        QVERIFY2((blocks[i].level >= MicrophoneLevelGate::gateThreshold) == loud, qPrintable(QString::number(i)));
        QVERIFY2(blocks[i].passed == shouldPass, qPrintable(QString::number(i)));
        if (blocks[i].passed)
            passedAudio += blocks[i].samples;
    }
    // Passed blocks carry their own samples, in order.
    QCOMPARE(passedAudio, bytes.mid(3 * 441 * 4, 12 * 441 * 4));
    // A loud block of a sine at half scale reads about -9 dB.
    QVERIFY(std::abs(blocks[3].level - 0.8495) < 0.01);
}

QTEST_GUILESS_MAIN(tst_MicrophoneLevelGate)
#include "tst_MicrophoneLevelGate.moc"
