#include "accounts/EmailRegistrationMFA.h"

QJsonObject EmailRegistrationMFA::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("type"), type);
    object.insert(QStringLiteral("setupId"), setupId);
    object.insert(QStringLiteral("code"), code);
    return object;
}
