#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The newest interim text of an open turn.
struct V2PreviewMessage
{
    static constexpr const char *type = "translate_preview";

    QString sessionId;
    QString turnId;
    qint64 clientRevision = 0;
    QString sourceText;

    // Compact JSON with the keys in protocol order.
    QByteArray toJson() const;

    bool operator==(const V2PreviewMessage &) const = default;
};
