#pragma once

#include <QString>
#include <array>
#include <optional>

// The interface languages. The raw value is also the language code and the locale name.
enum class KavrelAppLanguage { english, russian, german, spanish, french };

namespace KavrelAppLanguages {

inline constexpr std::array<KavrelAppLanguage, 5> allCases = {
    KavrelAppLanguage::english, KavrelAppLanguage::russian, KavrelAppLanguage::german,
    KavrelAppLanguage::spanish, KavrelAppLanguage::french};

// "en", "ru", "de", "es" or "fr".
QString rawValue(KavrelAppLanguage language);
// Exactly one of the five codes, whole and case-sensitive: "RU" and "ru-RU" are no language.
std::optional<KavrelAppLanguage> fromRawValue(const QString &raw);

} // namespace KavrelAppLanguages
