#pragma once

// Readers for backend objects whose keys come in several spellings. Each takes the
// alternative keys in lookup order.

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace AuthJson {

// The first key whose string value is non-empty after trimming gives that trimmed value.
// Absent and null keys are skipped; a value of another type fails the whole read.
std::optional<QString> decodeTrimmedStringIfPresent(const QJsonObject &object, const QStringList &keys,
                                                    const QString &path = QString());

// As above, but no value fails with "Expected one of keys: <keys>." for the first key.
QString decodeRequiredTrimmedString(const QJsonObject &object, const QStringList &keys,
                                    const QString &path = QString());

// The first key that is present and not null, read with the reader (whose failure ends the
// whole read); nothing when no key has a value.
template<typename T>
std::optional<T> decodeIfPresent(const QJsonObject &object, const QStringList &keys,
                                 const std::function<T(const QJsonValue &, const QString &)> &reader,
                                 const QString &path = QString())
{
    for (const QString &key : keys) {
        const auto it = object.constFind(key);
        if (it == object.constEnd() || it->isUndefined() || it->isNull())
            continue;
        return reader(*it, path.isEmpty() ? key : path + QLatin1Char('.') + key);
    }
    return std::nullopt;
}

} // namespace AuthJson
