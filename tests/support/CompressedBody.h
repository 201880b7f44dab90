#pragma once

// Bodies in the codings HTTP servers compress with, as a server or gateway would send them.

#include <QByteArray>

namespace CompressedBody {

// The gzip coding (a gzip member).
QByteArray gzip(const QByteArray &text);
// The deflate coding as HTTP means it: zlib's wrapping around deflate data.
QByteArray deflate(const QByteArray &text);
// Deflate data without a wrapping, as some servers send for the deflate coding.
QByteArray rawDeflate(const QByteArray &text);

} // namespace CompressedBody
