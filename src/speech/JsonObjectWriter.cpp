#include "speech/JsonObjectWriter.h"

#include <QJsonArray>
#include <QJsonDocument>

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
