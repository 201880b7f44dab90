#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One final that still waits for its translation, listed in a resume.
struct V2PendingFinalReference
{
    QString turnId;
    qint64 clientRevision = 0;

    // Compact JSON with the keys in protocol order.
    QByteArray toJson() const;

    bool operator==(const V2PendingFinalReference &) const = default;
};
