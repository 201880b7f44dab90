#pragma once

#include <QString>

// One earlier turn and its translation, given as context to a translation request.
struct DeepSeekTranslationHistoryTurn
{
    QString source;
    QString translation;

    bool operator==(const DeepSeekTranslationHistoryTurn &) const = default;
};
