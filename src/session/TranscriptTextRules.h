#pragma once

// The text rules of transcript intake: how speech-to-text results are normalised, how the
// new part of a final result is found, and how text is appended to a turn or a translation.
// Characters are user-perceived characters (grapheme clusters) compared under canonical
// equivalence, so "é" typed as one code point or as "e" and a combining accent is one letter.

#include <QString>

namespace TranscriptTextRules {

// Ends a sentence and so closes a turn: ".", "!", "?", "…".
bool isSentenceEnd(QChar character);
// Joins its text without a blank before it: ".", ",", "!", "?", ":", ";", "…".
bool isJoiningPunctuation(QChar character);

// Every run of white space becomes one blank; the ends are trimmed.
QString normalizedTranscriptFragment(const QString &text);

// The addition appended to the existing text: a blank between them unless the addition starts
// with joining punctuation. A blank addition leaves the existing text exactly as it was.
QString mergedText(const QString &existing, const QString &addition);

// What a final result adds to the previous final result of the same turn. A repeat, or a
// shorter text the previous one already holds, adds nothing; an extension adds its new end.
// Any other text is a new segment and is taken whole.
QString transcriptDelta(const QString &current, const QString &previous);

// True when `text` begins with `prefix`, comparing whole characters.
bool startsWithCharacters(const QString &text, const QString &prefix);

} // namespace TranscriptTextRules
