#pragma once

#include <QString>
#include <QUuid>

#include <optional>

// A dialogue turn is keyed by its identifier in the canonical text form: 36 characters,
// upper-case hexadecimal digits in groups of 8-4-4-4-12. The same text is the wire turnId.
namespace TranslationTurnKey {

QString fromUuid(const QUuid &turnID);

// The identifier of a key in canonical form (either letter case), or nothing: braces,
// missing hyphens and other lengths are not identifiers here.
std::optional<QUuid> parse(const QString &key);

} // namespace TranslationTurnKey
