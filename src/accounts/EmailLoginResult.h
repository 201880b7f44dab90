#pragma once

#include "accounts/AuthSession.h"
#include "accounts/MfaChallenge.h"

#include <optional>

// The outcome of an e-mail password login: a session, or a second-factor challenge.
struct EmailLoginResult
{
    enum class Kind { authenticated, mfaRequired };

    Kind kind = Kind::authenticated;
    std::optional<AuthSession> session;     // set for authenticated
    std::optional<MfaChallenge> challenge;  // set for mfaRequired

    static EmailLoginResult authenticated(AuthSession session)
    {
        EmailLoginResult result;
        result.kind = Kind::authenticated;
        result.session = std::move(session);
        return result;
    }
    static EmailLoginResult mfaRequired(MfaChallenge challenge)
    {
        EmailLoginResult result;
        result.kind = Kind::mfaRequired;
        result.challenge = std::move(challenge);
        return result;
    }

    bool operator==(const EmailLoginResult &) const = default;
};
