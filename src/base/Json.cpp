#include "base/Json.h"
#include "base/Dates.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>

QString JsonDecodeError::message() const
{
    if (m_path.isEmpty())
        return QStringLiteral("The data couldn't be read because it isn't in the correct format: %1").arg(m_reason);
    return QStringLiteral("The data couldn't be read because it isn't in the correct format: %1 (%2)").arg(m_reason, m_path);
}

JsonReader::JsonReader(QJsonObject object, QString path)
    : m_object(std::move(object))
    , m_path(std::move(path))
{
}

JsonReader JsonReader::parse(const QByteArray &bytes, const QString &path)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        throw JsonDecodeError(path, QStringLiteral("invalid JSON: %1").arg(error.errorString()));
    if (!document.isObject())
        throw JsonDecodeError(path, QStringLiteral("expected an object"));
    return JsonReader(document.object(), path);
}

JsonReader JsonReader::fromValue(const QJsonValue &value, const QString &path)
{
    if (!value.isObject())
        throw JsonDecodeError(path, QStringLiteral("expected an object"));
    return JsonReader(value.toObject(), path);
}

QString JsonReader::pathOf(const QString &key) const
{
    return m_path.isEmpty() ? key : m_path + QLatin1Char('.') + key;
}

void JsonReader::fail(const QString &key, const QString &reason) const
{
    throw JsonDecodeError(pathOf(key), reason);
}

bool JsonReader::has(const QString &key) const
{
    const auto it = m_object.constFind(key);
    return it != m_object.constEnd() && !it->isNull() && !it->isUndefined();
}

QJsonValue JsonReader::required(const QString &key) const
{
    const auto it = m_object.constFind(key);
    if (it == m_object.constEnd() || it->isUndefined())
        fail(key, QStringLiteral("missing key"));
    if (it->isNull())
        fail(key, QStringLiteral("null value for a required key"));
    return *it;
}

QString JsonReader::string(const QString &key) const
{
    return Json::toString(required(key), pathOf(key));
}

std::optional<QString> JsonReader::optionalString(const QString &key) const
{
    if (!has(key))
        return std::nullopt;
    return Json::toString(m_object.value(key), pathOf(key));
}

qint64 JsonReader::integer(const QString &key) const
{
    return Json::toInteger(required(key), pathOf(key));
}

std::optional<qint64> JsonReader::optionalInteger(const QString &key) const
{
    if (!has(key))
        return std::nullopt;
    return Json::toInteger(m_object.value(key), pathOf(key));
}

double JsonReader::number(const QString &key) const
{
    return Json::toNumber(required(key), pathOf(key));
}

std::optional<double> JsonReader::optionalNumber(const QString &key) const
{
    if (!has(key))
        return std::nullopt;
    return Json::toNumber(m_object.value(key), pathOf(key));
}

bool JsonReader::boolean(const QString &key) const
{
    return Json::toBoolean(required(key), pathOf(key));
}

std::optional<bool> JsonReader::optionalBoolean(const QString &key) const
{
    if (!has(key))
        return std::nullopt;
    return Json::toBoolean(m_object.value(key), pathOf(key));
}

JsonReader JsonReader::object(const QString &key) const
{
    return fromValue(required(key), pathOf(key));
}

std::optional<JsonReader> JsonReader::optionalObject(const QString &key) const
{
    if (!has(key))
        return std::nullopt;
    return fromValue(m_object.value(key), pathOf(key));
}

QJsonArray JsonReader::array(const QString &key) const
{
    const QJsonValue value = required(key);
    if (!value.isArray())
        fail(key, QStringLiteral("expected an array"));
    return value.toArray();
}

std::optional<QJsonArray> JsonReader::optionalArray(const QString &key) const
{
    if (!has(key))
        return std::nullopt;
    const QJsonValue value = m_object.value(key);
    if (!value.isArray())
        fail(key, QStringLiteral("expected an array"));
    return value.toArray();
}

static QStringList toStringList(const QJsonArray &array, const QString &path)
{
    QStringList result;
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        result.append(Json::toString(array.at(i), QStringLiteral("%1[%2]").arg(path).arg(i)));
    return result;
}

QStringList JsonReader::stringArray(const QString &key) const
{
    return toStringList(array(key), pathOf(key));
}

std::optional<QStringList> JsonReader::optionalStringArray(const QString &key) const
{
    const auto values = optionalArray(key);
    if (!values)
        return std::nullopt;
    return toStringList(*values, pathOf(key));
}

QDateTime JsonReader::date(const QString &key) const
{
    const QString text = string(key);
    const auto parsed = Dates::parseIso8601(text);
    if (!parsed)
        fail(key, QStringLiteral("invalid date \"%1\"").arg(text));
    return *parsed;
}

std::optional<QDateTime> JsonReader::optionalDate(const QString &key) const
{
    if (!has(key))
        return std::nullopt;
    return date(key);
}

std::optional<QString> JsonReader::firstString(std::initializer_list<QString> keys) const
{
    for (const QString &key : keys) {
        if (has(key))
            return string(key);
    }
    return std::nullopt;
}

namespace Json {

QString toString(const QJsonValue &value, const QString &path)
{
    if (!value.isString())
        throw JsonDecodeError(path, QStringLiteral("expected a string"));
    return value.toString();
}

bool isInteger(const QJsonValue &value)
{
    if (!value.isDouble())
        return false;
    // The parser keeps integer literals that fit a qint64 exactly; going through a double
    // would round those beyond 2^53 and push 2^63-1 out of range. toInteger() answers its
    // default for anything that is not a whole number in range, so two defaults tell.
    return value.toInteger(0) == value.toInteger(1);
}

qint64 toInteger(const QJsonValue &value, const QString &path)
{
    if (!isInteger(value))
        throw JsonDecodeError(path, QStringLiteral("expected an integer"));
    return value.toInteger();
}

double toNumber(const QJsonValue &value, const QString &path)
{
    if (!value.isDouble())
        throw JsonDecodeError(path, QStringLiteral("expected a number"));
    return value.toDouble();
}

bool toBoolean(const QJsonValue &value, const QString &path)
{
    if (!value.isBool())
        throw JsonDecodeError(path, QStringLiteral("expected a boolean"));
    return value.toBool();
}

void putOptional(QJsonObject &object, const QString &key, const std::optional<QDateTime> &value)
{
    if (value)
        object.insert(key, Dates::formatIso8601(*value));
}

QByteArray toCompactBytes(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace Json

QByteArray JsonObjectWriter::encodedString(const QString &value)
{
    // QJsonDocument only writes containers: encode a one-element array and take the element.
    QJsonArray holder;
    holder.append(value);
    const QByteArray json = QJsonDocument(holder).toJson(QJsonDocument::Compact);
    return json.mid(1, json.size() - 2);
}

JsonObjectWriter &JsonObjectWriter::add(const QString &key, const QString &value)
{
    return addEncoded(key, encodedString(value));
}

JsonObjectWriter &JsonObjectWriter::add(const QString &key, qint64 value)
{
    return addEncoded(key, QByteArray::number(value));
}

JsonObjectWriter &JsonObjectWriter::add(const QString &key, bool value)
{
    return addEncoded(key, value ? QByteArray("true") : QByteArray("false"));
}

JsonObjectWriter &JsonObjectWriter::addEncoded(const QString &key, const QByteArray &json)
{
    m_members.append(encodedString(key) + ':' + json);
    return *this;
}

QByteArray JsonObjectWriter::toJson() const
{
    return '{' + m_members.join(',') + '}';
}

QByteArray JsonObjectWriter::array(const QList<QByteArray> &encodedValues)
{
    return '[' + encodedValues.join(',') + ']';
}
