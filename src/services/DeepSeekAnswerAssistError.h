#pragma once

#include "base/KavrelError.h"

#include <QString>

#include <exception>

// The failure of an answer suggestion. The texts are English and shown as they stand.
class DeepSeekAnswerAssistError final : public KavrelError
{
public:
    enum class Case {
        requestFailed,
        invalidResponse,
    };

    static DeepSeekAnswerAssistError requestFailed(std::exception_ptr cause) { return DeepSeekAnswerAssistError(Case::requestFailed, std::move(cause)); }
    static DeepSeekAnswerAssistError invalidResponse() { return DeepSeekAnswerAssistError(Case::invalidResponse); }

    Case errorCase() const { return m_case; }
    // The failure that requestFailed wraps.
    std::exception_ptr cause() const { return m_cause; }

    QString message() const override;

private:
    explicit DeepSeekAnswerAssistError(Case errorCase, std::exception_ptr cause = nullptr)
        : m_case(errorCase), m_cause(std::move(cause)) {}

    Case m_case;
    std::exception_ptr m_cause;
};
