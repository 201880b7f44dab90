#pragma once

#include "speech/TranslationV2Messages.h"

#include <QString>

#include <optional>

// What the live translation client keeps about one dialogue turn of a logical session until
// the server's translation of its final settles it (LiveTranslationTurnTable keeps no record of
// a settled turn). A record with every field at its default is the same as no record.
struct LiveTranslationTurn
{
    // The last revision issued; previews and the final take theirs from this one counter.
    qint64 clientRevision = 0;
    // The newest trimmed interim text, while the turn has no final.
    std::optional<QString> latestPreview;
    // The preview that awaits its answer, and the last interim text sent.
    std::optional<qint64> previewInFlightRevision;
    std::optional<QString> lastSentPreviewText;
    // The final until the server settles it.
    std::optional<V2PendingFinal> pendingFinal;
    // Runs of the emergency final lane, and whether the final's translation was delivered
    // (by that lane or by the server).
    int emergencyFinalAttempts = 0;
    bool emergencyFinalCompleted = false;
};
