#pragma once

#include "base/KavrelError.h"

#include <QString>

#include <exception>
#include <optional>

// Why the translation websocket did not open: the server closed it during the upgrade, the
// upgrade failed in transport, or it did not complete within the open time-out.
class TranslationV2WebSocketOpenError final : public KavrelError
{
public:
    enum class Case {
        closed,
        transport,
        timedOut,
    };

    static TranslationV2WebSocketOpenError closed(int code, std::optional<QString> reason);
    static TranslationV2WebSocketOpenError transport(std::exception_ptr cause);
    static TranslationV2WebSocketOpenError timedOut() { return TranslationV2WebSocketOpenError(Case::timedOut); }

    // The websocket layer's open failure in these terms; other errors are returned as they are.
    static std::exception_ptr fromOpenFailure(const std::exception_ptr &failure);

    Case errorCase() const { return m_case; }
    int closeCode() const { return m_closeCode; }
    const std::optional<QString> &closeReason() const { return m_closeReason; }
    std::exception_ptr cause() const { return m_cause; }

    QString message() const override;

private:
    explicit TranslationV2WebSocketOpenError(Case errorCase) : m_case(errorCase) {}

    Case m_case;
    int m_closeCode = 0;
    std::optional<QString> m_closeReason;
    std::exception_ptr m_cause;
};
