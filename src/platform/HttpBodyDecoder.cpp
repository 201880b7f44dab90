#include "platform/HttpBodyDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

struct HttpBodyDecoder::Stream
{
    z_stream z;
    bool initialised = false;
    // Between two gzip members, or before the first byte.
    bool atEnd = true;
    bool failed = false;
};

HttpBodyDecoder::HttpBodyDecoder()
    : m_stream(std::make_unique<Stream>())
{
    std::memset(&m_stream->z, 0, sizeof(m_stream->z));
    // Adding 32 to the window bits reads both the zlib and the gzip wrapping, whatever the
    // header names: servers send one for the other.
    m_stream->initialised = inflateInit2(&m_stream->z, MAX_WBITS + 32) == Z_OK;
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
    if (!stream.initialised || stream.failed)
        return Result::malformed;
    z_stream &z = stream.z;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    z.avail_in = uInt(size);
    constexpr qsizetype step = 16 * 1024;
    while (z.avail_in > 0) {
        stream.atEnd = false;
        // Room for one step more than the cap: a stream that fills it passed the cap.
        const qsizetype room = qsizetype(std::min<qint64>(step, maximumSize - decoded.size() + 1));
        const qsizetype before = decoded.size();
        decoded.resize(before + room);
        z.next_out = reinterpret_cast<Bytef *>(decoded.data() + before);
        z.avail_out = uInt(room);
        const int status = inflate(&z, Z_NO_FLUSH);
        decoded.resize(before + room - qsizetype(z.avail_out));
        if (decoded.size() > maximumSize) {
            decoded.resize(qsizetype(maximumSize));
            stream.failed = true;
            return Result::tooLarge;
        }
        if (status == Z_STREAM_END) {
            // Another gzip member may follow, as with files joined by cat.
            stream.atEnd = true;
            inflateReset(&z);
            continue;
        }
        if (status != Z_OK) {
            stream.failed = true;
            return Result::malformed;
        }
    }
    return Result::ok;
}

bool HttpBodyDecoder::isAtStreamEnd() const
{
    return m_stream->atEnd && !m_stream->failed;
}
