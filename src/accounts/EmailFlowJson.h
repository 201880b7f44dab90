#pragma once

// Date reading and writing shared by the e-mail flow records: the backend date rule on
// reading, whole-second ISO 8601 on writing.

#include <QDateTime>
#include <QJsonObject>
#include <QString>

class JsonReader;

namespace EmailFlowJson {

QDateTime requiredDate(const JsonReader &reader, const QString &key);
void putDate(QJsonObject &object, const QString &key, const QDateTime &date);

} // namespace EmailFlowJson
