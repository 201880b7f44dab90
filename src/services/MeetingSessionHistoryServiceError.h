#pragma once

#include "base/KavrelError.h"

#include <QString>

#include <optional>

// The failure of a meeting-history request. The texts are Russian and shown as they stand;
// the server's own messages are passed through.
class MeetingSessionHistoryServiceError final : public KavrelError
{
public:
    enum class Case {
        invalidBackendBaseURL,     // payload: the base URL text that did not parse
        meetingContentUnavailable, // payload: the server's message
        graphqlRequestFailed,      // payload: the server's message or the trimmed error body
        missingAuthSession,
        invalidResponse,
    };

    explicit MeetingSessionHistoryServiceError(Case errorCase, QString payload = QString())
        : m_case(errorCase), m_payload(std::move(payload)) {}

    static MeetingSessionHistoryServiceError invalidBackendBaseURL(const QString &text) { return MeetingSessionHistoryServiceError(Case::invalidBackendBaseURL, text); }
    static MeetingSessionHistoryServiceError meetingContentUnavailable(const QString &message) { return MeetingSessionHistoryServiceError(Case::meetingContentUnavailable, message); }
    static MeetingSessionHistoryServiceError graphqlRequestFailed(const QString &message) { return MeetingSessionHistoryServiceError(Case::graphqlRequestFailed, message); }
    static MeetingSessionHistoryServiceError missingAuthSession() { return MeetingSessionHistoryServiceError(Case::missingAuthSession); }
    static MeetingSessionHistoryServiceError invalidResponse() { return MeetingSessionHistoryServiceError(Case::invalidResponse); }
    // A failed answer whose body is not for the screen (a gateway's page): graphqlRequestFailed
    // with a text that names the status.
    static MeetingSessionHistoryServiceError answeredWithStatus(int status);

    Case errorCase() const { return m_case; }
    QString payload() const { return m_payload; }
    // The HTTP status of the answer that carried the failure when it was not 2xx; 0 otherwise.
    // A gateway's 502 and a server's refusal may carry the same text: only this tells them apart.
    int httpStatus() const { return m_httpStatus; }
    MeetingSessionHistoryServiceError withHttpStatus(int status) const
    {
        MeetingSessionHistoryServiceError error = *this;
        error.m_httpStatus = status;
        return error;
    }
    // The machine-readable code of the server's GraphQL error ("NOT_FOUND"), when it gave one.
    std::optional<QString> serverCode() const { return m_serverCode; }
    MeetingSessionHistoryServiceError withServerCode(std::optional<QString> code) const
    {
        MeetingSessionHistoryServiceError error = *this;
        error.m_serverCode = std::move(code);
        return error;
    }

    QString message() const override;

    bool operator==(const MeetingSessionHistoryServiceError &other) const
    {
        return m_case == other.m_case && m_payload == other.m_payload;
    }

private:
    Case m_case;
    QString m_payload;
    int m_httpStatus = 0;
    std::optional<QString> m_serverCode;
};
