#pragma once

#include <QString>

#include <optional>

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
