#pragma once

#include "services/DeepSeekRequestError.h"

#include <QString>

#include <exception>

enum class DeepSeekSummaryErrorCase {
    requestFailed,
    invalidResponse,
    incompleteResponse,
};

// The failure of a summary request. The texts are English and shown as they stand.
class DeepSeekSummaryError final : public DeepSeekRequestError<DeepSeekSummaryErrorCase>
{
public:
    static DeepSeekSummaryError requestFailed(std::exception_ptr cause) { return DeepSeekSummaryError(Case::requestFailed, std::move(cause)); }
    static DeepSeekSummaryError invalidResponse() { return DeepSeekSummaryError(Case::invalidResponse); }
    static DeepSeekSummaryError incompleteResponse() { return DeepSeekSummaryError(Case::incompleteResponse); }

    QString message() const override;

private:
    using DeepSeekRequestError::DeepSeekRequestError;
};
