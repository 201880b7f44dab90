#pragma once

#include <QString>

// Version texts such as "1.4", "1.4.2" or "2.0.0-beta.1", compared by their numbers.
namespace KavrelVersion {

// Whether the text is a version this program can compare: numbers separated by dots, each of
// at most 18 digits, with an optional leading "v", an optional pre-release ("-beta.1") and
// optional build metadata ("+42") of letters, digits, dots and hyphens. Anything else ("1.x",
// a number too large to hold) is not a version, rather than some version it might be taken for.
bool isReadable(const QString &text);

// For two readable versions: negative when a is older than b, 0 when equal, positive when
// newer. Missing numbers count as 0 ("1.4" equals "1.4.0"); a pre-release is older than its
// release; pre-releases are ordered by their text; build metadata does not order.
int compare(const QString &a, const QString &b);

} // namespace KavrelVersion
