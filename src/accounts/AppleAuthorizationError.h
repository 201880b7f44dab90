#pragma once

#include "base/KavrelError.h"

#include <QString>

// A failure reported by an Apple authorization controller, with its error domain and code.
class AppleAuthorizationError final : public KavrelError
{
public:
    static constexpr const char *authorizationErrorDomain = "com.apple.AuthenticationServices.AuthorizationError";
    // The user closed the sign-in sheet.
    static constexpr int canceledCode = 1001;

    AppleAuthorizationError(QString domain, int code, QString description)
        : m_domain(std::move(domain)), m_code(code), m_description(std::move(description)) {}

    QString domain() const { return m_domain; }
    int code() const { return m_code; }
    QString message() const override { return m_description; }

private:
    QString m_domain;
    int m_code;
    QString m_description;
};
