#pragma once

// Strict reading of JSON values:
//  - a required key that is missing or null fails the whole value;
//  - an optional key that is missing or null is absent;
//  - a present value of the wrong type fails, for optional keys too;
//  - an integer rejects 1.5 and "1";
//  - unknown keys are ignored.
// Writing omits absent optionals.
// JsonObjectWriter writes an object whose keys must keep their order.

#include "base/KavrelError.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <initializer_list>

class JsonDecodeError final : public KavrelError
{
public:
    JsonDecodeError(QString path, QString reason)
        : m_path(std::move(path)), m_reason(std::move(reason)) {}
    QString message() const override;
    QString path() const { return m_path; }
    QString reason() const { return m_reason; }

private:
    QString m_path;
    QString m_reason;
};

class JsonReader
{
public:
    explicit JsonReader(QJsonObject object, QString path = QString());

    // Parses bytes that must hold a JSON object.
    static JsonReader parse(const QByteArray &bytes, const QString &path = QString());
    // A value that must be an object.
    static JsonReader fromValue(const QJsonValue &value, const QString &path = QString());

    const QJsonObject &object() const { return m_object; }
    // Present and not null.
    bool has(const QString &key) const;

    QString string(const QString &key) const;
    std::optional<QString> optionalString(const QString &key) const;
    qint64 integer(const QString &key) const;
    std::optional<qint64> optionalInteger(const QString &key) const;
    double number(const QString &key) const;
    std::optional<double> optionalNumber(const QString &key) const;
    bool boolean(const QString &key) const;
    std::optional<bool> optionalBoolean(const QString &key) const;
    JsonReader object(const QString &key) const;
    std::optional<JsonReader> optionalObject(const QString &key) const;
    QJsonArray array(const QString &key) const;
    std::optional<QJsonArray> optionalArray(const QString &key) const;
    QStringList stringArray(const QString &key) const;
    std::optional<QStringList> optionalStringArray(const QString &key) const;
    // ISO 8601 with or without fractional seconds.
    QDateTime date(const QString &key) const;
    std::optional<QDateTime> optionalDate(const QString &key) const;

    // The first of several alternative keys that is present and not null, read as a string.
    std::optional<QString> firstString(std::initializer_list<QString> keys) const;

    [[noreturn]] void fail(const QString &key, const QString &reason) const;
    QString pathOf(const QString &key) const;

private:
    QJsonValue required(const QString &key) const;

    QJsonObject m_object;
    QString m_path;
};

namespace Json {

// Element readers for arrays, with the same rules.
QString toString(const QJsonValue &value, const QString &path);
qint64 toInteger(const QJsonValue &value, const QString &path);
double toNumber(const QJsonValue &value, const QString &path);
bool toBoolean(const QJsonValue &value, const QString &path);
// True when the value is a number holding an integer that a qint64 can represent exactly.
bool isInteger(const QJsonValue &value);

inline void putOptional(QJsonObject &object, const QString &key, const std::optional<QString> &value)
{
    if (value)
        object.insert(key, *value);
}
inline void putOptional(QJsonObject &object, const QString &key, const std::optional<qint64> &value)
{
    if (value)
        object.insert(key, *value);
}
inline void putOptional(QJsonObject &object, const QString &key, const std::optional<int> &value)
{
    if (value)
        object.insert(key, *value);
}
inline void putOptional(QJsonObject &object, const QString &key, const std::optional<double> &value)
{
    if (value)
        object.insert(key, *value);
}
inline void putOptional(QJsonObject &object, const QString &key, const std::optional<bool> &value)
{
    if (value)
        object.insert(key, *value);
}
void putOptional(QJsonObject &object, const QString &key, const std::optional<QDateTime> &value);

QByteArray toCompactBytes(const QJsonObject &object);

} // namespace Json

// Writes one compact JSON object with its keys in the order they are added. The relays'
// messages are documented in that order, and QJsonObject would sort them.
class JsonObjectWriter
{
public:
    JsonObjectWriter &add(const QString &key, const QString &value);
    JsonObjectWriter &add(const QString &key, const char *value) { return add(key, QString::fromUtf8(value)); }
    JsonObjectWriter &add(const QString &key, qint64 value);
    JsonObjectWriter &add(const QString &key, int value) { return add(key, qint64(value)); }
    JsonObjectWriter &add(const QString &key, bool value);
    // A value that is already encoded JSON, such as an array.
    JsonObjectWriter &addEncoded(const QString &key, const QByteArray &json);

    QByteArray toJson() const;

    // A JSON array of already encoded values.
    static QByteArray array(const QList<QByteArray> &encodedValues);
    static QByteArray encodedString(const QString &value);

private:
    QList<QByteArray> m_members;
};
