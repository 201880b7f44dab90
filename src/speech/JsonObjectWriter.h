#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

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
