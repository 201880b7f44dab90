#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The final text of a closed turn.
struct V2FinalMessage
{
    static constexpr const char *type = "translate_final";

    QString sessionId;
    QString turnId;
    qint64 clientRevision = 0;
    QString sourceText;

    // Compact JSON with the keys in protocol order.
    QByteArray toJson() const;

    bool operator==(const V2FinalMessage &) const = default;
};
