#include "support/CompressedBody.h"

#include <zlib.h>

#include <cstring>

namespace {

QByteArray compressed(const QByteArray &text, int windowBits)
{
    z_stream stream;
    std::memset(&stream, 0, sizeof(stream));
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out(qsizetype(deflateBound(&stream, uLong(text.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.constData()));
    stream.avail_in = uInt(text.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return status == Z_STREAM_END ? out : QByteArray();
}

} // namespace

namespace CompressedBody {

QByteArray gzip(const QByteArray &text)
{
    return compressed(text, MAX_WBITS + 16);
}

QByteArray deflate(const QByteArray &text)
{
    return compressed(text, MAX_WBITS);
}

QByteArray rawDeflate(const QByteArray &text)
{
    return compressed(text, -MAX_WBITS);
}

} // namespace CompressedBody
