#include "services/MeetingSessionHistoryServiceError.h"

QString MeetingSessionHistoryServiceError::message() const
{
    switch (m_case) {
    case Case::invalidBackendBaseURL:
        return QStringLiteral("Некорректный адрес сервера истории встреч: ") + m_payload;
    case Case::meetingContentUnavailable:
    case Case::graphqlRequestFailed:
        return m_payload;
    case Case::missingAuthSession:
        return QStringLiteral("Войдите в аккаунт, чтобы синхронизировать историю встреч.");
    case Case::invalidResponse:
        return QStringLiteral("Сервер истории встреч вернул некорректный ответ.");
    }
    return QString();
}

MeetingSessionHistoryServiceError MeetingSessionHistoryServiceError::answeredWithStatus(int status)
{
    return graphqlRequestFailed(QStringLiteral("Сервер истории встреч ответил ошибкой (статус %1).").arg(status))
        .withHttpStatus(status);
}
