#pragma once

#include "base/KavrelError.h"

#include <QNetworkReply>
#include <QString>

// A request that got no HTTP reply: no connection, a dropped connection, a time-out of our
// own timer, a TLS failure. A reply with any HTTP status is never a NetworkError.
class NetworkError final : public KavrelError
{
public:
    enum class Kind {
        timedOut,
        cannotConnect,
        connectionLost,
        // The reply's body passed the client's cap; the exchange was aborted.
        responseTooLarge,
        other,
    };

    NetworkError(Kind kind, QNetworkReply::NetworkError code, QString detail)
        : m_kind(kind), m_code(code), m_detail(std::move(detail)) {}

    Kind kind() const { return m_kind; }
    QNetworkReply::NetworkError code() const { return m_code; }
    // Qt's description of the failure, for logs.
    QString detail() const { return m_detail; }

    QString message() const override;

private:
    Kind m_kind;
    QNetworkReply::NetworkError m_code;
    QString m_detail;
};
