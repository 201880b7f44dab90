#pragma once

#include "kit/widgets/KavrelDeferredRefresh.h"
#include "history/KavrelHistoryDetailTab.h"
#include "services/MeetingSessionHistoryTypes.h"

#include <QDialog>
#include <QHash>
#include <QPointer>

#include <optional>

class KavrelHistoryDetailTabBar;
class KavrelHistoryViewModel;
class QScrollArea;
class QVBoxLayout;

// One saved meeting in full, as a modal sheet over the history list: a header with the
// title and metadata pills, then a loading card, an error card with retry, or the tabs
// (transcript, translation, summary). Everything shown comes from the view model; closing
// the sheet in any way dismisses the detail there. A change of the view model rebuilds only the
// part of the sheet it touches: a change of the history list, nothing at all; another tab, the
// tab's content under the same header and tab bar.
class KavrelHistoryDetailSheet final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int minimumWidth = 1120;
    static constexpr int minimumHeight = 760;

    // The view model must outlive the sheet.
    explicit KavrelHistoryDetailSheet(KavrelHistoryViewModel *viewModel, QWidget *parent = nullptr);
    ~KavrelHistoryDetailSheet() override;

    // Brings the sheet in line with the view model now (changes are otherwise gathered and
    // applied on the next event-loop turn).
    void refresh();

    QWidget *header() const { return m_header; }
    QWidget *body() const { return m_body; }
    // The content of the selected tab, while the tabs show.
    QWidget *tabContent() const { return m_tabContent; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // What the sheet shows of the view model.
    struct Shown
    {
        std::optional<MeetingSessionHistoryDetail> detail;
        std::optional<MeetingSessionHistoryListItem> row;
        bool isLoadingDetail = false;
        std::optional<QString> detailError;
        KavrelHistoryDetailTab tab = KavrelHistoryDetailTab::transcribe;
        bool canSummarize = false;
        bool isSummaryLoading = false;
        std::optional<QString> summaryText;
        std::optional<QString> summaryError;
        int language = -1;

        bool operator==(const Shown &) const = default;
    };

    Shown currentlyDue() const;
    void scheduleRefresh();
    // Shows the selected tab's content, built anew when `rebuild` or not built yet.
    void showTabContent(bool rebuild);
    // Puts the reader back at `position` in the tab shown, following the tab's range while it is
    // laid out, until the place is there or the reader moves.
    void restoreScrollPosition(int position);
    void stopRestoringScrollPosition();
    QWidget *buildHeader();
    QWidget *buildBody();
    QWidget *buildTabContent(KavrelHistoryDetailTab tab);
    QWidget *buildFooter();
    void copyTranscript();

    QPointer<KavrelHistoryViewModel> m_viewModel;
    QVBoxLayout *m_column = nullptr;
    QWidget *m_header = nullptr;
    QWidget *m_body = nullptr;
    QScrollArea *m_scrollArea = nullptr;
    KavrelHistoryDetailTabBar *m_tabBar = nullptr;
    QVBoxLayout *m_tabColumn = nullptr;
    QWidget *m_tabContent = nullptr;
    // Each tab's content once built, kept hidden while another tab shows.
    QHash<int, QWidget *> m_builtTabs;
    KavrelHistoryDetailTab m_shownTab = KavrelHistoryDetailTab::transcribe;
    std::optional<Shown> m_shown;
    // Scroll positions per tab, kept across rebuilds of the same meeting.
    QHash<int, int> m_scrollPositions;
    QString m_scrollMeetingID;
    // The position being put back while the tab is laid out (-1: none).
    int m_restoringPosition = -1;
    QMetaObject::Connection m_restoreFollowsRange;
    QMetaObject::Connection m_restoreStopsOnAction;
    KavrelDeferredRefresh m_deferredRefresh{this, [this] { refresh(); }};
};
