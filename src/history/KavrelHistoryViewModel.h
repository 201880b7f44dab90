#pragma once

#include "base/Async.h"
#include "history/KavrelHistoryClient.h"
#include "history/KavrelHistoryDetailTab.h"
#include "services/MeetingSessionHistoryTypes.h"
#include "session/MeetingsInUse.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class KavrelLocalizationStore;

// State and commands of the history browser: the list of saved meetings (first page,
// debounced search, next pages, deletion), the one meeting opened in the detail sheet, and
// the AI summary of that meeting written back to the server. Lives on the main thread.
//
// Results that arrive late are checked before they are written: a next page only joins
// the list it was asked for, a detail only fills the sheet of the open it belongs to, and
// every summary result only touches the sheet while that meeting is still selected.
class KavrelHistoryViewModel final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(bool isLoadingMore READ isLoadingMore NOTIFY isLoadingMoreChanged)
    Q_PROPERTY(bool isLoadingDetail READ isLoadingDetail NOTIFY isLoadingDetailChanged)
    Q_PROPERTY(bool isSummaryLoading READ isSummaryLoading NOTIFY isSummaryLoadingChanged)
    Q_PROPERTY(bool isDetailPresented READ isDetailPresented NOTIFY isDetailPresentedChanged)

public:
    static constexpr qint64 pageSize = 20;
    static constexpr std::chrono::milliseconds defaultSearchDebounce{320};
    // A save that meets a newer revision is rebuilt from the newer record this many times.
    static constexpr int maxSummarySaveAttempts = 3;

    // The localization store must outlive the view model.
    KavrelHistoryViewModel(std::shared_ptr<KavrelHistoryClient> client, const KavrelLocalizationStore &localization,
                           QObject *parent = nullptr);
    ~KavrelHistoryViewModel() override;

    void setSearchDebounceInterval(std::chrono::milliseconds interval) { m_searchDebounce = interval; }
    // Tells which meetings the session engine still writes; asked at each deletion. Without it
    // any meeting may be deleted.
    void setMeetingsInUseReader(std::function<MeetingsInUse()> reader) { m_readMeetingsInUse = std::move(reader); }
    // Told of each summary the server took for a meeting (its id and the text), as soon as it
    // did: the session engine keeps it with a meeting it still writes.
    using SavedSummaryListener = std::function<void(const QString &sessionID, const QString &summary)>;
    void setSavedSummaryListener(SavedSummaryListener listener) { m_savedSummaryListener = std::move(listener); }

    QString searchText() const { return m_searchText; }
    const QList<MeetingSessionHistoryListItem> &sessions() const { return m_sessions; }
    std::optional<QString> nextCursor() const { return m_nextCursor; }
    bool isLoading() const { return m_isLoading; }
    bool isLoadingMore() const { return m_isLoadingMore; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    std::optional<QString> deletingSessionID() const { return m_deletingSessionID; }
    std::optional<MeetingSessionHistoryListItem> selectedSessionSummary() const { return m_selectedSessionSummary; }
    std::optional<MeetingSessionHistoryDetail> selectedSessionDetail() const { return m_selectedSessionDetail; }
    bool isLoadingDetail() const { return m_isLoadingDetail; }
    std::optional<QString> detailErrorMessage() const { return m_detailErrorMessage; }
    bool isSummaryLoading() const { return m_isSummaryLoading; }
    std::optional<QString> detailSummaryText() const { return m_detailSummaryText; }
    std::optional<QString> summaryErrorMessage() const { return m_summaryErrorMessage; }
    KavrelHistoryDetailTab selectedDetailTab() const { return m_selectedDetailTab; }
    bool isDetailPresented() const { return m_isDetailPresented; }
    bool hasLoadedInitialPage() const { return m_hasLoadedInitialPage; }

    // Every change of the text starts the debounced reload (once the first page was asked for).
    void setSearchText(const QString &text);
    void setSelectedDetailTab(KavrelHistoryDetailTab tab);

    // The first appearance of the list loads the first page; later ones do nothing.
    QCoro::Task<void> loadInitialPage();
    // Loads the first page for the search text. A call while a first page loads is not
    // lost: when the search text then differs from that load's, it runs afterwards.
    QCoro::Task<void> reload(bool force);
    QCoro::Task<void> loadMore();
    // A meeting the session engine still writes is not deleted: the list says why instead. A
    // meeting the server no longer has counts as deleted.
    QCoro::Task<void> deleteSession(MeetingSessionHistoryListItem item);
    // Why the meeting may not be deleted now, for the screen; nothing when it may.
    std::optional<QString> deletionRefusal(const MeetingSessionHistoryListItem &item) const;
    QCoro::Task<void> openSession(MeetingSessionHistoryListItem item);
    QCoro::Task<void> retrySelectedSession();
    void dismissDetail();

    bool canSummarize(const MeetingSessionHistoryDetail &detail) const;
    // Starts the summary of the selected meeting and returns its task (an empty handle when
    // nothing was started). At most one summary runs per meeting.
    TaskHandle<void> summarizeSelectedTranscript();

    // The search text trimmed, nothing when blank.
    static std::optional<QString> normalizedQuery(const QString &searchText);

Q_SIGNALS:
    void searchTextChanged();
    void sessionsChanged();
    void nextCursorChanged();
    void isLoadingChanged();
    void isLoadingMoreChanged();
    void errorMessageChanged();
    void deletingSessionIDChanged();
    void selectedSessionSummaryChanged();
    void selectedSessionDetailChanged();
    void isLoadingDetailChanged();
    void detailErrorMessageChanged();
    void isSummaryLoadingChanged();
    void detailSummaryTextChanged();
    void summaryErrorMessageChanged();
    void selectedDetailTabChanged();
    void isDetailPresentedChanged();
    // After any of the above.
    void stateChanged();

private:
    void scheduleSearchReload();
    static QCoro::Task<void> debouncedReload(QPointer<KavrelHistoryViewModel> self, std::chrono::milliseconds interval,
                                             CancellationToken token);
    MeetingSessionHistoryListQuery firstPageQuery() const;
    void applyFirstPage(const MeetingSessionHistoryListPage &page, std::optional<QString> query);

    static QCoro::Task<void> runSummary(QPointer<KavrelHistoryViewModel> self, std::shared_ptr<KavrelHistoryClient> client,
                                        QString transcript, MeetingSessionHistoryDetail detail);
    static QCoro::Task<void> persistSummary(QPointer<KavrelHistoryViewModel> self,
                                            std::shared_ptr<KavrelHistoryClient> client, QString summary,
                                            MeetingSessionHistoryDetail detail);
    static QCoro::Task<void> saveSummary(std::shared_ptr<KavrelHistoryClient> client, QString summary,
                                         MeetingSessionHistoryDetail detail);
    QCoro::Task<void> refreshListAfterSummarySave();
    void appendSummaryError(const QString &message);
    // The id of the meeting the sheet shows, nothing when none is selected.
    std::optional<QString> selectedSessionID() const;
    bool isSelected(const QString &id) const;

    void setSessions(QList<MeetingSessionHistoryListItem> sessions);
    void setNextCursor(std::optional<QString> cursor);
    void setIsLoading(bool value);
    void setIsLoadingMore(bool value);
    void setErrorMessage(std::optional<QString> message);
    void setDeletingSessionID(std::optional<QString> id);
    void setSelectedSessionSummary(std::optional<MeetingSessionHistoryListItem> item);
    void setSelectedSessionDetail(std::optional<MeetingSessionHistoryDetail> detail);
    void setIsLoadingDetail(bool value);
    void setDetailErrorMessage(std::optional<QString> message);
    void setIsSummaryLoading(bool value);
    void setDetailSummaryText(std::optional<QString> text);
    void setSummaryErrorMessage(std::optional<QString> message);
    void setIsDetailPresented(bool value);

    std::shared_ptr<KavrelHistoryClient> m_client;
    const KavrelLocalizationStore &m_localization;
    std::chrono::milliseconds m_searchDebounce = defaultSearchDebounce;
    std::function<MeetingsInUse()> m_readMeetingsInUse;
    SavedSummaryListener m_savedSummaryListener;

    QString m_searchText;
    QList<MeetingSessionHistoryListItem> m_sessions;
    std::optional<QString> m_nextCursor;
    bool m_isLoading = false;
    bool m_isLoadingMore = false;
    std::optional<QString> m_errorMessage;
    std::optional<QString> m_deletingSessionID;
    std::optional<MeetingSessionHistoryListItem> m_selectedSessionSummary;
    std::optional<MeetingSessionHistoryDetail> m_selectedSessionDetail;
    bool m_isLoadingDetail = false;
    std::optional<QString> m_detailErrorMessage;
    bool m_isSummaryLoading = false;
    std::optional<QString> m_detailSummaryText;
    std::optional<QString> m_summaryErrorMessage;
    KavrelHistoryDetailTab m_selectedDetailTab = KavrelHistoryDetailTab::transcribe;
    bool m_isDetailPresented = false;

    bool m_hasLoadedInitialPage = false;
    std::optional<QString> m_lastAppliedNormalizedQuery;
    TaskHandle<void> m_searchReloadTask;
    // A reload asked for while a first page loaded.
    bool m_reloadPending = false;
    // Renewed by every first-page load; a page carrying an older one is dropped.
    GenerationId m_listGeneration;
    // Renewed by every open and dismissal of the detail sheet.
    GenerationId m_detailGeneration;
    // Meetings whose summary is being made or saved.
    QSet<QString> m_summariesInFlight;
};
