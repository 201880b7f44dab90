#pragma once

#include "base/Json.h"

#include <QDateTime>
#include <QJsonArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// Reading helpers shared by the history records and wire types. Every date of a history
// answer goes through the backend's date rule (ISO 8601 with or without fractional seconds).
namespace MeetingSessionHistoryDecoding {

QDateTime date(const JsonReader &reader, const QString &key);
std::optional<QDateTime> optionalDate(const JsonReader &reader, const QString &key);

// Each element decoded with the element reader; the first failure fails the whole list.
template<typename T>
QList<T> list(const QJsonArray &array, const QString &path, const std::function<T(const QJsonValue &, const QString &)> &element)
{
    QList<T> result;
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        result.append(element(array.at(i), QStringLiteral("%1[%2]").arg(path).arg(i)));
    return result;
}

} // namespace MeetingSessionHistoryDecoding
