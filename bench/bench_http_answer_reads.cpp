// Measures what reading an answer's head costs when it arrives a byte at a time, as from a
// server that drips it, against the same head in one read, and how that cost grows with the
// head's size.
//
// Target: reading stays linear in what arrived. The 65,000-byte head in 1-byte reads costs at
// most 5 times the 16,250-byte one in 1-byte reads (4 is linear; rescanning the head on every
// read would make it 16).
// Usage: bench_http_answer_reads [--rounds N]

#include "platform/HttpResponseParser.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A head of about this many bytes made of short fields, then a small body.
QByteArray answerWithHeadOf(qsizetype headSize)
{
    const QByteArray field = "A: 1\r\n";
    const QByteArray start = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n";
    return start + field.repeated((headSize - start.size() - 2) / field.size()) + "\r\n{}";
}

// CPU seconds to read the answer in reads of pieceSize bytes, rounds times.
double readingCost(const QByteArray &answer, qsizetype pieceSize, int rounds)
{
    QList<QByteArray> pieces;
    for (qsizetype offset = 0; offset < answer.size(); offset += pieceSize)
        pieces.append(answer.mid(offset, pieceSize));
    const double start = cpuSeconds();
    for (int round = 0; round < rounds; ++round) {
        HttpResponseParser parser(false, 1024, true);
        for (const QByteArray &piece : pieces)
            parser.feed(piece);
        if (!parser.isComplete())
            std::fprintf(stderr, "the answer was not read whole\n");
    }
    return cpuSeconds() - start;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const qsizetype roundsAt = arguments.indexOf(QStringLiteral("--rounds"));
    const int rounds = roundsAt >= 0 && roundsAt + 1 < arguments.size() ? arguments.at(roundsAt + 1).toInt() : 20;

    const QByteArray small = answerWithHeadOf(16250);
    const QByteArray large = answerWithHeadOf(65000);
    const double smallDripped = readingCost(small, 1, rounds);
    const double largeDripped = readingCost(large, 1, rounds);
    const double largeWhole = readingCost(large, large.size(), rounds);
    std::printf("16,250-byte head, 1-byte reads: %.3f ms per answer\n", smallDripped * 1000 / rounds);
    std::printf("65,000-byte head, 1-byte reads: %.3f ms per answer\n", largeDripped * 1000 / rounds);
    std::printf("65,000-byte head, one read:     %.3f ms per answer\n", largeWhole * 1000 / rounds);
    const double growth = largeDripped / smallDripped;
    std::printf("growth for 4 times the bytes: %.2f (target at most 5)\n", growth);
    std::printf("1-byte reads against one read: %.1f\n", largeDripped / largeWhole);
    return growth <= 5 ? 0 : 1;
}
