#include "speech/V2PendingFinalReference.h"

#include "base/Json.h"

QByteArray V2PendingFinalReference::toJson() const
{
    JsonObjectWriter writer;
    writer.add(QStringLiteral("turnId"), turnId).add(QStringLiteral("clientRevision"), clientRevision);
    return writer.toJson();
}
