#pragma once

#include <QString>

// Version texts such as "1.4", "1.4.2" or "2.0.0-beta.1", compared by their numbers.
namespace KavrelVersion {

// Negative when a is older than b, 0 when equal, positive when newer. Missing numbers count as
// 0 ("1.4" equals "1.4.0"); a pre-release ("-beta") is older than its release; a part that is
// not a number counts as 0.
int compare(const QString &a, const QString &b);

} // namespace KavrelVersion
