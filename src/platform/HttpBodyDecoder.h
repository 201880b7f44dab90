#pragma once

#include <QByteArray>

#include <memory>

// Undoes the gzip or deflate coding of an HTTP body as its bytes arrive, as Qt's HTTP stack
// does for the bodies it asked to have compressed. The decoded body is held to a cap: a few
// compressed kilobytes can stand for gigabytes.
class HttpBodyDecoder final
{
public:
    enum class Result {
        ok,
        // The bytes are not gzip or deflate data, or data follows the end of the stream.
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
    // maximumSize.
    Result decode(const char *data, qsizetype size, QByteArray &decoded, qint64 maximumSize);
    // Whether every stream that began has ended: a body that stops inside one was cut.
    bool isAtStreamEnd() const;

private:
    struct Stream;
    std::unique_ptr<Stream> m_stream;
};
