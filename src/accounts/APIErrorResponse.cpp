#include "accounts/APIErrorResponse.h"

#include "base/Json.h"
#include "base/Text.h"

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
