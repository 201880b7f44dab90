#include "platform/HttpResponseParser.h"
#include "support/CompressedBody.h"
#include "support/HttpAnswerText.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

using State = HttpResponseParser::State;
using Failure = HttpResponseParser::Failure;

namespace {

constexpr qint64 cap = 64 * 1024;

struct Verdict
{
    State state = State::head;
    Failure failure = Failure::none;
    QByteArray body;
    qint64 examinedBytes = 0;
};

// Feeds the answer in reads of the given sizes (the last one repeats), then ends the
// connection when asked to.
Verdict parsedInPieces(const QByteArray &answer, const QList<qsizetype> &pieces, bool closes, qint64 bodyCap = cap)
{
    HttpResponseParser parser(false, bodyCap, true);
    qsizetype offset = 0;
    for (qsizetype read = 0; offset < answer.size(); ++read) {
        const qsizetype size = pieces.at(std::min(read, pieces.size() - 1));
        parser.feed(answer.mid(offset, size));
        offset += size;
    }
    if (closes)
        parser.finishInput();
    return {parser.state(), parser.failure(), parser.body(), parser.examinedBytes()};
}

Verdict parsed(const QByteArray &answer, qsizetype pieceSize, bool closes)
{
    return parsedInPieces(answer, {pieceSize}, closes);
}

QByteArray chunked(const QByteArray &chunks, const QByteArray &trailer = QByteArray())
{
    return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks + "0\r\n" + trailer + "\r\n";
}

QByteArray trailerFields(int count)
{
    QByteArray fields;
    for (int field = 0; field < count; ++field)
        fields += "X-Digest-" + QByteArray::number(field) + ": sha-256=abc\r\n";
    return fields;
}

QByteArray encoded(const QByteArray &coding, const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Encoding: " + coding + "\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

class tst_HttpResponseParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every limit holds the same whether the answer comes in one read, a byte at a time, or
    // in pieces that cut its lines anywhere; none of them waits for the connection to end.
    void verdictsDoNotDependOnTheReads_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("closes"); // the connection ends after the answer
        QTest::addColumn<State>("state");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QByteArray>("body");
        const QByteArray body = R"({"data":{"ok":true}})";
        const QByteArray interim = "HTTP/1.1 100 Continue\r\n\r\n";
        const QByteArray final = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";
        const QByteArray longText = QByteArray(70 * 1024, 'e');

        QTest::newRow("head at the limit")
            << HttpAnswerText::withHeadOfSize(HttpResponseParser::maximumHeadSize, "{}") << false << State::complete
            << Failure::none << QByteArray("{}");
        QTest::newRow("head a byte over the limit")
            << HttpAnswerText::withHeadOfSize(HttpResponseParser::maximumHeadSize + 1, "{}") << false
            << State::failed << Failure::malformed << QByteArray();
        QTest::newRow("head line without end over the limit")
            << "HTTP/1.1 200 OK\r\nX-Long: " + longText << false << State::failed << Failure::malformed << QByteArray();
        QTest::newRow("interim answers up to the count")
            << interim.repeated(HttpResponseParser::maximumInterimAnswers) + final << false << State::complete
            << Failure::none << QByteArray("{}");
        QTest::newRow("interim answers past the count, connection open")
            << interim.repeated(HttpResponseParser::maximumInterimAnswers + 1) << false << State::failed
            << Failure::malformed << QByteArray();
        QTest::newRow("trailer fields up to the count")
            << chunked("2\r\n{}\r\n", trailerFields(HttpResponseParser::maximumTrailerFields)) << false
            << State::complete << Failure::none << QByteArray("{}");
        QTest::newRow("trailer fields past the count, connection open")
            << chunked("2\r\n{}\r\n", trailerFields(HttpResponseParser::maximumTrailerFields + 1)) << false
            << State::failed << Failure::malformed << QByteArray();
        QTest::newRow("trailer field over the limit")
            << chunked("2\r\n{}\r\n", "X-Long: " + longText + "\r\n") << false << State::failed << Failure::malformed
            << QByteArray();
        QTest::newRow("chunk extension over the limit")
            << chunked("2;x=" + longText + "\r\n{}\r\n") << false << State::failed << Failure::malformed << QByteArray();
        QTest::newRow("chunk longer than its size")
            << chunked("1\r\n{}\r\n") << false << State::failed << Failure::malformed << QByteArray();
        QTest::newRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << false << State::failed
                                  << Failure::malformed << QByteArray();

        QTest::newRow("gzip") << encoded("gzip", CompressedBody::gzip(body)) << false << State::complete
                              << Failure::none << body;
        QTest::newRow("deflate") << encoded("deflate", CompressedBody::deflate(body)) << false << State::complete
                                 << Failure::none << body;
        QTest::newRow("gzip in chunks, read to the end of the connection")
            << "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + CompressedBody::gzip(body) << true
            << State::complete << Failure::none << body;
        QTest::newRow("gzip members one after the other")
            << encoded("gzip", CompressedBody::gzip("{\"a\":") + CompressedBody::gzip("1}")) << false
            << State::complete << Failure::none << QByteArray("{\"a\":1}");
        QTest::newRow("gzip cut inside its stream")
            << "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + CompressedBody::gzip(body).chopped(6) << true
            << State::failed << Failure::malformed << QByteArray();
        QTest::newRow("gzip at the cap once decoded") << encoded("gzip", CompressedBody::gzip(QByteArray(cap, '0')))
                                                      << false << State::complete << Failure::none
                                                      << QByteArray(cap, '0');
        // A few kilobytes that stand for a megabyte: the cap holds for what they decode to.
        QTest::newRow("gzip over the cap once decoded")
            << encoded("gzip", CompressedBody::gzip(QByteArray(1024 * 1024, '0'))) << false << State::failed
            << Failure::tooLarge << QByteArray();
        // What Qt's stack reads too: bare deflate data, and a byte it never looks at after the
        // end; two bytes there that begin no stream are not data.
        QTest::newRow("deflate without its wrapping") << encoded("deflate", CompressedBody::rawDeflate(body)) << false
                                                      << State::complete << Failure::none << body;
        QTest::newRow("gzip and a line break") << encoded("gzip", CompressedBody::gzip(body) + "\n") << false
                                               << State::complete << Failure::none << body;
        QTest::newRow("gzip and a line break, read to the end of the connection")
            << "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + CompressedBody::gzip(body) + "\n" << true
            << State::complete << Failure::none << body;
        QTest::newRow("gzip and CR LF") << encoded("gzip", CompressedBody::gzip(body) + "\r\n") << false << State::failed
                                        << Failure::malformed << QByteArray();
        QTest::newRow("a lone byte named gzip") << encoded("gzip", "\x1f") << false << State::failed
                                                << Failure::malformed << QByteArray();
        QTest::newRow("coding that cannot be read")
            << encoded("br", QByteArray("\x0b\x02\x80{}\x03", 6)) << false << State::failed << Failure::malformed
            << QByteArray();
    }

    void verdictsDoNotDependOnTheReads()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, closes);
        QFETCH(State, state);
        QFETCH(Failure, failure);
        QFETCH(QByteArray, body);
        for (const qsizetype pieceSize : {answer.size(), qsizetype(1), qsizetype(7), qsizetype(4096)}) {
            const Verdict verdict = parsed(answer, pieceSize, closes);
            const QByteArray reads = "reads of " + QByteArray::number(pieceSize);
            QVERIFY2(verdict.state == state, reads.constData());
            QVERIFY2(verdict.failure == failure, reads.constData());
            if (state == State::complete)
                QVERIFY2(verdict.body == body, reads.constData());
        }
    }

    // A compressed body's verdict (whole, cut, broken, over the cap) is the same however its
    // bytes arrive: in one read, in two cut anywhere, or in reads of 1 to 8 bytes. The bodies
    // are gzip, zlib and bare deflate data with every kind of damage, under a cap that falls
    // inside them and one that does not, framed by a length and by the end of the connection.
    void compressedVerdictsDoNotDependOnTheReads()
    {
        QRandomGenerator random(67);
        QByteArray text(300, Qt::Uninitialized);
        for (char &letter : text)
            letter = char('a' + random.bounded(26));
        const QList<QPair<QByteArray, QByteArray>> whole = {
            {"gzip", CompressedBody::gzip(text)},
            {"deflate", CompressedBody::deflate(text)},
            {"deflate", CompressedBody::rawDeflate(text)},
            {"gzip", CompressedBody::gzip(text.left(100)) + CompressedBody::deflate(text.mid(100))},
            {"gzip", CompressedBody::gzip(text) + "\n"},
        };
        QList<QPair<QByteArray, QByteArray>> bodies;
        for (const auto &[coding, body] : whole) {
            bodies.append({coding, body});
            for (int variant = 0; variant < 12; ++variant) {
                QByteArray damaged = body;
                const qsizetype at = random.bounded(body.size());
                if (variant % 3 == 0)
                    damaged.truncate(at);
                else if (variant % 3 == 1)
                    damaged[at] = char(damaged.at(at) ^ char(1 << random.bounded(8)));
                else
                    damaged.insert(at, char(random.bounded(256)));
                bodies.append({coding, damaged});
            }
        }
        int checked = 0;
        for (const auto &[coding, body] : bodies) {
            for (const bool announced : {true, false}) {
                const QByteArray answer = announced ? encoded(coding, body)
                                                    : "HTTP/1.1 200 OK\r\nContent-Encoding: " + coding + "\r\n\r\n" + body;
                const qsizetype headSize = answer.size() - body.size();
                for (const qint64 bodyCap : {qint64(100), cap}) {
                    const Verdict expected = parsedInPieces(answer, {answer.size()}, !announced, bodyCap);
                    QList<QList<qsizetype>> splits;
                    for (qsizetype cut = headSize; cut < answer.size(); ++cut)
                        splits.append({cut, answer.size() - cut});
                    for (qsizetype piece = 1; piece <= 8; ++piece)
                        splits.append(QList<qsizetype>(answer.size() / piece + 1, piece));
                    for (const QList<qsizetype> &pieces : splits) {
                        const Verdict verdict = parsedInPieces(answer, pieces, !announced, bodyCap);
                        ++checked;
                        if (verdict.state != expected.state || verdict.failure != expected.failure
                            || verdict.body != expected.body) {
                            QFAIL(qPrintable(QStringLiteral("%1 body %2, cap %3, reads %4: %5 where whole gave %6")
                                                 .arg(QString::fromLatin1(coding), QString::fromLatin1(body.toHex()))
                                                 .arg(bodyCap)
                                                 .arg(QString::number(pieces.first()) + (pieces.size() > 1 ? QStringLiteral("+…") : QString()))
                                                 .arg(int(verdict.failure))
                                                 .arg(int(expected.failure))));
                        }
                    }
                }
            }
        }
        QVERIFY(checked > 10000);
    }

    // The work of reading grows with the bytes that came, not with the number of reads they
    // came in: a byte at a time costs what one read costs.
    void readingStaysLinear_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("closes");
        const QByteArray body(32 * 1024, 'b');
        QTest::newRow("65,000-byte head") << HttpAnswerText::withHeadOfSize(65000, "{}") << false;
        QTest::newRow("65,000-byte head of short fields")
            << "HTTP/1.1 200 OK\r\n" + QByteArray("A: 1\r\n").repeated(10800) + "Content-Length: 2\r\n\r\n{}" << false;
        QTest::newRow("head over the limit")
            << HttpAnswerText::withHeadOfSize(HttpResponseParser::maximumHeadSize + 1, "{}") << false;
        QTest::newRow("one-byte chunks") << chunked(QByteArray("1\r\nb\r\n").repeated(8000), trailerFields(100)) << false;
        QTest::newRow("body to the end of the connection") << "HTTP/1.1 200 OK\r\n\r\n" + body << true;
        QTest::newRow("gzip") << encoded("gzip", CompressedBody::gzip(body)) << false;
    }

    void readingStaysLinear()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, closes);
        const Verdict whole = parsed(answer, answer.size(), closes);
        const Verdict dripped = parsed(answer, 1, closes);
        QCOMPARE(dripped.state, whole.state);
        QCOMPARE(dripped.body, whole.body);
        QVERIFY2(whole.examinedBytes <= 3 * answer.size(), QByteArray::number(whole.examinedBytes).constData());
        QVERIFY2(dripped.examinedBytes <= 3 * answer.size(), QByteArray::number(dripped.examinedBytes).constData());
    }
};

QTEST_GUILESS_MAIN(tst_HttpResponseParser)
#include "tst_HttpResponseParser.moc"
