#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// Reads one HTTP/1.1 answer as its bytes arrive: the status line and head (interim 1xx answers
// skipped), then the body framed by Transfer-Encoding: chunked, by Content-Length, or by the end
// of the connection. It knows when the answer is whole, and tells a broken one (a connection
// that ends too early, bytes that are not HTTP, a body it cannot read) from a whole one.
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

    // A head larger than this is not an answer of our backend.
    static constexpr qsizetype maximumHeadSize = 64 * 1024;

    // Answers to HEAD carry no body whatever their head says.
    HttpResponseParser(bool answersHeadRequest, qint64 maximumBodySize);

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

    void parse();
    bool parseHead();
    bool parseBody();
    bool parseChunked();
    // The next line of the buffer without its line end, or nothing when it is not all here.
    std::optional<QByteArray> takeLine();
    // Moves up to m_remaining buffered bytes into the body; false when none were buffered or
    // the body passed the cap.
    bool takeCountedBytes();
    bool appendBody(const QByteArray &bytes);
    void complete();
    void fail(Failure failure, const QString &detail);

    bool m_answersHeadRequest = false;
    qint64 m_maximumBodySize = 0;
    State m_state = State::head;
    Failure m_failure = Failure::none;
    QString m_failureDetail;
    bool m_hasInput = false;
    QByteArray m_buffer;

    std::optional<int> m_status;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    QByteArray m_body;

    Framing m_framing = Framing::none;
    qint64 m_remaining = 0;
    ChunkStep m_chunkStep = ChunkStep::size;
};
