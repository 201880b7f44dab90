#include "accounts/AppleAuthorizationSession.h"

#include "accounts/AppleAuthorizationController.h"
#include "accounts/AppleAuthorizationError.h"
#include "accounts/AuthServiceError.h"
#include "base/KavrelError.h"

#include <QStringDecoder>

namespace {

std::optional<QString> utf8Text(const std::optional<QByteArray> &bytes)
{
    if (!bytes)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(*bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

AppleAuthorizationSession::AppleAuthorizationSession(QString rawNonce, QString state, QObject *parent)
    : QObject(parent)
    , m_rawNonce(std::move(rawNonce))
    , m_state(std::move(state))
{
}

AppleAuthorizationController *AppleAuthorizationSession::controller() const
{
    return m_controller.data();
}

void AppleAuthorizationSession::setController(AppleAuthorizationController *controller)
{
    m_controller = controller;
}

void AppleAuthorizationSession::didCompleteWithAuthorization(const AppleAuthorization &authorization)
{
    if (!authorization.appleIDCredential) {
        finish(std::make_exception_ptr(AuthServiceError::invalidResponse()));
        return;
    }
    const AppleIDCredential &credential = *authorization.appleIDCredential;
    if (!credential.state || *credential.state != m_state) {
        finish(std::make_exception_ptr(AuthServiceError(AuthServiceError::Case::callbackStateMismatch)));
        return;
    }
    AppleAuthorizationResult result;
    result.idToken = utf8Text(credential.identityToken);
    result.authorizationCode = utf8Text(credential.authorizationCode);
    if (credential.fullName) {
        result.firstName = credential.fullName->givenName;
        result.lastName = credential.fullName->familyName;
    }
    result.email = credential.email;
    // A missing identity token is the caller's to judge.
    finish(result);
}

void AppleAuthorizationSession::didCompleteWithError(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const AppleAuthorizationError &appleError) {
        if (appleError.domain() == QLatin1String(AppleAuthorizationError::authorizationErrorDomain)
            && appleError.code() == AppleAuthorizationError::canceledCode) {
            finish(std::make_exception_ptr(CancellationError()));
            return;
        }
    } catch (...) {
    }
    finish(error);
}

QCoro::Task<AppleAuthorizationResult> AppleAuthorizationSession::waitForResult()
{
    AppleAuthorizationResult result = co_await m_continuation.install();
    co_return result;
}

void AppleAuthorizationSession::cancel()
{
    if (!m_continuation.isPending())
        return;
    if (m_controller)
        m_controller->cancel();
    finish(std::make_exception_ptr(CancellationError()));
}

void AppleAuthorizationSession::finish(std::variant<AppleAuthorizationResult, std::exception_ptr> result)
{
    if (!m_continuation.isPending())
        return;
    m_controller = nullptr;
    if (auto *value = std::get_if<AppleAuthorizationResult>(&result))
        m_continuation.resume(*value);
    else
        m_continuation.fail(std::get<std::exception_ptr>(result));
}
