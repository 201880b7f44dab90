#pragma once

#include <QString>
#include <optional>

namespace Text {

// Trims Unicode white space and newlines from both ends.
QString trimmed(const QString &text);

// The trimmed text, or nothing when it is empty.
std::optional<QString> nilIfEmpty(const QString &text);
std::optional<QString> nilIfEmpty(const std::optional<QString> &text);

// Number of user-perceived characters (extended grapheme clusters).
qsizetype graphemeCount(const QString &text);
// The first `count` grapheme clusters.
QString graphemePrefix(const QString &text, qsizetype count);

// Equality after canonical composition (NFC), as the platform compares strings.
bool nfcEquals(const QString &a, const QString &b);

// A short digest (SHA-256, hex) of a text, for "has this changed since the last write" checks
// that would otherwise keep a whole copy of a long text.
QString digest(const QString &text);

// The value of a hexadecimal digit (either case), or -1 for any other character.
int hexDigitValue(char c);

} // namespace Text
