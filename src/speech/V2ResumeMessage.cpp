#include "speech/V2ResumeMessage.h"

#include "base/Json.h"

QByteArray V2ResumeMessage::toJson() const
{
    QList<QByteArray> finals;
    for (const V2PendingFinalReference &reference : pendingFinals)
        finals.append(reference.toJson());
    JsonObjectWriter writer;
    writer.add(QStringLiteral("type"), type)
        .add(QStringLiteral("protocolVersion"), protocolVersion)
        .add(QStringLiteral("sessionId"), sessionId)
        .add(QStringLiteral("sourceLanguage"), sourceLanguage)
        .add(QStringLiteral("targetLanguage"), targetLanguage)
        .addEncoded(QStringLiteral("pendingFinals"), JsonObjectWriter::array(finals));
    return writer.toJson();
}
