#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The error body of a failed auth request.
struct APIErrorResponse
{
    std::optional<QString> error;
    std::optional<QString> message;
    std::optional<QString> detail;
    std::optional<QString> title;
    std::optional<QString> errorDescription; // "error_description"

    // Nothing when the body is not a JSON object or one of the five keys holds something
    // other than a string or null.
    static std::optional<APIErrorResponse> decode(const QByteArray &body);

    // The first of error_description, message, detail, error, title that holds more than
    // white space, as sent.
    std::optional<QString> resolvedMessage() const;
};
