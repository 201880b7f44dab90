#pragma once

#include "base/KavrelError.h"

#include <QString>

#include <exception>
#include <optional>

// Why the speech-to-text socket did not open, with the texts the user sees after
// "The app could not open the live transcription connection: ".
class DeepgramWebSocketOpenError final : public KavrelError
{
public:
    enum class Case {
        closed,
        transport,
        timedOut,
    };

    static DeepgramWebSocketOpenError closed(int code, std::optional<QString> reason)
    {
        DeepgramWebSocketOpenError error(Case::closed);
        error.m_code = code;
        error.m_reason = std::move(reason);
        return error;
    }
    static DeepgramWebSocketOpenError transport(std::exception_ptr cause)
    {
        DeepgramWebSocketOpenError error(Case::transport);
        error.m_cause = std::move(cause);
        return error;
    }
    static DeepgramWebSocketOpenError timedOut() { return DeepgramWebSocketOpenError(Case::timedOut); }

    Case errorCase() const { return m_case; }
    int code() const { return m_code; }
    const std::optional<QString> &reason() const { return m_reason; }
    std::exception_ptr cause() const { return m_cause; }

    QString message() const override;

private:
    explicit DeepgramWebSocketOpenError(Case errorCase) : m_case(errorCase) {}

    Case m_case;
    int m_code = 0;
    std::optional<QString> m_reason;
    std::exception_ptr m_cause;
};
