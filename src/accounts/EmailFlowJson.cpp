#include "accounts/EmailFlowJson.h"

#include "base/Dates.h"
#include "base/Json.h"

namespace EmailFlowJson {

QDateTime requiredDate(const JsonReader &reader, const QString &key)
{
    if (!reader.has(key))
        reader.fail(key, QStringLiteral("missing key"));
    return Dates::decodeBackendDate(reader.object().value(key), reader.pathOf(key));
}

void putDate(QJsonObject &object, const QString &key, const QDateTime &date)
{
    object.insert(key, Dates::formatIso8601(date));
}

} // namespace EmailFlowJson
