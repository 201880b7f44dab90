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

// Whether a server's error text is written for people, so that it may be shown as the message:
// not blank, not a markup page (a gateway's "502 Bad Gateway" page), no control characters of a
// binary body, and not so long that it is a dump (a stack trace, a whole document). A short plain
// text or JSON message passes. A caller that gets false says in its own words that the server
// answered with an error, and with which status.
bool isWrittenForPeople(const QString &text);

// The value of a hexadecimal digit (either case), or -1 for any other character.
int hexDigitValue(char c);

} // namespace Text
