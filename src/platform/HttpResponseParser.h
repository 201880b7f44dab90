#pragma once

#include "platform/HttpBodyDecoder.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>
#include <optional>

// Reads one HTTP/1.1 answer as its bytes arrive: the status line and head (interim 1xx answers
// skipped), then the body framed by Transfer-Encoding: chunked, by Content-Length, or by the end
// of the connection, decoded from gzip or deflate when asked to. It knows when the answer is
// whole, and tells a broken one (a connection that ends too early, bytes that are not HTTP, a
// body it cannot read) from a whole one.
//
// Each byte is looked at a bounded number of times however the bytes are split: a server that
// sends its head a byte at a time costs no more than one that sends it at once. Every part that
// is not body is bounded in size and in count, so only the body cap and the caller's timer
// bound how long an answer may run.
class HttpResponseParser final
{
public:
    enum class State {
        head,
        body,
        complete,
        failed,
    };
    enum class Failure {
        none,
        // The connection ended before the answer was whole.
        cutShort,
        // The bytes are not an HTTP/1.x answer this client can read.
        malformed,
        // The body passed the cap.
        tooLarge,
    };

    // Heads larger than this in all (interim answers included) are not an answer of our backend;
    // the same holds for one line of chunk framing, and for the trailer fields.
    static constexpr qsizetype maximumHeadSize = 64 * 1024;
    static constexpr int maximumInterimAnswers = 16;
    static constexpr int maximumTrailerFields = 100;

    // Answers to HEAD carry no body whatever their head says. With decodesContent, a body in
    // the gzip or deflate coding is decoded (the request asked for them), and the cap holds
    // for the decoded body as well as for the bytes that came.
    HttpResponseParser(bool answersHeadRequest, qint64 maximumBodySize, bool decodesContent = false);

    // Takes the next bytes of the connection.
    void feed(const QByteArray &bytes);
    // The connection ended: a body that runs to the end of the connection is whole now,
    // anything else was cut short.
    void finishInput();

    State state() const { return m_state; }
    bool isComplete() const { return m_state == State::complete; }
    Failure failure() const { return m_failure; }
    // What went wrong, for logs.
    QString failureDetail() const { return m_failureDetail; }
    // Whether any byte of an answer arrived.
    bool hasInput() const { return m_hasInput; }

    // The status code as the status line gives it (outside 100-599 for a code HTTP does not
    // know), once the head is read.
    std::optional<int> status() const { return m_status; }
    // Fields of the final head, as received, repeated fields kept apart.
    const QList<QPair<QByteArray, QByteArray>> &headers() const { return m_headers; }
    const QByteArray &body() const { return m_body; }

    // How many bytes of input the parser has looked at so far, searching and copying: it grows
    // with the input, not with the number of pieces the input came in.
    qint64 examinedBytes() const { return m_examinedBytes; }

private:
    enum class Framing {
        none,
        length,
        chunked,
        untilClose,
    };
    enum class ChunkStep {
        size,
        data,
        dataEnd,
        trailer,
    };

    enum class LineResult {
        line,
        incomplete,
        tooLong,
    };

    void parse();
    bool parseHead();
    bool parseHeadLine(const QByteArray &line);
    bool finishHead();
    bool parseBody();
    bool parseChunked();
    // The next line of the buffer without its line end. A line whose bytes, line end included,
    // pass maximumSize is tooLong, whether its end is here or not.
    LineResult takeLine(qsizetype maximumSize, QByteArray &line);
    // Moves up to m_remaining buffered bytes into the body; false when none were buffered or
    // the body passed the cap.
    bool takeCountedBytes();
    bool appendBody(const char *data, qsizetype size);
    // Drops the bytes already read from the front of the buffer, once they are at least half of it.
    void compactBuffer();
    void complete();
    void fail(Failure failure, const QString &detail);

    bool m_answersHeadRequest = false;
    qint64 m_maximumBodySize = 0;
    bool m_decodesContent = false;
    State m_state = State::head;
    Failure m_failure = Failure::none;
    QString m_failureDetail;
    bool m_hasInput = false;
    QByteArray m_buffer;
    // Where the unread bytes of m_buffer begin, and how far past them a line end was looked for.
    qsizetype m_readOffset = 0;
    qsizetype m_scannedTo = 0;
    qint64 m_examinedBytes = 0;

    // The head being read: its status line, once here, and its fields.
    std::optional<int> m_headStatus;
    QList<QPair<QByteArray, QByteArray>> m_headFields;
    qsizetype m_headBytes = 0;
    int m_interimAnswers = 0;

    std::optional<int> m_status;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    QByteArray m_body;

    Framing m_framing = Framing::none;
    qint64 m_remaining = 0;
    ChunkStep m_chunkStep = ChunkStep::size;
    qsizetype m_trailerBytes = 0;
    int m_trailerFields = 0;
    // The body's bytes as they came, before decoding.
    qint64 m_receivedBodyBytes = 0;
    std::unique_ptr<HttpBodyDecoder> m_decoder;
    // A coding the body came in that cannot be read.
    QByteArray m_unreadableCoding;
};
