#pragma once

#include "localization/KavrelAppLanguage.h"

#include <span>

// One row of a translation table: an English interface key and its translation, both UTF-8.
struct KavrelTranslationPair
{
    const char *key;
    const char *translation;
};

namespace KavrelLocalizationTables {

// The rows of a language's table in their fixed order; empty for English, whose text is the key.
std::span<const KavrelTranslationPair> pairs(KavrelAppLanguage language);

} // namespace KavrelLocalizationTables
