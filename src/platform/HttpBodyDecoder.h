#pragma once

#include <QByteArray>

#include <memory>

// Undoes the gzip or deflate coding of an HTTP body as its bytes arrive, reading what Qt's HTTP
// stack reads for the bodies it decompresses, whatever coding the header names: a gzip member,
// deflate in zlib's wrapping, or bare deflate data as some servers send for "deflate"; members
// one after the other; and a lone byte after the last member, which Qt's stack never gets to
// look at. Two or more bytes after a member must begin another one.
//
// The verdict depends on the bytes alone, never on how they are split into calls. The decoded
// body is held to a cap: a few compressed kilobytes can stand for gigabytes.
class HttpBodyDecoder final
{
public:
    enum class Result {
        ok,
        // The bytes are not gzip or deflate data, or what follows the end of the data is not.
        malformed,
        // The decoded body passed the cap.
        tooLarge,
    };

    HttpBodyDecoder();
    ~HttpBodyDecoder();
    HttpBodyDecoder(const HttpBodyDecoder &) = delete;
    HttpBodyDecoder &operator=(const HttpBodyDecoder &) = delete;

    // Whether the body names a coding this decoder reads ("gzip", "x-gzip", "deflate").
    static bool reads(const QByteArray &coding);

    // Decodes the next bytes of the body onto the end of decoded, which never grows past
    // maximumSize. After a failure every call fails the same way.
    Result decode(const char *data, qsizetype size, QByteArray &decoded, qint64 maximumSize);
    // Whether the body may end here: no member is left open. A body that stops inside one
    // was cut.
    bool isAtStreamEnd() const;

private:
    struct Stream;
    std::unique_ptr<Stream> m_stream;
};
