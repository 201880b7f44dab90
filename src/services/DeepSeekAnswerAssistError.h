#pragma once

#include "services/DeepSeekRequestError.h"

#include <QString>

#include <exception>

enum class DeepSeekAnswerAssistErrorCase {
    requestFailed,
    invalidResponse,
};

// The failure of an answer suggestion. The texts are English and shown as they stand.
class DeepSeekAnswerAssistError final : public DeepSeekRequestError<DeepSeekAnswerAssistErrorCase>
{
public:
    static DeepSeekAnswerAssistError requestFailed(std::exception_ptr cause) { return DeepSeekAnswerAssistError(Case::requestFailed, std::move(cause)); }
    static DeepSeekAnswerAssistError invalidResponse() { return DeepSeekAnswerAssistError(Case::invalidResponse); }

    QString message() const override;

private:
    using DeepSeekRequestError::DeepSeekRequestError;
};
