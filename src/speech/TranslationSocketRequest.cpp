#include "speech/TranslationSocketRequest.h"

#include "accounts/KavrelBackendProxyError.h"
#include "speech/DeepSeekTranslationError.h"

#include <exception>

QCoro::Task<QNetworkRequest> makeTranslationSocketRequest(QPointer<KavrelBackendProxyService> proxy, QString path)
{
    if (!proxy)
        throw DeepSeekTranslationError::invalidRequest();
    std::exception_ptr failure;
    QNetworkRequest request;
    try {
        request = co_await proxy->makeWebSocketRequest(path, KavrelBackendProxyService::QueryItems());
    } catch (const KavrelBackendProxyError &error) {
        switch (error.errorCase()) {
        case KavrelBackendProxyError::Case::authenticationRequired:
            failure = std::make_exception_ptr(DeepSeekTranslationError::authenticationRequired());
            break;
        case KavrelBackendProxyError::Case::invalidBackendBaseURL:
        case KavrelBackendProxyError::Case::invalidRequest:
            failure = std::make_exception_ptr(DeepSeekTranslationError::invalidRequest());
            break;
        case KavrelBackendProxyError::Case::serverError:
        case KavrelBackendProxyError::Case::invalidResponse:
            failure = std::make_exception_ptr(DeepSeekTranslationError::serverError(error.message()));
            break;
        }
    }
    if (failure)
        std::rethrow_exception(failure);
    co_return request;
}
