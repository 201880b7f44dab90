#include "accounts/AuthJsonReading.h"

#include "base/Json.h"
#include "base/Text.h"

namespace AuthJson {

namespace {

QString pathOf(const QString &path, const QString &key)
{
    return path.isEmpty() ? key : path + QLatin1Char('.') + key;
}

} // namespace

std::optional<QString> decodeTrimmedStringIfPresent(const QJsonObject &object, const QStringList &keys, const QString &path)
{
    for (const QString &key : keys) {
        const auto it = object.constFind(key);
        if (it == object.constEnd() || it->isUndefined() || it->isNull())
            continue;
        const QString value = Json::toString(*it, pathOf(path, key));
        if (auto trimmed = Text::nilIfEmpty(value))
            return trimmed;
    }
    return std::nullopt;
}

QString decodeRequiredTrimmedString(const QJsonObject &object, const QStringList &keys, const QString &path)
{
    if (auto value = decodeTrimmedStringIfPresent(object, keys, path))
        return *value;
    const QString firstKey = keys.isEmpty() ? QString() : keys.first();
    throw JsonDecodeError(pathOf(path, firstKey),
                          QStringLiteral("Expected one of keys: %1.").arg(keys.join(QStringLiteral(", "))));
}

} // namespace AuthJson
