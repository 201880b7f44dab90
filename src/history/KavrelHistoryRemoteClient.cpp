#include "history/KavrelHistoryRemoteClient.h"

#include "accounts/KavrelBackendProxyService.h"
#include "services/DeepSeekSummaryService.h"
#include "services/MeetingSessionHistoryService.h"

KavrelHistoryRemoteClient::KavrelHistoryRemoteClient(AuthService *authService)
    : m_historyService(std::make_unique<MeetingSessionHistoryService>(authService))
    , m_proxyService(std::make_unique<KavrelBackendProxyService>(authService))
    , m_summaryService(std::make_unique<DeepSeekSummaryService>(m_proxyService.get()))
{
}

KavrelHistoryRemoteClient::~KavrelHistoryRemoteClient() = default;

QCoro::Task<MeetingSessionHistoryListPage> KavrelHistoryRemoteClient::fetchSessions(MeetingSessionHistoryListQuery query)
{
    return m_historyService->fetchSessions(std::move(query));
}

QCoro::Task<MeetingSessionHistoryDetail> KavrelHistoryRemoteClient::fetchSessionDetail(QString id)
{
    return m_historyService->fetchSessionDetail(std::move(id));
}

QCoro::Task<void> KavrelHistoryRemoteClient::deleteSession(QString id)
{
    return m_historyService->deleteSession(std::move(id));
}

QCoro::Task<MeetingSessionHistoryRemoteState> KavrelHistoryRemoteClient::updateSession(QString id, qint64 revision,
                                                                                       MeetingSessionHistorySnapshot snapshot)
{
    return m_historyService->updateSessionAtRevision(std::move(id), revision, std::move(snapshot));
}

QCoro::Task<QString> KavrelHistoryRemoteClient::summarize(QString transcript, QString inputLanguageName,
                                                          QString outputLanguageName)
{
    return m_summaryService->summarize(std::move(transcript), std::move(inputLanguageName), std::move(outputLanguageName));
}
