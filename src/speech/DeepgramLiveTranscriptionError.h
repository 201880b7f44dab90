#pragma once

#include "base/KavrelError.h"

#include <QString>

#include <exception>

// The failures of the live speech-to-text client, with their user-facing texts.
class DeepgramLiveTranscriptionError final : public KavrelError
{
public:
    enum class Case {
        connectionFailed,
        sendFailed,
        receiveFailed,
        serverError,
        authenticationRequired,
        invalidRequest,
        alreadyConnected,
    };

    static DeepgramLiveTranscriptionError connectionFailed(QString text) { return {Case::connectionFailed, std::move(text), nullptr}; }
    static DeepgramLiveTranscriptionError sendFailed(std::exception_ptr cause) { return {Case::sendFailed, errorMessage(cause), cause}; }
    static DeepgramLiveTranscriptionError receiveFailed(std::exception_ptr cause) { return {Case::receiveFailed, errorMessage(cause), cause}; }
    static DeepgramLiveTranscriptionError serverError(QString text) { return {Case::serverError, std::move(text), nullptr}; }
    static DeepgramLiveTranscriptionError authenticationRequired() { return {Case::authenticationRequired, QString(), nullptr}; }
    static DeepgramLiveTranscriptionError invalidRequest() { return {Case::invalidRequest, QString(), nullptr}; }
    static DeepgramLiveTranscriptionError alreadyConnected() { return {Case::alreadyConnected, QString(), nullptr}; }

    Case errorCase() const { return m_case; }
    // connectionFailed and serverError: the text; sendFailed and receiveFailed: the text of
    // the wrapped error.
    QString detail() const { return m_detail; }
    // sendFailed and receiveFailed: the wrapped error.
    std::exception_ptr cause() const { return m_cause; }

    QString message() const override;

private:
    DeepgramLiveTranscriptionError(Case errorCase, QString detail, std::exception_ptr cause)
        : m_case(errorCase), m_detail(std::move(detail)), m_cause(std::move(cause)) {}

    Case m_case;
    QString m_detail;
    std::exception_ptr m_cause;
};
