#pragma once

#include "base/KavrelError.h"

#include <exception>
#include <utility>

// What the errors of the AI text requests (summary, meeting protocol, answer suggestion) have
// in common: the case, and the failure that the requestFailed case wraps. Each request keeps
// its own error class, with its own cases and texts, built on this.
template<typename CaseType>
class DeepSeekRequestError : public KavrelError
{
public:
    using Case = CaseType;

    Case errorCase() const { return m_case; }
    // The failure that requestFailed wraps.
    std::exception_ptr cause() const { return m_cause; }

protected:
    explicit DeepSeekRequestError(Case errorCase, std::exception_ptr cause = nullptr)
        : m_case(errorCase), m_cause(std::move(cause)) {}

private:
    Case m_case;
    std::exception_ptr m_cause;
};
