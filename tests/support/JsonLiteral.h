#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtGlobal>

// A JSON object written as text in a test. A fixture that is not an object is a broken test.
inline QJsonObject jsonObject(const QByteArray &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject())
        qFatal("fixture is not a JSON object: %s", json.constData());
    return document.object();
}
