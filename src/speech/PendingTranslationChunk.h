#pragma once

#include <QString>
#include <QUuid>

// One queued text of the legacy client; the queue holds at most one per turn.
struct PendingTranslationChunk
{
    QUuid turnID;
    QString transcript; // trimmed
    bool isFinal = false;

    bool operator==(const PendingTranslationChunk &) const = default;
};
