#pragma once

#include "history/KavrelHistoryClient.h"

#include <memory>

class AuthService;
class DeepSeekSummaryService;
class KavrelBackendProxyService;
class MeetingSessionHistoryService;

// The history browser's backend: its own meeting-history client and an AI summary service
// over its own backend proxy, all signed in through the given auth service.
class KavrelHistoryRemoteClient final : public KavrelHistoryClient
{
public:
    // The auth service is not owned and must outlive this client.
    explicit KavrelHistoryRemoteClient(AuthService *authService);
    ~KavrelHistoryRemoteClient() override;

    QCoro::Task<MeetingSessionHistoryListPage> fetchSessions(MeetingSessionHistoryListQuery query) override;
    QCoro::Task<MeetingSessionHistoryDetail> fetchSessionDetail(QString id) override;
    QCoro::Task<void> deleteSession(QString id) override;
    QCoro::Task<MeetingSessionHistoryRemoteState> updateSession(QString id, qint64 revision,
                                                                MeetingSessionHistorySnapshot snapshot) override;
    QCoro::Task<QString> summarize(QString transcript, QString inputLanguageName, QString outputLanguageName) override;

private:
    std::unique_ptr<MeetingSessionHistoryService> m_historyService;
    std::unique_ptr<KavrelBackendProxyService> m_proxyService;
    std::unique_ptr<DeepSeekSummaryService> m_summaryService;
};
