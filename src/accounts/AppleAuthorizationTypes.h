#pragma once

// The values an Apple authorization passes along: what the provider hands back, and the
// parts of it that sign-in sends to the backend.

#include <QByteArray>
#include <QString>

#include <optional>

// What an Apple ID authorization hands back. No provider exists on Linux; whoever supplies
// one fills this in for the authorization session.
struct AppleIDCredential
{
    struct FullName
    {
        std::optional<QString> givenName;
        std::optional<QString> familyName;
    };

    std::optional<QString> state;
    std::optional<QByteArray> identityToken;
    std::optional<QByteArray> authorizationCode;
    std::optional<FullName> fullName;
    std::optional<QString> email;
};

// One completed authorization: an Apple ID credential, or a credential of another kind
// (which sign-in cannot use).
struct AppleAuthorization
{
    std::optional<AppleIDCredential> appleIDCredential;
};

// The parts of an Apple ID credential that sign-in hands to the backend.
struct AppleAuthorizationResult
{
    std::optional<QString> idToken;
    std::optional<QString> authorizationCode;
    std::optional<QString> firstName;
    std::optional<QString> lastName;
    std::optional<QString> email;

    bool operator==(const AppleAuthorizationResult &) const = default;
};
