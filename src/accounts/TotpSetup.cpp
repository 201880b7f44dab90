#include "accounts/TotpSetup.h"

#include "accounts/EmailFlowJson.h"
#include "base/Json.h"

TotpSetup TotpSetup::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    TotpSetup setup;
    setup.setupId = reader.string(QStringLiteral("setupId"));
    setup.otpauthUri = reader.string(QStringLiteral("otpauthUri"));
    setup.secret = reader.string(QStringLiteral("secret"));
    setup.qrCodeDataUrl = reader.optionalString(QStringLiteral("qrCodeDataUrl"));
    setup.expiresIn = reader.integer(QStringLiteral("expiresIn"));
    setup.expiresAt = EmailFlowJson::requiredDate(reader, QStringLiteral("expiresAt"));
    return setup;
}

QJsonObject TotpSetup::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("setupId"), setupId);
    object.insert(QStringLiteral("otpauthUri"), otpauthUri);
    object.insert(QStringLiteral("secret"), secret);
    Json::putOptional(object, QStringLiteral("qrCodeDataUrl"), qrCodeDataUrl);
    object.insert(QStringLiteral("expiresIn"), expiresIn);
    EmailFlowJson::putDate(object, QStringLiteral("expiresAt"), expiresAt);
    return object;
}
