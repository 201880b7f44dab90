#pragma once

#include "kit/widgets/KavrelDeferredRefresh.h"
#include "history/KavrelHistoryDetailTab.h"

#include <QDialog>
#include <QHash>
#include <QPointer>

class KavrelHistoryDetailTabBar;
class KavrelHistoryViewModel;
class QScrollArea;
class QVBoxLayout;

// One saved meeting in full, as a modal sheet over the history list: a header with the
// title and metadata pills, then a loading card, an error card with retry, or the tabs
// (transcript, translation, summary). Everything shown comes from the view model; closing
// the sheet in any way dismisses the detail there.
class KavrelHistoryDetailSheet final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int minimumWidth = 1120;
    static constexpr int minimumHeight = 760;

    // The view model must outlive the sheet.
    explicit KavrelHistoryDetailSheet(KavrelHistoryViewModel *viewModel, QWidget *parent = nullptr);
    ~KavrelHistoryDetailSheet() override;

    // Builds the shown state again from the view model now (changes are otherwise gathered
    // and applied on the next event-loop turn).
    void refresh();

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void scheduleRefresh();
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
    // Scroll positions per tab, kept across rebuilds of the same meeting.
    QHash<int, int> m_scrollPositions;
    QString m_scrollMeetingID;
    KavrelDeferredRefresh m_deferredRefresh{this, [this] { refresh(); }};
};
