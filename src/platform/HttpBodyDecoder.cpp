#include "platform/HttpBodyDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace {

// The window bits that read a member, told by its first two bytes: the gzip magic, a zlib
// header (deflate, a window zlib knows, the check bits right), or else bare deflate data.
// Only the first member may be bare: after a member, bytes without a header are not data.
std::optional<int> windowBitsFor(unsigned char first, unsigned char second, bool firstMember)
{
    if (first == 0x1f && second == 0x8b)
        return MAX_WBITS + 16;
    const bool zlibHeader = (first & 0x0f) == Z_DEFLATED && (first >> 4) <= MAX_WBITS - 8
                            && ((first << 8) | second) % 31 == 0;
    if (zlibHeader)
        return MAX_WBITS;
    if (firstMember)
        return -MAX_WBITS;
    return std::nullopt;
}

} // namespace

struct HttpBodyDecoder::Stream
{
    z_stream z;
    bool initialised = false;
    // Inside a member; otherwise before the first one or after the end of the last one.
    bool inMember = false;
    int endedMembers = 0;
    // The first bytes of the next member, held until they tell how it is wrapped.
    QByteArray lead;
    std::optional<Result> failure;

    // Starts the member the lead tells of; false (and a failure) when it tells of none.
    bool beginMember();
    // Reads the open member from `input` onwards, advancing input past what it took; a fault
    // is kept in `failure`.
    void inflateMember(const char *&input, qsizetype &size, QByteArray &decoded, qint64 maximumSize);
};

HttpBodyDecoder::HttpBodyDecoder()
    : m_stream(std::make_unique<Stream>())
{
    std::memset(&m_stream->z, 0, sizeof(m_stream->z));
}

HttpBodyDecoder::~HttpBodyDecoder()
{
    if (m_stream->initialised)
        inflateEnd(&m_stream->z);
}

bool HttpBodyDecoder::reads(const QByteArray &coding)
{
    return coding == "gzip" || coding == "x-gzip" || coding == "deflate";
}

HttpBodyDecoder::Result HttpBodyDecoder::decode(const char *data, qsizetype size, QByteArray &decoded,
                                                qint64 maximumSize)
{
    Stream &stream = *m_stream;
    while (size > 0 && !stream.failure) {
        if (stream.inMember) {
            stream.inflateMember(data, size, decoded, maximumSize);
            continue;
        }
        const qsizetype taken = std::min<qsizetype>(2 - stream.lead.size(), size);
        stream.lead.append(data, taken);
        data += taken;
        size -= taken;
        if (stream.lead.size() < 2 || !stream.beginMember())
            break;
        const QByteArray lead = std::exchange(stream.lead, QByteArray());
        const char *leadData = lead.constData();
        qsizetype leadSize = lead.size();
        stream.inflateMember(leadData, leadSize, decoded, maximumSize);
        // A member that ended inside those two bytes leaves the rest as the next one's lead.
        stream.lead = QByteArray(leadData, leadSize);
    }
    return stream.failure.value_or(Result::ok);
}

bool HttpBodyDecoder::Stream::beginMember()
{
    const std::optional<int> windowBits = windowBitsFor(uchar(lead.at(0)), uchar(lead.at(1)), endedMembers == 0);
    if (!windowBits) {
        failure = Result::malformed;
        return false;
    }
    const int status = initialised ? inflateReset2(&z, *windowBits) : inflateInit2(&z, *windowBits);
    initialised = initialised || status == Z_OK;
    if (status != Z_OK) {
        failure = Result::malformed;
        return false;
    }
    inMember = true;
    return true;
}

void HttpBodyDecoder::Stream::inflateMember(const char *&input, qsizetype &size, QByteArray &decoded,
                                            qint64 maximumSize)
{
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(input));
    z.avail_in = uInt(size);
    constexpr qsizetype step = 16 * 1024;
    for (;;) {
        // Room for one byte more than the cap: a stream that fills it passed the cap.
        const qsizetype room = qsizetype(std::min<qint64>(step, maximumSize - decoded.size() + 1));
        const qsizetype before = decoded.size();
        decoded.resize(before + room);
        z.next_out = reinterpret_cast<Bytef *>(decoded.data() + before);
        z.avail_out = uInt(room);
        const int status = inflate(&z, Z_NO_FLUSH);
        const bool filled = z.avail_out == 0;
        decoded.resize(before + room - qsizetype(z.avail_out));
        if (decoded.size() > maximumSize) {
            decoded.resize(qsizetype(maximumSize));
            failure = Result::tooLarge;
            break;
        }
        if (status == Z_STREAM_END) {
            inMember = false;
            ++endedMembers;
            break;
        }
        // Z_BUF_ERROR: nothing to do until more bytes come.
        if (status != Z_OK && status != Z_BUF_ERROR) {
            failure = Result::malformed;
            break;
        }
        // A full output may leave decoded bytes inside zlib even when the input is all taken:
        // they come out on another round now, not on a next call that may never come.
        if (status == Z_BUF_ERROR || (z.avail_in == 0 && !filled))
            break;
    }
    const qsizetype taken = size - qsizetype(z.avail_in);
    input += taken;
    size -= taken;
}

bool HttpBodyDecoder::isAtStreamEnd() const
{
    const Stream &stream = *m_stream;
    if (stream.failure || stream.inMember)
        return false;
    // One byte after a member cannot begin another; Qt's stack lets it pass.
    return stream.lead.isEmpty() || stream.endedMembers > 0;
}
