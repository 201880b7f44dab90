#pragma once

#include "base/KavrelError.h"

#include <QString>

#include <exception>

// The failures of the live translation clients, with the texts the engine shows.
class DeepSeekTranslationError final : public KavrelError
{
public:
    enum class Case {
        requestFailed,
        serverError,
        authenticationRequired,
        invalidRequest,
        invalidResponse,
        alreadyConnected,
        timedOut,
    };

    // Wraps the error that made a request fail; its text follows ours.
    static DeepSeekTranslationError requestFailed(std::exception_ptr cause);
    static DeepSeekTranslationError serverError(QString message);
    static DeepSeekTranslationError authenticationRequired() { return DeepSeekTranslationError(Case::authenticationRequired); }
    static DeepSeekTranslationError invalidRequest() { return DeepSeekTranslationError(Case::invalidRequest); }
    static DeepSeekTranslationError invalidResponse() { return DeepSeekTranslationError(Case::invalidResponse); }
    static DeepSeekTranslationError alreadyConnected() { return DeepSeekTranslationError(Case::alreadyConnected); }
    static DeepSeekTranslationError timedOut() { return DeepSeekTranslationError(Case::timedOut); }
    // requestFailed wrapping a lost network connection: what a send without a socket reports.
    static DeepSeekTranslationError connectionLost();

    Case errorCase() const { return m_case; }
    // requestFailed: the wrapped error.
    std::exception_ptr cause() const { return m_cause; }
    // serverError: the server's message.
    QString serverMessage() const { return m_serverMessage; }

    QString message() const override;

    // True when the exception is a DeepSeekTranslationError of this case.
    static bool is(const std::exception_ptr &error, Case errorCase);

private:
    explicit DeepSeekTranslationError(Case errorCase) : m_case(errorCase) {}

    Case m_case;
    std::exception_ptr m_cause;
    QString m_serverMessage;
};
