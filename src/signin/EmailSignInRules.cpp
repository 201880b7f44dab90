#include "signin/EmailSignInRules.h"

#include "base/Text.h"

#include <QList>

namespace EmailSignInRules {

namespace {

constexpr qsizetype minimumPasswordLength = 8;

bool isUppercase(char32_t codePoint)
{
    const QChar::Category category = QChar::category(codePoint);
    return category == QChar::Letter_Uppercase || category == QChar::Letter_Titlecase;
}

bool isAlphanumeric(char32_t codePoint)
{
    switch (QChar::category(codePoint)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

} // namespace

QString normalizedEmail(const QString &typed)
{
    return Text::trimmed(typed).toLower();
}

bool isPlausibleEmail(const QString &normalized)
{
    return normalized.contains(QLatin1Char('@')) && normalized.contains(QLatin1Char('.'));
}

std::optional<QString> passwordPolicyError(const QString &password)
{
    if (Text::graphemeCount(password) < minimumPasswordLength)
        return QStringLiteral("Password must be at least 8 characters.");

    bool hasUppercase = false;
    bool hasLowercase = false;
    bool hasDigit = false;
    bool hasSymbol = false;
    for (const uint codePoint : password.toUcs4()) {
        hasUppercase = hasUppercase || isUppercase(codePoint);
        hasLowercase = hasLowercase || QChar::category(codePoint) == QChar::Letter_Lowercase;
        hasDigit = hasDigit || QChar::category(codePoint) == QChar::Number_DecimalDigit;
        hasSymbol = hasSymbol || !isAlphanumeric(codePoint);
    }
    if (!hasUppercase)
        return QStringLiteral("Password must include an uppercase letter.");
    if (!hasLowercase)
        return QStringLiteral("Password must include a lowercase letter.");
    if (!hasDigit)
        return QStringLiteral("Password must include a digit.");
    if (!hasSymbol)
        return QStringLiteral("Password must include a symbol.");
    return std::nullopt;
}

bool passwordsMatch(const QString &password, const QString &confirmation)
{
    return Text::nfcEquals(password, confirmation);
}

} // namespace EmailSignInRules
