#include "speech/TranslationV2WebSocketOpenError.h"

#include "platform/WebSocketOpenError.h"

TranslationV2WebSocketOpenError TranslationV2WebSocketOpenError::closed(int code, std::optional<QString> reason)
{
    TranslationV2WebSocketOpenError error(Case::closed);
    error.m_closeCode = code;
    error.m_closeReason = std::move(reason);
    return error;
}

TranslationV2WebSocketOpenError TranslationV2WebSocketOpenError::transport(std::exception_ptr cause)
{
    TranslationV2WebSocketOpenError error(Case::transport);
    error.m_cause = std::move(cause);
    return error;
}

std::exception_ptr TranslationV2WebSocketOpenError::fromOpenFailure(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const WebSocketOpenError &openError) {
        switch (openError.kind()) {
        case WebSocketOpenError::Kind::closed:
            return std::make_exception_ptr(closed(openError.closeCode(), openError.closeReason()));
        case WebSocketOpenError::Kind::transport:
            if (openError.transportError())
                return std::make_exception_ptr(transport(std::make_exception_ptr(*openError.transportError())));
            return std::make_exception_ptr(transport(failure));
        case WebSocketOpenError::Kind::timedOut:
            return std::make_exception_ptr(timedOut());
        }
    } catch (...) {
    }
    return failure;
}

QString TranslationV2WebSocketOpenError::message() const
{
    switch (m_case) {
    case Case::closed:
        if (m_closeReason && !m_closeReason->isEmpty())
            return QStringLiteral("The v2 translation WebSocket closed during setup (code %1): %2").arg(m_closeCode).arg(*m_closeReason);
        return QStringLiteral("The v2 translation WebSocket closed during setup (code %1).").arg(m_closeCode);
    case Case::transport:
        return errorMessage(m_cause);
    case Case::timedOut:
        return QStringLiteral("The v2 translation WebSocket upgrade did not complete in time.");
    }
    return QString();
}
