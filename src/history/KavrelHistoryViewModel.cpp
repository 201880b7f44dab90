#include "history/KavrelHistoryViewModel.h"

#include "localization/KavrelLocalizationStore.h"
#include "base/TaskOutcome.h"
#include "base/Text.h"
#include "history/KavrelHistoryRecordRules.h"
#include "services/MeetingSessionHistoryService.h"

#include <QStringList>

namespace {

bool isBlank(const std::optional<QString> &text)
{
    return !Text::nilIfEmpty(text).has_value();
}

} // namespace

KavrelHistoryViewModel::KavrelHistoryViewModel(std::shared_ptr<KavrelHistoryClient> client,
                                               const KavrelLocalizationStore &localization, QObject *parent)
    : QObject(parent)
    , m_client(std::move(client))
    , m_localization(localization)
{
}

KavrelHistoryViewModel::~KavrelHistoryViewModel()
{
    m_searchReloadTask.cancel();
}

std::optional<QString> KavrelHistoryViewModel::normalizedQuery(const QString &searchText)
{
    return Text::nilIfEmpty(searchText);
}

// ---- List ----

void KavrelHistoryViewModel::setSearchText(const QString &text)
{
    if (m_searchText == text)
        return;
    m_searchText = text;
    Q_EMIT searchTextChanged();
    Q_EMIT stateChanged();
    scheduleSearchReload();
}

void KavrelHistoryViewModel::scheduleSearchReload()
{
    if (!m_hasLoadedInitialPage)
        return;
    m_searchReloadTask.cancel();
    QPointer<KavrelHistoryViewModel> self(this);
    const std::chrono::milliseconds interval = m_searchDebounce;
    m_searchReloadTask = spawnTask([self, interval](CancellationToken token) {
        return debouncedReload(self, interval, std::move(token));
    });
}

QCoro::Task<void> KavrelHistoryViewModel::debouncedReload(QPointer<KavrelHistoryViewModel> self,
                                                          std::chrono::milliseconds interval, CancellationToken token)
{
    try {
        co_await sleepFor(interval, token);
    } catch (const CancellationError &) {
        co_return;
    }
    if (!self || token.isCancelled())
        co_return;
    co_await self->reload(true);
}

QCoro::Task<void> KavrelHistoryViewModel::loadInitialPage()
{
    if (m_hasLoadedInitialPage)
        co_return;
    m_hasLoadedInitialPage = true;
    co_await reload(true);
}

MeetingSessionHistoryListQuery KavrelHistoryViewModel::firstPageQuery() const
{
    MeetingSessionHistoryListQuery query;
    query.limit = pageSize;
    query.searchQuery = normalizedQuery(m_searchText);
    return query;
}

void KavrelHistoryViewModel::applyFirstPage(const MeetingSessionHistoryListPage &page, std::optional<QString> query)
{
    setSessions(page.items);
    setNextCursor(page.nextCursor);
    setErrorMessage(std::nullopt);
    m_lastAppliedNormalizedQuery = std::move(query);
}

QCoro::Task<void> KavrelHistoryViewModel::reload(bool force)
{
    if (m_isLoading) {
        m_reloadPending = true;
        co_return;
    }
    const MeetingSessionHistoryListQuery query = firstPageQuery();
    if (!force && query.searchQuery == m_lastAppliedNormalizedQuery)
        co_return;

    QPointer<KavrelHistoryViewModel> self(this);
    std::shared_ptr<KavrelHistoryClient> client = m_client;
    const QUuid generation = m_listGeneration.renew();
    setIsLoading(true);

    const TaskOutcome<MeetingSessionHistoryListPage> page = co_await outcomeOf(client->fetchSessions(query));
    if (!self)
        co_return;

    // A refresh that started later owns the list now.
    if (m_listGeneration.isCurrent(generation)) {
        if (page.succeeded()) {
            applyFirstPage(*page.value, query.searchQuery);
        } else {
            setSessions({});
            setNextCursor(std::nullopt);
            setErrorMessage(page.errorText());
        }
    }
    setIsLoading(false);

    if (m_reloadPending) {
        m_reloadPending = false;
        if (normalizedQuery(m_searchText) != query.searchQuery)
            co_await reload(true);
    }
}

QCoro::Task<void> KavrelHistoryViewModel::loadMore()
{
    if (m_isLoading || m_isLoadingMore || !m_nextCursor)
        co_return;

    QPointer<KavrelHistoryViewModel> self(this);
    std::shared_ptr<KavrelHistoryClient> client = m_client;
    const QUuid generation = m_listGeneration.current();
    MeetingSessionHistoryListQuery query;
    query.limit = pageSize;
    query.cursor = m_nextCursor;
    // The cursor belongs to the list on screen, so the page is asked for with that list's
    // query, not with a search text typed since.
    query.searchQuery = m_lastAppliedNormalizedQuery;
    setIsLoadingMore(true);

    const TaskOutcome<MeetingSessionHistoryListPage> page = co_await outcomeOf(client->fetchSessions(query));
    if (!self)
        co_return;

    // The list was loaded again meanwhile: this page and its cursor belong to the old one.
    if (m_listGeneration.isCurrent(generation)) {
        if (page.succeeded()) {
            setSessions(m_sessions + page.value->items);
            setNextCursor(page.value->nextCursor);
            setErrorMessage(std::nullopt);
        } else {
            setErrorMessage(page.errorText());
        }
    }
    setIsLoadingMore(false);
}

std::optional<QString> KavrelHistoryViewModel::deletionRefusal(const MeetingSessionHistoryListItem &item) const
{
    if (!m_readMeetingsInUse)
        return std::nullopt;
    // Deleted from under the engine, the record would answer its next save with "not found".
    const MeetingsInUse inUse = m_readMeetingsInUse();
    if (inUse.recordingID == item.id)
        return m_localization.localized(QStringLiteral("This session is being recorded now. Stop listening before deleting it."));
    if (inUse.waitingIDs.contains(item.id))
        return m_localization.localized(
            QStringLiteral("This session has not been saved to the server yet. It can be deleted once it is saved."));
    return std::nullopt;
}

QCoro::Task<void> KavrelHistoryViewModel::deleteSession(MeetingSessionHistoryListItem item)
{
    if (m_deletingSessionID)
        co_return;
    if (std::optional<QString> refusal = deletionRefusal(item)) {
        setErrorMessage(std::move(refusal));
        co_return;
    }

    QPointer<KavrelHistoryViewModel> self(this);
    std::shared_ptr<KavrelHistoryClient> client = m_client;
    setDeletingSessionID(item.id);

    const TaskOutcome<void> deletion = co_await outcomeOf(client->deleteSession(item.id));
    if (!self)
        co_return;

    // A meeting the server no longer has is gone, as asked: so is one whose earlier delete went
    // through while its answer was lost.
    if (deletion.failed() && !MeetingSessionHistoryService::isMeetingNotFoundError(deletion.error)) {
        setErrorMessage(deletion.errorText());
        setDeletingSessionID(std::nullopt);
        co_return;
    }
    QList<MeetingSessionHistoryListItem> remaining = m_sessions;
    remaining.removeIf([&item](const MeetingSessionHistoryListItem &row) { return row.id == item.id; });
    setSessions(std::move(remaining));
    if (isSelected(item.id))
        dismissDetail();
    setErrorMessage(std::nullopt);
    setDeletingSessionID(std::nullopt);
}

// ---- Detail ----

QCoro::Task<void> KavrelHistoryViewModel::openSession(MeetingSessionHistoryListItem item)
{
    QPointer<KavrelHistoryViewModel> self(this);
    std::shared_ptr<KavrelHistoryClient> client = m_client;
    const QUuid generation = m_detailGeneration.renew();

    setSelectedSessionSummary(item);
    setSelectedSessionDetail(std::nullopt);
    setDetailErrorMessage(std::nullopt);
    setDetailSummaryText(std::nullopt);
    setSummaryErrorMessage(std::nullopt);
    setSelectedDetailTab(KavrelHistoryDetailTab::transcribe);
    setIsLoadingDetail(true);
    setIsDetailPresented(true);
    // A summary of this meeting may still be on its way from an earlier opening.
    setIsSummaryLoading(m_summariesInFlight.contains(item.id));

    TaskOutcome<MeetingSessionHistoryDetail> detail = co_await outcomeOf(client->fetchSessionDetail(item.id));
    // Only the latest opening of a sheet that is still shown may fill it.
    if (!self || !m_detailGeneration.isCurrent(generation) || !m_isDetailPresented)
        co_return;

    if (detail.succeeded()) {
        const std::optional<QString> summary = Text::nilIfEmpty(detail.value->summaryText);
        setSelectedSessionDetail(std::move(detail.value));
        // A summary made while the record loaded is newer than the stored one.
        if (!m_detailSummaryText)
            setDetailSummaryText(summary);
    } else {
        setDetailErrorMessage(detail.errorText());
    }
    setIsLoadingDetail(false);
}

QCoro::Task<void> KavrelHistoryViewModel::retrySelectedSession()
{
    if (!m_selectedSessionSummary)
        co_return;
    const MeetingSessionHistoryListItem item = *m_selectedSessionSummary;
    co_await openSession(item);
}

void KavrelHistoryViewModel::dismissDetail()
{
    m_detailGeneration.renew();
    setIsDetailPresented(false);
    setSelectedSessionSummary(std::nullopt);
    setSelectedSessionDetail(std::nullopt);
    setDetailErrorMessage(std::nullopt);
    setDetailSummaryText(std::nullopt);
    setSummaryErrorMessage(std::nullopt);
    setSelectedDetailTab(KavrelHistoryDetailTab::transcribe);
    setIsLoadingDetail(false);
    setIsSummaryLoading(false);
}

std::optional<QString> KavrelHistoryViewModel::selectedSessionID() const
{
    if (m_selectedSessionDetail)
        return m_selectedSessionDetail->id;
    if (m_selectedSessionSummary)
        return m_selectedSessionSummary->id;
    return std::nullopt;
}

bool KavrelHistoryViewModel::isSelected(const QString &id) const
{
    return (m_selectedSessionSummary && m_selectedSessionSummary->id == id)
           || (m_selectedSessionDetail && m_selectedSessionDetail->id == id);
}

// ---- Summary ----

bool KavrelHistoryViewModel::canSummarize(const MeetingSessionHistoryDetail &detail) const
{
    return KavrelHistoryRecordRules::hasCopyableTranscript(detail) && !m_isSummaryLoading
           && !m_summariesInFlight.contains(detail.id) && isBlank(m_detailSummaryText) && isBlank(detail.summaryText);
}

TaskHandle<void> KavrelHistoryViewModel::summarizeSelectedTranscript()
{
    if (m_isSummaryLoading || !m_selectedSessionDetail)
        return {};
    const MeetingSessionHistoryDetail detail = *m_selectedSessionDetail;
    const std::optional<QString> transcript = KavrelHistoryRecordRules::copyableTranscriptText(detail);
    if (!transcript || m_summariesInFlight.contains(detail.id))
        return {};
    if (!isBlank(m_detailSummaryText) || !isBlank(detail.summaryText))
        return {};

    m_summariesInFlight.insert(detail.id);
    setIsSummaryLoading(true);
    setSummaryErrorMessage(std::nullopt);
    setSelectedDetailTab(KavrelHistoryDetailTab::summary);

    QPointer<KavrelHistoryViewModel> self(this);
    std::shared_ptr<KavrelHistoryClient> client = m_client;
    const QString text = *transcript;
    return spawnTask([self, client, text, detail](CancellationToken) {
        return runSummary(self, client, text, detail);
    });
}

QCoro::Task<void> KavrelHistoryViewModel::runSummary(QPointer<KavrelHistoryViewModel> self,
                                                     std::shared_ptr<KavrelHistoryClient> client, QString transcript,
                                                     MeetingSessionHistoryDetail detail)
{
    const QString language = KavrelHistoryRecordRules::deepSeekLanguageName(detail.inputLanguage);
    std::optional<QString> summary;
    try {
        summary = co_await client->summarize(transcript, language, language);
    } catch (...) {
        summary.reset();
    }

    if (summary) {
        if (self && self->isSelected(detail.id))
            self->setDetailSummaryText(summary);
        co_await persistSummary(self, client, *summary, detail);
    } else if (self && self->isSelected(detail.id)) {
        // The fallback is only a stand-in on screen: it is not saved as the meeting's
        // summary, so a later attempt can still store a real one.
        self->setSummaryErrorMessage(
            self->m_localization.localized(QStringLiteral("AI summary failed, showing a local fallback instead.")));
        self->setDetailSummaryText(KavrelHistoryRecordRules::localFallbackSummary(transcript));
    }

    if (!self)
        co_return;
    self->m_summariesInFlight.remove(detail.id);
    if (self->selectedSessionID() == detail.id)
        self->setIsSummaryLoading(false);
}

QCoro::Task<void> KavrelHistoryViewModel::saveSummary(std::shared_ptr<KavrelHistoryClient> client, QString summary,
                                                      MeetingSessionHistoryDetail detail)
{
    MeetingSessionHistoryDetail base = std::move(detail);
    for (int attempt = 1;; ++attempt) {
        const MeetingSessionHistorySnapshot snapshot = KavrelHistoryRecordRules::snapshot(base, summary);
        const auto update = co_await outcomeOf(client->updateSession(base.id, base.revision, snapshot));
        if (update.succeeded())
            co_return;
        if (attempt >= maxSummarySaveAttempts || !MeetingSessionHistoryService::isOutdatedRevisionError(update.error))
            update.rethrowIfFailed();
        // Someone saved the meeting since it was read (the live session may still be
        // writing it): take their record and change only its summary.
        base = co_await client->fetchSessionDetail(base.id);
    }
}

QCoro::Task<void> KavrelHistoryViewModel::persistSummary(QPointer<KavrelHistoryViewModel> self,
                                                         std::shared_ptr<KavrelHistoryClient> client, QString summary,
                                                         MeetingSessionHistoryDetail detail)
{
    const TaskOutcome<void> save = co_await outcomeOf(saveSummary(client, summary, detail));
    std::exception_ptr failure = save.error;

    // At once: the next save of the meeting by the session engine would otherwise take it away.
    if (save.succeeded() && self && self->m_savedSummaryListener)
        self->m_savedSummaryListener(detail.id, summary);
    if (save.succeeded() && self) {
        co_await self->refreshListAfterSummarySave();
        if (self && self->isSelected(detail.id)) {
            TaskOutcome<MeetingSessionHistoryDetail> fresh = co_await outcomeOf(client->fetchSessionDetail(detail.id));
            failure = fresh.error;
            if (fresh.succeeded() && self && self->isSelected(detail.id)) {
                const std::optional<QString> stored = Text::nilIfEmpty(fresh.value->summaryText);
                self->setSelectedSessionDetail(std::move(fresh.value));
                self->setDetailSummaryText(stored.value_or(summary));
            }
        }
    }

    if (failure && self && self->isSelected(detail.id)) {
        const QStringList arguments(self->m_localization.localizedMessage(::errorMessage(failure)));
        self->appendSummaryError(self->m_localization.localizedFormat(
            QStringLiteral("Summary generated, but could not be saved: %@"), arguments));
    }
}

QCoro::Task<void> KavrelHistoryViewModel::refreshListAfterSummarySave()
{
    QPointer<KavrelHistoryViewModel> self(this);
    std::shared_ptr<KavrelHistoryClient> client = m_client;
    const QUuid generation = m_listGeneration.renew();
    const MeetingSessionHistoryListQuery query = firstPageQuery();

    const TaskOutcome<MeetingSessionHistoryListPage> page = co_await outcomeOf(client->fetchSessions(query));
    if (!self || !m_listGeneration.isCurrent(generation))
        co_return;

    if (page.failed()) {
        setErrorMessage(page.errorText());
        co_return;
    }
    applyFirstPage(*page.value, query.searchQuery);
    if (m_selectedSessionSummary) {
        for (const MeetingSessionHistoryListItem &row : std::as_const(m_sessions)) {
            if (row.id == m_selectedSessionSummary->id) {
                setSelectedSessionSummary(row);
                break;
            }
        }
    }
}

void KavrelHistoryViewModel::appendSummaryError(const QString &message)
{
    if (m_summaryErrorMessage && !m_summaryErrorMessage->isEmpty())
        setSummaryErrorMessage(*m_summaryErrorMessage + QLatin1Char('\n') + message);
    else
        setSummaryErrorMessage(message);
}

// ---- Setters ----

#define KAVREL_HISTORY_SETTER(name, member, type, signal) \
    void KavrelHistoryViewModel::name(type value)           \
    {                                                       \
        if (member == value)                                \
            return;                                         \
        member = std::move(value);                          \
        Q_EMIT signal();                                    \
        Q_EMIT stateChanged();                              \
    }

KAVREL_HISTORY_SETTER(setSessions, m_sessions, QList<MeetingSessionHistoryListItem>, sessionsChanged)
KAVREL_HISTORY_SETTER(setNextCursor, m_nextCursor, std::optional<QString>, nextCursorChanged)
KAVREL_HISTORY_SETTER(setIsLoading, m_isLoading, bool, isLoadingChanged)
KAVREL_HISTORY_SETTER(setIsLoadingMore, m_isLoadingMore, bool, isLoadingMoreChanged)
KAVREL_HISTORY_SETTER(setErrorMessage, m_errorMessage, std::optional<QString>, errorMessageChanged)
KAVREL_HISTORY_SETTER(setDeletingSessionID, m_deletingSessionID, std::optional<QString>, deletingSessionIDChanged)
KAVREL_HISTORY_SETTER(setSelectedSessionSummary, m_selectedSessionSummary, std::optional<MeetingSessionHistoryListItem>,
                      selectedSessionSummaryChanged)
KAVREL_HISTORY_SETTER(setSelectedSessionDetail, m_selectedSessionDetail, std::optional<MeetingSessionHistoryDetail>,
                      selectedSessionDetailChanged)
KAVREL_HISTORY_SETTER(setIsLoadingDetail, m_isLoadingDetail, bool, isLoadingDetailChanged)
KAVREL_HISTORY_SETTER(setDetailErrorMessage, m_detailErrorMessage, std::optional<QString>, detailErrorMessageChanged)
KAVREL_HISTORY_SETTER(setIsSummaryLoading, m_isSummaryLoading, bool, isSummaryLoadingChanged)
KAVREL_HISTORY_SETTER(setDetailSummaryText, m_detailSummaryText, std::optional<QString>, detailSummaryTextChanged)
KAVREL_HISTORY_SETTER(setSummaryErrorMessage, m_summaryErrorMessage, std::optional<QString>, summaryErrorMessageChanged)
KAVREL_HISTORY_SETTER(setSelectedDetailTab, m_selectedDetailTab, KavrelHistoryDetailTab, selectedDetailTabChanged)
KAVREL_HISTORY_SETTER(setIsDetailPresented, m_isDetailPresented, bool, isDetailPresentedChanged)

#undef KAVREL_HISTORY_SETTER
