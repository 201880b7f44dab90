#pragma once

#include <QByteArray>
#include <QString>

// One whole websocket message, text or binary.
struct WebSocketMessage
{
    enum class Kind {
        text,
        binary,
    };

    Kind kind = Kind::text;
    QString text;    // text messages
    QByteArray data; // binary messages

    static WebSocketMessage fromText(QString text)
    {
        WebSocketMessage message;
        message.kind = Kind::text;
        message.text = std::move(text);
        return message;
    }
    static WebSocketMessage fromBinary(QByteArray data)
    {
        WebSocketMessage message;
        message.kind = Kind::binary;
        message.data = std::move(data);
        return message;
    }

    bool isText() const { return kind == Kind::text; }
    bool isBinary() const { return kind == Kind::binary; }
};
