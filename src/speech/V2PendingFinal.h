#pragma once

#include <QString>

// A final that was sent, or waits to be sent, and whose translation is not settled yet.
struct V2PendingFinal
{
    QString turnID;
    qint64 clientRevision = 0;
    QString sourceText; // trimmed
    qint64 enqueueSequence = 0; // enqueue order within the logical session, from 0
    bool acknowledged = false;

    bool operator==(const V2PendingFinal &) const = default;
};
