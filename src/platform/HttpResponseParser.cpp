#include "platform/HttpResponseParser.h"

#include <algorithm>
#include <cstring>

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

HttpResponseParser::HttpResponseParser(bool answersHeadRequest, qint64 maximumBodySize, bool decodesContent)
    : m_answersHeadRequest(answersHeadRequest)
    , m_maximumBodySize(maximumBodySize)
    , m_decodesContent(decodesContent)
{
}

void HttpResponseParser::feed(const QByteArray &bytes)
{
    if (bytes.isEmpty() || m_state == State::complete || m_state == State::failed)
        return;
    m_hasInput = true;
    m_buffer.append(bytes);
    parse();
    compactBuffer();
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
                                    .arg(m_receivedBodyBytes)
                                    .arg(m_receivedBodyBytes + m_remaining));
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
    // One line at a time, as it comes: bytes already read are never read again.
    const qsizetype lineStart = m_readOffset;
    QByteArray line;
    switch (takeLine(maximumHeadSize - m_headBytes, line)) {
    case LineResult::incomplete:
        return false;
    case LineResult::tooLong:
        fail(Failure::malformed, QStringLiteral("the head of the answer is larger than %1 bytes").arg(maximumHeadSize));
        return false;
    case LineResult::line:
        break;
    }
    m_headBytes += m_readOffset - lineStart;
    return parseHeadLine(line);
}

bool HttpResponseParser::parseHeadLine(const QByteArray &line)
{
    if (!m_headStatus) {
        // Empty lines before an answer are left over from the one before; they say nothing.
        if (line.isEmpty())
            return true;
        // "HTTP/1.1 200 OK": a version, a three-digit code, an optional reason.
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() < 2 || !parts.at(0).startsWith("HTTP/1.") || parts.at(1).size() != 3
            || !isDigits(parts.at(1))) {
            fail(Failure::malformed, QStringLiteral("not an HTTP/1 answer: %1").arg(QString::fromLatin1(line.left(80))));
            return false;
        }
        const int status = parts.at(1).toInt();
        if (status == 101) {
            fail(Failure::malformed, QStringLiteral("the server switched protocols unasked"));
            return false;
        }
        m_headStatus = status;
        m_headFields.clear();
        return true;
    }
    if (line.isEmpty())
        return finishHead();
    if (isBlank(line.at(0))) {
        // An old-style continuation of the field before.
        if (!m_headFields.isEmpty())
            m_headFields.last().second += ' ' + trimmedBlanks(line);
        return true;
    }
    const qsizetype colon = line.indexOf(':');
    const QByteArray name = colon > 0 ? line.left(colon) : QByteArray();
    if (!name.isEmpty() && !isBlank(name.back()))
        m_headFields.append({name, trimmedBlanks(line.mid(colon + 1))});
    return true;
}

bool HttpResponseParser::finishHead()
{
    const int status = *m_headStatus;
    m_headStatus.reset();
    if (status >= 100 && status < 200) {
        // An interim answer; the final one follows, unless the server sends nothing else.
        if (++m_interimAnswers > maximumInterimAnswers) {
            fail(Failure::malformed, QStringLiteral("more than %1 interim answers").arg(maximumInterimAnswers));
            return false;
        }
        m_headFields.clear();
        return true;
    }

    m_status = status;
    m_headers = std::move(m_headFields);
    m_headFields.clear();
    m_state = State::body;
    if (m_answersHeadRequest || status == 204 || status == 304) {
        m_framing = Framing::none;
        complete();
        return true;
    }

    QList<QByteArray> contentCodings = listElements(m_headers, "Content-Encoding");
    contentCodings.removeAll("identity");
    if (m_decodesContent && !contentCodings.isEmpty()) {
        if (contentCodings.size() == 1 && HttpBodyDecoder::reads(contentCodings.first()))
            m_decoder = std::make_unique<HttpBodyDecoder>();
        else
            m_unreadableCoding = contentCodings.join(", ");
    }

    const QList<QByteArray> codings = listElements(m_headers, "Transfer-Encoding");
    const QList<QByteArray> lengths = listElements(m_headers, "Content-Length");
    if (m_decoder) {
        // The length counts the compressed bytes, not the body the caller gets.
        m_headers.removeIf([](const QPair<QByteArray, QByteArray> &field) {
            return field.first.compare("Content-Length", Qt::CaseInsensitive) == 0;
        });
    }
    if (!codings.isEmpty()) {
        m_framing = codings.last() == "chunked" ? Framing::chunked : Framing::untilClose;
        return true;
    }
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
        const qsizetype available = m_buffer.size() - m_readOffset;
        if (available == 0)
            return false;
        const qsizetype offset = m_readOffset;
        m_readOffset = m_buffer.size();
        appendBody(m_buffer.constData() + offset, available);
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
    QByteArray line;
    switch (m_chunkStep) {
    case ChunkStep::size: {
        switch (takeLine(maximumHeadSize, line)) {
        case LineResult::incomplete:
            return false;
        case LineResult::tooLong:
            fail(Failure::malformed, QStringLiteral("a line of the chunked body is larger than %1 bytes").arg(maximumHeadSize));
            return false;
        case LineResult::line:
            break;
        }
        // "1a3f;name=value": the size in hex, extensions ignored.
        const qsizetype semicolon = line.indexOf(';');
        const QByteArray digits = trimmedBlanks(semicolon >= 0 ? line.left(semicolon) : line);
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
        // Nothing but the line end may follow the chunk's bytes.
        const LineResult result = takeLine(2, line);
        if (result == LineResult::incomplete)
            return false;
        if (result == LineResult::tooLong || !line.isEmpty()) {
            fail(Failure::malformed, QStringLiteral("a chunk longer than its size"));
            return false;
        }
        m_chunkStep = ChunkStep::size;
        return true;
    }
    case ChunkStep::trailer: {
        const qsizetype lineStart = m_readOffset;
        switch (takeLine(maximumHeadSize - m_trailerBytes, line)) {
        case LineResult::incomplete:
            return false;
        case LineResult::tooLong:
            fail(Failure::malformed, QStringLiteral("the trailer fields are larger than %1 bytes").arg(maximumHeadSize));
            return false;
        case LineResult::line:
            break;
        }
        m_trailerBytes += m_readOffset - lineStart;
        if (line.isEmpty()) {
            complete();
            return true;
        }
        if (++m_trailerFields > maximumTrailerFields) {
            fail(Failure::malformed, QStringLiteral("more than %1 trailer fields").arg(maximumTrailerFields));
            return false;
        }
        return true;
    }
    }
    return false;
}

HttpResponseParser::LineResult HttpResponseParser::takeLine(qsizetype maximumSize, QByteArray &line)
{
    const qsizetype size = m_buffer.size();
    if (size == m_readOffset)
        return LineResult::incomplete;
    // A line end is looked for once per byte, and never further than the longest line allowed.
    const char *data = m_buffer.constData();
    const qsizetype from = std::max(m_scannedTo, m_readOffset);
    const qsizetype searchEnd = std::min(size, m_readOffset + std::max<qsizetype>(maximumSize, 0));
    const void *found = from < searchEnd ? std::memchr(data + from, '\n', size_t(searchEnd - from)) : nullptr;
    if (!found) {
        m_examinedBytes += std::max<qsizetype>(searchEnd - from, 0);
        m_scannedTo = std::max(searchEnd, m_readOffset);
        return size - m_readOffset >= maximumSize ? LineResult::tooLong : LineResult::incomplete;
    }
    const qsizetype newline = static_cast<const char *>(found) - data;
    qsizetype end = newline;
    if (end > m_readOffset && data[end - 1] == '\r')
        --end;
    line = QByteArray(data + m_readOffset, end - m_readOffset);
    m_examinedBytes += (newline + 1 - from) + (end - m_readOffset);
    m_readOffset = newline + 1;
    m_scannedTo = m_readOffset;
    return LineResult::line;
}

bool HttpResponseParser::takeCountedBytes()
{
    const qsizetype available = m_buffer.size() - m_readOffset;
    if (available == 0)
        return false;
    const qsizetype taken = qsizetype(std::min<qint64>(m_remaining, available));
    const qsizetype offset = m_readOffset;
    m_readOffset += taken;
    m_remaining -= taken;
    return appendBody(m_buffer.constData() + offset, taken);
}

bool HttpResponseParser::appendBody(const char *data, qsizetype size)
{
    m_examinedBytes += size;
    if (size > 0 && !m_unreadableCoding.isEmpty()) {
        fail(Failure::malformed, QStringLiteral("a body in the %1 encoding, which cannot be read")
                                     .arg(QString::fromLatin1(m_unreadableCoding)));
        return false;
    }
    // The bytes up to the cap are read before the cap is found passed: a fault among them is
    // the verdict whether the body came in one piece or in many.
    const qsizetype withinCap = qsizetype(std::min<qint64>(size, m_maximumBodySize - m_receivedBodyBytes));
    m_receivedBodyBytes += withinCap;
    if (!m_decoder) {
        m_body.append(data, withinCap);
    } else {
        switch (m_decoder->decode(data, withinCap, m_body, m_maximumBodySize)) {
        case HttpBodyDecoder::Result::ok:
            break;
        case HttpBodyDecoder::Result::malformed:
            fail(Failure::malformed, QStringLiteral("the body does not decode from its compressed form"));
            return false;
        case HttpBodyDecoder::Result::tooLarge:
            fail(Failure::tooLarge, QStringLiteral("the reply is larger than %1 bytes once decoded").arg(m_maximumBodySize));
            return false;
        }
    }
    if (withinCap < size) {
        fail(Failure::tooLarge, QStringLiteral("the reply is larger than %1 bytes").arg(m_maximumBodySize));
        return false;
    }
    return true;
}

void HttpResponseParser::compactBuffer()
{
    // Each byte is moved at most once per time the unread part halves: linear in all.
    if (m_readOffset == 0 || m_state == State::complete || m_state == State::failed)
        return;
    if (m_readOffset * 2 < m_buffer.size())
        return;
    m_examinedBytes += m_buffer.size() - m_readOffset;
    m_buffer.remove(0, m_readOffset);
    m_scannedTo = std::max<qsizetype>(m_scannedTo - m_readOffset, 0);
    m_readOffset = 0;
}

void HttpResponseParser::complete()
{
    if (m_decoder && !m_decoder->isAtStreamEnd()) {
        fail(Failure::malformed, QStringLiteral("the body ends inside its compressed form"));
        return;
    }
    m_state = State::complete;
    m_buffer.clear();
    m_readOffset = 0;
    m_scannedTo = 0;
}

void HttpResponseParser::fail(Failure failure, const QString &detail)
{
    m_state = State::failed;
    m_failure = failure;
    m_failureDetail = detail;
    m_buffer.clear();
    m_readOffset = 0;
    m_scannedTo = 0;
}
