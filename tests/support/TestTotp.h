#pragma once

// Time-based one-time passwords (RFC 6238: HMAC-SHA1, 30 s steps, 6 digits), as an
// authenticator app computes them from the Base32 secret it was given.

#include <QDateTime>
#include <QString>

#include <optional>

namespace TestTotp {

// The key bytes of an RFC 4648 Base32 secret (upper or lower case, "=" padding and spaces
// ignored); nothing when it holds another character.
std::optional<QByteArray> decodeBase32(const QString &secret);

// The code for the 30-second step that holds the time.
QString code(const QString &base32Secret, const QDateTime &time = QDateTime::currentDateTimeUtc());

// True when the code is that of the step holding the time or of a neighbouring step.
bool accepts(const QString &base32Secret, const QString &candidate,
             const QDateTime &time = QDateTime::currentDateTimeUtc());

} // namespace TestTotp
