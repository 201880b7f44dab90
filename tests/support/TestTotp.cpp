#include "support/TestTotp.h"

#include <QMessageAuthenticationCode>
#include <QtEndian>

namespace TestTotp {

namespace {

constexpr qint64 stepSeconds = 30;

QString codeForCounter(const QByteArray &key, quint64 counter)
{
    char message[8];
    qToBigEndian(counter, message);
    const QByteArray mac = QMessageAuthenticationCode::hash(QByteArray(message, 8), key, QCryptographicHash::Sha1);
    const int offset = mac.at(mac.size() - 1) & 0x0f;
    const quint32 binary = (quint32(quint8(mac.at(offset)) & 0x7f) << 24) | (quint32(quint8(mac.at(offset + 1))) << 16)
        | (quint32(quint8(mac.at(offset + 2))) << 8) | quint32(quint8(mac.at(offset + 3)));
    return QStringLiteral("%1").arg(binary % 1000000, 6, 10, QLatin1Char('0'));
}

} // namespace

std::optional<QByteArray> decodeBase32(const QString &secret)
{
    static const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567");
    QByteArray bytes;
    quint32 buffer = 0;
    int bits = 0;
    for (const QChar character : secret.toUpper()) {
        if (character == QLatin1Char('=') || character.isSpace())
            continue;
        const qsizetype value = alphabet.indexOf(character);
        if (value < 0)
            return std::nullopt;
        buffer = (buffer << 5) | quint32(value);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            bytes.append(char((buffer >> bits) & 0xff));
        }
    }
    return bytes;
}

QString code(const QString &base32Secret, const QDateTime &time)
{
    const QByteArray key = decodeBase32(base32Secret).value_or(QByteArray());
    return codeForCounter(key, quint64(time.toSecsSinceEpoch() / stepSeconds));
}

bool accepts(const QString &base32Secret, const QString &candidate, const QDateTime &time)
{
    const std::optional<QByteArray> key = decodeBase32(base32Secret);
    if (!key || key->isEmpty())
        return false;
    const qint64 counter = time.toSecsSinceEpoch() / stepSeconds;
    for (qint64 step = counter - 1; step <= counter + 1; ++step) {
        if (codeForCounter(*key, quint64(step)) == candidate)
            return true;
    }
    return false;
}

} // namespace TestTotp
