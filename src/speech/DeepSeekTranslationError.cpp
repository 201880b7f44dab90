#include "speech/DeepSeekTranslationError.h"

#include "platform/WebSocketError.h"

DeepSeekTranslationError DeepSeekTranslationError::requestFailed(std::exception_ptr cause)
{
    DeepSeekTranslationError error(Case::requestFailed);
    error.m_cause = std::move(cause);
    return error;
}

DeepSeekTranslationError DeepSeekTranslationError::serverError(QString message)
{
    DeepSeekTranslationError error(Case::serverError);
    error.m_serverMessage = std::move(message);
    return error;
}

DeepSeekTranslationError DeepSeekTranslationError::connectionLost()
{
    return requestFailed(std::make_exception_ptr(WebSocketError::connectionLost()));
}

QString DeepSeekTranslationError::message() const
{
    switch (m_case) {
    case Case::requestFailed:
        return QStringLiteral("The app could not translate the final transcript: ") + errorMessage(m_cause);
    case Case::serverError:
        return QStringLiteral("The AI backend returned an error: ") + m_serverMessage;
    case Case::authenticationRequired:
        return QStringLiteral("Sign in to use live translation.");
    case Case::invalidRequest:
        return QStringLiteral("The app could not create the translation request.");
    case Case::invalidResponse:
        return QStringLiteral("The AI backend returned an empty translation response.");
    case Case::alreadyConnected:
        return QStringLiteral("Live translation is already connected.");
    case Case::timedOut:
        return QStringLiteral("Live translation did not respond in time.");
    }
    return QString();
}

bool DeepSeekTranslationError::is(const std::exception_ptr &error, Case errorCase)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const DeepSeekTranslationError &translationError) {
        return translationError.errorCase() == errorCase;
    } catch (...) {
    }
    return false;
}
