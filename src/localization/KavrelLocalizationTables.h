#pragma once

#include "localization/KavrelAppLanguage.h"

#include <span>

// One row of a translation table: an English interface key and its translation, both UTF-8.
struct KavrelTranslationPair
{
    const char *key;
    const char *translation;
};

// The other forms of a counted format ("%@ words") in a language whose words change with the
// number. The format's own row holds the form for "many" (0, 5–20, 25…); `one` is for 1, 21,
// 101…, `few` for 2–4, 22–24…. The count is the format's first argument.
struct KavrelPluralForms
{
    const char *key;
    const char *one;
    const char *few;
};

namespace KavrelLocalizationTables {

// Every row of a language's table, in a fixed order; empty for English, whose text is the key.
std::span<const KavrelTranslationPair> pairs(KavrelAppLanguage language);

// The Russian rows kept in KavrelLocalizationTablesRu.cpp, part of pairs(russian): the
// screens' other texts, and the texts of the program's own errors. Only the error rows'
// formats are used to read composed error messages (localizedMessage).
std::span<const KavrelTranslationPair> russianScreenPairs();
std::span<const KavrelTranslationPair> russianErrorPairs();

// The counted formats of a language that have forms other than the row's; empty for most.
std::span<const KavrelPluralForms> pluralForms(KavrelAppLanguage language);

} // namespace KavrelLocalizationTables
