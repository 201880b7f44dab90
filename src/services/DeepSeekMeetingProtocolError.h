#pragma once

#include "base/KavrelError.h"

#include <QString>

#include <exception>

// The failure of a meeting-protocol request. The texts are English and shown as they stand.
class DeepSeekMeetingProtocolError final : public KavrelError
{
public:
    enum class Case {
        requestFailed,
        invalidResponse,
        incompleteResponse,
    };

    static DeepSeekMeetingProtocolError requestFailed(std::exception_ptr cause) { return DeepSeekMeetingProtocolError(Case::requestFailed, std::move(cause)); }
    static DeepSeekMeetingProtocolError invalidResponse() { return DeepSeekMeetingProtocolError(Case::invalidResponse); }
    static DeepSeekMeetingProtocolError incompleteResponse() { return DeepSeekMeetingProtocolError(Case::incompleteResponse); }

    Case errorCase() const { return m_case; }
    // The failure that requestFailed wraps.
    std::exception_ptr cause() const { return m_cause; }

    QString message() const override;

private:
    explicit DeepSeekMeetingProtocolError(Case errorCase, std::exception_ptr cause = nullptr)
        : m_case(errorCase), m_cause(std::move(cause)) {}

    Case m_case;
    std::exception_ptr m_cause;
};
