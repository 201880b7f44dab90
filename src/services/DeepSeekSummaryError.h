#pragma once

#include "base/KavrelError.h"

#include <QString>

#include <exception>

// The failure of a summary request. The texts are English and shown as they stand.
class DeepSeekSummaryError final : public KavrelError
{
public:
    enum class Case {
        requestFailed,
        invalidResponse,
        incompleteResponse,
    };

    static DeepSeekSummaryError requestFailed(std::exception_ptr cause) { return DeepSeekSummaryError(Case::requestFailed, std::move(cause)); }
    static DeepSeekSummaryError invalidResponse() { return DeepSeekSummaryError(Case::invalidResponse); }
    static DeepSeekSummaryError incompleteResponse() { return DeepSeekSummaryError(Case::incompleteResponse); }

    Case errorCase() const { return m_case; }
    // The failure that requestFailed wraps.
    std::exception_ptr cause() const { return m_cause; }

    QString message() const override;

private:
    explicit DeepSeekSummaryError(Case errorCase, std::exception_ptr cause = nullptr)
        : m_case(errorCase), m_cause(std::move(cause)) {}

    Case m_case;
    std::exception_ptr m_cause;
};
