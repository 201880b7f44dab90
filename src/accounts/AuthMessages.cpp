#include "accounts/AuthMessages.h"

#include "base/Dates.h"
#include "base/Json.h"
#include "base/Text.h"

#include <QJsonArray>

namespace {

QString pathOf(const QString &path, const QString &key)
{
    return path.isEmpty() ? key : path + QLatin1Char('.') + key;
}

// A required date of an e-mail flow record: missing or null fails like any required key,
// the text goes through the backend date rule.
QDateTime requiredDate(const JsonReader &reader, const QString &key)
{
    if (!reader.has(key))
        reader.fail(key, QStringLiteral("missing key"));
    return Dates::decodeBackendDate(reader.object().value(key), reader.pathOf(key));
}

// Every e-mail flow record carries its expiry twice: seconds from issue and the moment.
template<typename Record>
void readExpiry(const JsonReader &reader, Record &record)
{
    record.expiresIn = reader.integer(QStringLiteral("expiresIn"));
    record.expiresAt = requiredDate(reader, QStringLiteral("expiresAt"));
}

template<typename Record>
void putExpiry(QJsonObject &object, const Record &record)
{
    object.insert(QStringLiteral("expiresIn"), record.expiresIn);
    object.insert(QStringLiteral("expiresAt"), Dates::formatIso8601(record.expiresAt));
}

// The records of a running e-mail challenge open with the challenge and its address.
template<typename Record>
void readChallenge(const JsonReader &reader, Record &record)
{
    record.challengeId = reader.string(QStringLiteral("challengeId"));
    record.email = reader.string(QStringLiteral("email"));
    record.maskedEmail = reader.string(QStringLiteral("maskedEmail"));
}

template<typename Record>
void putChallenge(QJsonObject &object, const Record &record)
{
    object.insert(QStringLiteral("challengeId"), record.challengeId);
    object.insert(QStringLiteral("email"), record.email);
    object.insert(QStringLiteral("maskedEmail"), record.maskedEmail);
}

QDateTime readDate(const QJsonValue &value, const QString &path)
{
    return Dates::decodeBackendDate(value, path);
}

qint64 readInteger(const QJsonValue &value, const QString &path)
{
    return Json::toInteger(value, path);
}

} // namespace

// ---- Keys in several spellings ----

namespace AuthJson {

std::optional<QString> decodeTrimmedStringIfPresent(const QJsonObject &object, const QStringList &keys, const QString &path)
{
    for (const QString &key : keys) {
        const auto it = object.constFind(key);
        if (it == object.constEnd() || it->isUndefined() || it->isNull())
            continue;
        const QString value = Json::toString(*it, pathOf(path, key));
        if (auto trimmed = Text::nilIfEmpty(value))
            return trimmed;
    }
    return std::nullopt;
}

QString decodeRequiredTrimmedString(const QJsonObject &object, const QStringList &keys, const QString &path)
{
    if (auto value = decodeTrimmedStringIfPresent(object, keys, path))
        return *value;
    const QString firstKey = keys.isEmpty() ? QString() : keys.first();
    throw JsonDecodeError(pathOf(path, firstKey),
                          QStringLiteral("Expected one of keys: %1.").arg(keys.join(QStringLiteral(", "))));
}

} // namespace AuthJson

// ---- Replies ----

std::optional<APIErrorResponse> APIErrorResponse::decode(const QByteArray &body)
{
    try {
        const JsonReader reader = JsonReader::parse(body);
        APIErrorResponse response;
        response.error = reader.optionalString(QStringLiteral("error"));
        response.message = reader.optionalString(QStringLiteral("message"));
        response.detail = reader.optionalString(QStringLiteral("detail"));
        response.title = reader.optionalString(QStringLiteral("title"));
        response.errorDescription = reader.optionalString(QStringLiteral("error_description"));
        return response;
    } catch (const JsonDecodeError &) {
        return std::nullopt;
    }
}

std::optional<QString> APIErrorResponse::resolvedMessage() const
{
    // A text of only white space says nothing; the next field is asked instead.
    for (const auto *candidate : {&errorDescription, &message, &detail, &error, &title}) {
        if (*candidate && !Text::trimmed(**candidate).isEmpty())
            return *candidate;
    }
    return std::nullopt;
}

SessionResponse SessionResponse::fromJson(const QJsonObject &object, const QDateTime &now)
{
    using namespace AuthJson;
    SessionResponse response;
    response.accessToken = decodeRequiredTrimmedString(object, {QStringLiteral("access_token"), QStringLiteral("accessToken")});
    response.refreshToken = decodeTrimmedStringIfPresent(object, {QStringLiteral("refresh_token"), QStringLiteral("refreshToken")});
    response.tokenType = decodeTrimmedStringIfPresent(object, {QStringLiteral("token_type"), QStringLiteral("tokenType")})
                             .value_or(QStringLiteral("Bearer"));
    if (auto date = decodeIfPresent<QDateTime>(object, {QStringLiteral("expires_at"), QStringLiteral("expiresAt")}, &readDate)) {
        response.expiresAt = *date;
    } else if (auto seconds = decodeIfPresent<qint64>(object, {QStringLiteral("expires_in"), QStringLiteral("expiresIn")}, &readInteger)) {
        response.expiresAt = now.addSecs(*seconds);
        // A lifetime that lands outside the dates the session item can hold would be saved
        // in a form that never loads again.
        if (!Dates::isWritable(response.expiresAt))
            throw JsonDecodeError(QStringLiteral("expires_in"), QStringLiteral("Expiry out of range."));
    } else {
        throw JsonDecodeError(QStringLiteral("expires_at"), QStringLiteral("Expected expires_at, expiresAt, expires_in, or expiresIn."));
    }
    const JsonReader reader(object);
    response.user = AuthenticatedUser::fromJson(reader.object(QStringLiteral("user")).object(), QStringLiteral("user"));
    return response;
}

CurrentUserProfileResponse CurrentUserProfileResponse::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    CurrentUserProfileResponse profile;
    profile.id = reader.optionalString(QStringLiteral("id"));
    profile.email = reader.optionalString(QStringLiteral("email"));
    profile.displayName = reader.optionalString(QStringLiteral("display_name"));
    profile.avatarURL = reader.optionalString(QStringLiteral("avatar_url"));
    profile.newbie = reader.optionalBoolean(QStringLiteral("newbie"));
    return profile;
}

// ---- E-mail flow records ----

EmailChallenge EmailChallenge::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    EmailChallenge challenge;
    readChallenge(reader, challenge);
    challenge.purpose = reader.string(QStringLiteral("purpose"));
    challenge.linkedAuthProviders = reader.stringArray(QStringLiteral("linkedAuthProviders"));
    readExpiry(reader, challenge);
    challenge.resendAfter = reader.optionalInteger(QStringLiteral("resendAfter"));
    return challenge;
}

QJsonObject EmailChallenge::toJson() const
{
    QJsonObject object;
    putChallenge(object, *this);
    object.insert(QStringLiteral("purpose"), purpose);
    object.insert(QStringLiteral("linkedAuthProviders"), QJsonArray::fromStringList(linkedAuthProviders));
    putExpiry(object, *this);
    Json::putOptional(object, QStringLiteral("resendAfter"), resendAfter);
    return object;
}

EmailVerification EmailVerification::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    EmailVerification verification;
    readChallenge(reader, verification);
    verification.verified = reader.boolean(QStringLiteral("verified"));
    verification.purpose = reader.string(QStringLiteral("purpose"));
    verification.linkedAuthProviders = reader.stringArray(QStringLiteral("linkedAuthProviders"));
    verification.verificationToken = reader.string(QStringLiteral("verificationToken"));
    readExpiry(reader, verification);
    return verification;
}

QJsonObject EmailVerification::toJson() const
{
    QJsonObject object;
    putChallenge(object, *this);
    object.insert(QStringLiteral("verified"), verified);
    object.insert(QStringLiteral("purpose"), purpose);
    object.insert(QStringLiteral("linkedAuthProviders"), QJsonArray::fromStringList(linkedAuthProviders));
    object.insert(QStringLiteral("verificationToken"), verificationToken);
    putExpiry(object, *this);
    return object;
}

MfaChallenge MfaChallenge::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    MfaChallenge challenge;
    readChallenge(reader, challenge);
    challenge.type = reader.string(QStringLiteral("type"));
    readExpiry(reader, challenge);
    return challenge;
}

QJsonObject MfaChallenge::toJson() const
{
    QJsonObject object;
    putChallenge(object, *this);
    object.insert(QStringLiteral("type"), type);
    putExpiry(object, *this);
    return object;
}

TotpSetup TotpSetup::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    TotpSetup setup;
    setup.setupId = reader.string(QStringLiteral("setupId"));
    setup.otpauthUri = reader.string(QStringLiteral("otpauthUri"));
    setup.secret = reader.string(QStringLiteral("secret"));
    setup.qrCodeDataUrl = reader.optionalString(QStringLiteral("qrCodeDataUrl"));
    readExpiry(reader, setup);
    return setup;
}

QJsonObject TotpSetup::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("setupId"), setupId);
    object.insert(QStringLiteral("otpauthUri"), otpauthUri);
    object.insert(QStringLiteral("secret"), secret);
    Json::putOptional(object, QStringLiteral("qrCodeDataUrl"), qrCodeDataUrl);
    putExpiry(object, *this);
    return object;
}

// ---- Requests ----

QJsonObject EmailRegistrationMFA::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("type"), type);
    object.insert(QStringLiteral("setupId"), setupId);
    object.insert(QStringLiteral("code"), code);
    return object;
}

QJsonObject CompleteEmailRegistrationInput::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("challengeId"), challengeId);
    object.insert(QStringLiteral("email"), email);
    object.insert(QStringLiteral("name"), name);
    object.insert(QStringLiteral("password"), password);
    object.insert(QStringLiteral("verificationToken"), verificationToken);
    // The backend tells "no authenticator" from a malformed body by the explicit null.
    object.insert(QStringLiteral("mfa"), mfa ? QJsonValue(mfa->toJson()) : QJsonValue(QJsonValue::Null));
    return object;
}
