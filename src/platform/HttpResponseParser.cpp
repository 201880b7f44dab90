#include "platform/HttpResponseParser.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimmedBlanks(const QByteArray &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// The comma-separated elements of every field with this name, trimmed and in lower case.
QList<QByteArray> listElements(const QList<QPair<QByteArray, QByteArray>> &headers, const QByteArray &name)
{
    QList<QByteArray> elements;
    for (const auto &field : headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        const QList<QByteArray> parts = field.second.split(',');
        for (const QByteArray &part : parts) {
            const QByteArray element = trimmedBlanks(part).toLower();
            if (!element.isEmpty())
                elements.append(element);
        }
    }
    return elements;
}

bool isDigits(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace

HttpResponseParser::HttpResponseParser(bool answersHeadRequest, qint64 maximumBodySize)
    : m_answersHeadRequest(answersHeadRequest)
    , m_maximumBodySize(maximumBodySize)
{
}

void HttpResponseParser::feed(const QByteArray &bytes)
{
    if (bytes.isEmpty() || m_state == State::complete || m_state == State::failed)
        return;
    m_hasInput = true;
    m_buffer.append(bytes);
    parse();
}

void HttpResponseParser::finishInput()
{
    switch (m_state) {
    case State::complete:
    case State::failed:
        return;
    case State::head:
        fail(Failure::cutShort, m_hasInput ? QStringLiteral("the connection closed inside the head of the answer")
                                           : QStringLiteral("the connection closed before any answer"));
        return;
    case State::body:
        break;
    }
    switch (m_framing) {
    case Framing::untilClose:
        complete();
        return;
    case Framing::length:
        fail(Failure::cutShort, QStringLiteral("the reply ended after %1 of the %2 bytes it announced")
                                    .arg(m_body.size())
                                    .arg(m_body.size() + m_remaining));
        return;
    case Framing::chunked:
        fail(Failure::cutShort, QStringLiteral("the reply ended before its last chunk"));
        return;
    case Framing::none:
        complete();
        return;
    }
}

void HttpResponseParser::parse()
{
    while (m_state == State::head || m_state == State::body) {
        const bool progressed = m_state == State::head ? parseHead() : parseBody();
        if (!progressed)
            return;
    }
}

bool HttpResponseParser::parseHead()
{
    // The head is read whole once its closing empty line is here.
    QList<QByteArray> lines;
    qsizetype lineStart = 0;
    qsizetype headEnd = -1;
    while (headEnd < 0) {
        const qsizetype newline = m_buffer.indexOf('\n', lineStart);
        if (newline < 0)
            break;
        QByteArray line = m_buffer.mid(lineStart, newline - lineStart);
        if (line.endsWith('\r'))
            line.chop(1);
        lineStart = newline + 1;
        if (!line.isEmpty())
            lines.append(line);
        else if (!lines.isEmpty())
            headEnd = lineStart;
    }
    if (headEnd < 0) {
        if (m_buffer.size() > maximumHeadSize)
            fail(Failure::malformed, QStringLiteral("the head of the answer is larger than %1 bytes").arg(maximumHeadSize));
        return false;
    }
    m_buffer.remove(0, headEnd);

    // "HTTP/1.1 200 OK": a version, a three-digit code, an optional reason.
    const QByteArray statusLine = lines.takeFirst();
    const QList<QByteArray> parts = statusLine.split(' ');
    if (parts.size() < 2 || !parts.at(0).startsWith("HTTP/1.") || parts.at(1).size() != 3 || !isDigits(parts.at(1))) {
        fail(Failure::malformed, QStringLiteral("not an HTTP/1 answer: %1").arg(QString::fromLatin1(statusLine.left(80))));
        return false;
    }
    const int status = parts.at(1).toInt();
    QList<QPair<QByteArray, QByteArray>> headers;
    for (const QByteArray &line : std::as_const(lines)) {
        if (isBlank(line.at(0)) && !headers.isEmpty()) {
            // An old-style continuation of the field before.
            headers.last().second += ' ' + trimmedBlanks(line);
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = colon > 0 ? line.left(colon) : QByteArray();
        if (name.isEmpty() || isBlank(name.back()))
            continue;
        headers.append({name, trimmedBlanks(line.mid(colon + 1))});
    }

    if (status == 101) {
        fail(Failure::malformed, QStringLiteral("the server switched protocols unasked"));
        return false;
    }
    if (status >= 100 && status < 200)
        return true; // an interim answer; the final one follows

    m_status = status;
    m_headers = headers;
    m_state = State::body;
    if (m_answersHeadRequest || status == 204 || status == 304) {
        m_framing = Framing::none;
        complete();
        return true;
    }
    const QList<QByteArray> codings = listElements(m_headers, "Transfer-Encoding");
    if (!codings.isEmpty()) {
        m_framing = codings.last() == "chunked" ? Framing::chunked : Framing::untilClose;
        return true;
    }
    const QList<QByteArray> lengths = listElements(m_headers, "Content-Length");
    if (lengths.isEmpty()) {
        m_framing = Framing::untilClose;
        return true;
    }
    for (const QByteArray &length : lengths) {
        if (!isDigits(length) || length.size() > 18 || length != lengths.first()) {
            fail(Failure::malformed, QStringLiteral("the answer's Content-Length is not one number"));
            return false;
        }
    }
    m_framing = Framing::length;
    m_remaining = lengths.first().toLongLong();
    if (m_remaining > m_maximumBodySize) {
        fail(Failure::tooLarge, QStringLiteral("the reply announces %1 bytes").arg(m_remaining));
        return false;
    }
    if (m_remaining == 0)
        complete();
    return true;
}

bool HttpResponseParser::parseBody()
{
    switch (m_framing) {
    case Framing::chunked:
        return parseChunked();
    case Framing::length:
        if (!takeCountedBytes())
            return false;
        if (m_remaining == 0)
            complete();
        return true;
    case Framing::untilClose: {
        if (m_buffer.isEmpty())
            return false;
        const QByteArray bytes = m_buffer;
        m_buffer.clear();
        appendBody(bytes);
        return false;
    }
    case Framing::none:
        complete();
        return true;
    }
    return false;
}

bool HttpResponseParser::parseChunked()
{
    switch (m_chunkStep) {
    case ChunkStep::size: {
        const std::optional<QByteArray> line = takeLine();
        if (!line)
            return false;
        // "1a3f;name=value": the size in hex, extensions ignored.
        const qsizetype semicolon = line->indexOf(';');
        const QByteArray digits = trimmedBlanks(semicolon >= 0 ? line->left(semicolon) : *line);
        bool ok = false;
        const qint64 size = digits.size() <= 15 ? digits.toLongLong(&ok, 16) : 0;
        if (!ok || size < 0 || digits.startsWith('+') || digits.startsWith('-')) {
            fail(Failure::malformed, QStringLiteral("a chunk size that is not a number"));
            return false;
        }
        m_remaining = size;
        m_chunkStep = size == 0 ? ChunkStep::trailer : ChunkStep::data;
        return true;
    }
    case ChunkStep::data:
        if (!takeCountedBytes())
            return false;
        if (m_remaining == 0)
            m_chunkStep = ChunkStep::dataEnd;
        return true;
    case ChunkStep::dataEnd: {
        const std::optional<QByteArray> line = takeLine();
        if (!line)
            return false;
        if (!line->isEmpty()) {
            fail(Failure::malformed, QStringLiteral("a chunk longer than its size"));
            return false;
        }
        m_chunkStep = ChunkStep::size;
        return true;
    }
    case ChunkStep::trailer: {
        const std::optional<QByteArray> line = takeLine();
        if (!line)
            return false;
        if (line->isEmpty())
            complete();
        return true;
    }
    }
    return false;
}

std::optional<QByteArray> HttpResponseParser::takeLine()
{
    const qsizetype newline = m_buffer.indexOf('\n');
    if (newline < 0) {
        if (m_buffer.size() > maximumHeadSize)
            fail(Failure::malformed, QStringLiteral("a line of the chunked body is larger than %1 bytes").arg(maximumHeadSize));
        return std::nullopt;
    }
    QByteArray line = m_buffer.left(newline);
    if (line.endsWith('\r'))
        line.chop(1);
    m_buffer.remove(0, newline + 1);
    return line;
}

bool HttpResponseParser::takeCountedBytes()
{
    if (m_buffer.isEmpty())
        return false;
    const qsizetype taken = qsizetype(std::min<qint64>(m_remaining, m_buffer.size()));
    if (!appendBody(m_buffer.left(taken)))
        return false;
    m_buffer.remove(0, taken);
    m_remaining -= taken;
    return true;
}

bool HttpResponseParser::appendBody(const QByteArray &bytes)
{
    if (m_body.size() + bytes.size() > m_maximumBodySize) {
        fail(Failure::tooLarge, QStringLiteral("the reply is larger than %1 bytes").arg(m_maximumBodySize));
        return false;
    }
    m_body.append(bytes);
    return true;
}

void HttpResponseParser::complete()
{
    // No Accept-Encoding goes out, so a body comes as it is; one encoded all the same cannot be
    // read here.
    const QList<QByteArray> encodings = listElements(m_headers, "Content-Encoding");
    for (const QByteArray &encoding : encodings) {
        if (encoding != "identity" && !m_body.isEmpty()) {
            fail(Failure::malformed, QStringLiteral("a body in the %1 encoding, which was not asked for")
                                         .arg(QString::fromLatin1(encoding)));
            return;
        }
    }
    m_state = State::complete;
    m_buffer.clear();
}

void HttpResponseParser::fail(Failure failure, const QString &detail)
{
    m_state = State::failed;
    m_failure = failure;
    m_failureDetail = detail;
    m_buffer.clear();
}
