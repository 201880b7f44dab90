#include "signin/EmailAuthFlow.h"

EmailAuthFlow EmailAuthFlow::signIn()
{
    return EmailAuthFlow();
}

EmailAuthFlow EmailAuthFlow::registerAccount()
{
    EmailAuthFlow flow;
    flow.kind = Kind::registerAccount;
    return flow;
}

EmailAuthFlow EmailAuthFlow::verifyRegistration(EmailChallenge challenge)
{
    EmailAuthFlow flow;
    flow.kind = Kind::verifyRegistration;
    flow.challenge = std::move(challenge);
    return flow;
}

EmailAuthFlow EmailAuthFlow::completeRegistration(EmailVerification verification)
{
    EmailAuthFlow flow;
    flow.kind = Kind::completeRegistration;
    flow.verification = std::move(verification);
    return flow;
}

EmailAuthFlow EmailAuthFlow::registrationTotp(EmailVerification verification, TotpSetup setup)
{
    EmailAuthFlow flow;
    flow.kind = Kind::registrationTotp;
    flow.verification = std::move(verification);
    flow.setup = std::move(setup);
    return flow;
}

EmailAuthFlow EmailAuthFlow::loginMfa(MfaChallenge challenge)
{
    EmailAuthFlow flow;
    flow.kind = Kind::loginMfa;
    flow.mfaChallenge = std::move(challenge);
    return flow;
}

QString EmailAuthFlow::title() const
{
    switch (kind) {
    case Kind::verifyRegistration:
        return QStringLiteral("Verify your email");
    case Kind::completeRegistration:
        return QStringLiteral("Set your password");
    case Kind::registrationTotp:
        return QStringLiteral("Set up authenticator");
    case Kind::loginMfa:
        return QStringLiteral("Authenticator code");
    case Kind::signIn:
        return QStringLiteral("Email sign in");
    case Kind::registerAccount:
        return QStringLiteral("Create account");
    }
    return QString();
}
