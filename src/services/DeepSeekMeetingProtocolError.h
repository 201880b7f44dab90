#pragma once

#include "services/DeepSeekRequestError.h"

#include <QString>

#include <exception>

enum class DeepSeekMeetingProtocolErrorCase {
    requestFailed,
    invalidResponse,
    incompleteResponse,
};

// The failure of a meeting-protocol request. The texts are English and shown as they stand.
class DeepSeekMeetingProtocolError final : public DeepSeekRequestError<DeepSeekMeetingProtocolErrorCase>
{
public:
    static DeepSeekMeetingProtocolError requestFailed(std::exception_ptr cause) { return DeepSeekMeetingProtocolError(Case::requestFailed, std::move(cause)); }
    static DeepSeekMeetingProtocolError invalidResponse() { return DeepSeekMeetingProtocolError(Case::invalidResponse); }
    static DeepSeekMeetingProtocolError incompleteResponse() { return DeepSeekMeetingProtocolError(Case::incompleteResponse); }

    QString message() const override;

private:
    using DeepSeekRequestError::DeepSeekRequestError;
};
