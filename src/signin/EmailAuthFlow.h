#pragma once

#include "accounts/AuthMessages.h"

#include <QString>

#include <optional>

// The step of the e-mail sign-in screen, with what the step carries: the challenge of a
// code to verify, the verified code of a password to set, the authenticator being set up,
// or the second factor a login asked for.
struct EmailAuthFlow
{
    enum class Kind { verifyRegistration, completeRegistration, registrationTotp, loginMfa, signIn, registerAccount };

    Kind kind = Kind::signIn;
    std::optional<EmailChallenge> challenge;       // verifyRegistration
    std::optional<EmailVerification> verification; // completeRegistration, registrationTotp
    std::optional<TotpSetup> setup;                // registrationTotp
    std::optional<MfaChallenge> mfaChallenge;      // loginMfa

    static EmailAuthFlow signIn();
    static EmailAuthFlow registerAccount();
    static EmailAuthFlow verifyRegistration(EmailChallenge challenge);
    static EmailAuthFlow completeRegistration(EmailVerification verification);
    static EmailAuthFlow registrationTotp(EmailVerification verification, TotpSetup setup);
    static EmailAuthFlow loginMfa(MfaChallenge challenge);

    // The step's title, an interface key.
    QString title() const;
    // Only the two steps without a payload offer the sign-in / create-account switch.
    bool showsModeSwitch() const { return kind == Kind::signIn || kind == Kind::registerAccount; }

    bool operator==(const EmailAuthFlow &) const = default;
};
