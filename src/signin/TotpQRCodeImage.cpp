#include "signin/TotpQRCodeImage.h"

#include <QBuffer>
#include <QImageReader>

namespace TotpQRCodeImage {

std::optional<QImage> decode(const std::optional<QString> &dataURL)
{
    if (!dataURL || dataURL->size() > maximumDataURLLength)
        return std::nullopt;
    const qsizetype comma = dataURL->indexOf(QLatin1Char(','));
    if (comma < 0)
        return std::nullopt;
    const QStringView payload = QStringView(*dataURL).mid(comma + 1);
    if (payload.isEmpty() || payload.size() % 4 != 0)
        return std::nullopt;
    for (const QChar character : payload) {
        if (character.unicode() > 0x7f)
            return std::nullopt;
    }
    const QByteArray::FromBase64Result decoded = QByteArray::fromBase64Encoding(
        payload.toLatin1(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;

    QByteArray bytes = *decoded;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(maximumDecodedMegabytes);
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace TotpQRCodeImage
