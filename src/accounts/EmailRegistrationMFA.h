#pragma once

#include <QJsonObject>
#include <QString>

// The authenticator's first code, sent with the registration completion.
struct EmailRegistrationMFA
{
    QString type;
    QString setupId;
    QString code;

    QJsonObject toJson() const;
    bool operator==(const EmailRegistrationMFA &) const = default;
};
