#pragma once

#include <QImage>
#include <QString>

#include <optional>

// The picture of an authenticator setup, from the data URL the backend sends: the part
// after the first comma is standard Base64 of an image. Anything else gives no picture and
// the screen shows its fallback symbol.
namespace TotpQRCodeImage {

// A data URL longer than this is not decoded at all: a QR code is a few kilobytes, and the
// text comes from the network.
inline constexpr qsizetype maximumDataURLLength = 1024 * 1024;
// Nor is a picture that would take more memory than this once decoded.
inline constexpr int maximumDecodedMegabytes = 16;

// Strict: no white space or other characters outside the Base64 alphabet, padding as
// RFC 4648 writes it, and bytes that make a readable image.
std::optional<QImage> decode(const std::optional<QString> &dataURL);

} // namespace TotpQRCodeImage
