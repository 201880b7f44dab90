#pragma once

#include <QString>

#include <optional>

// The input rules of the e-mail sign-in and registration forms. Messages are interface keys,
// localized where they are shown.
namespace EmailSignInRules {

// Trimmed of white space and newlines, then lowercased: the address that is checked and sent.
QString normalizedEmail(const QString &typed);

// Loose on purpose: an "@" and a "." anywhere. The backend does the real check.
bool isPlausibleEmail(const QString &normalized);

// The first rule a registration password breaks, or nothing: at least 8 characters as a
// reader counts them, an uppercase letter, a lowercase letter, a digit, and something that
// is neither letter, mark nor number (a space counts).
std::optional<QString> passwordPolicyError(const QString &password);

// A password and its confirmation match when they are canonically equivalent.
bool passwordsMatch(const QString &password, const QString &confirmation);

inline const QString invalidEmailMessage = QStringLiteral("Enter a valid email address.");
inline const QString passwordMismatchMessage = QStringLiteral("Passwords do not match.");
inline const QString requiredFormat = QStringLiteral("%@ is required.");

} // namespace EmailSignInRules
