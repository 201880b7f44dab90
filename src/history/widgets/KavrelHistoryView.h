#pragma once

#include "kit/widgets/KavrelDeferredRefresh.h"
#include "history/widgets/KavrelHistoryDetailSheet.h"
#include "history/widgets/KavrelHistorySessionCardDelegate.h"
#include "history/widgets/KavrelHistorySessionList.h"
#include "services/MeetingSessionHistoryTypes.h"

#include <QMessageBox>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

#include <memory>
#include <optional>

class AuthService;
class KavrelHistoryClient;
class KavrelHistorySearchField;

class KavrelHistorySessionListModel;
class KavrelHistoryViewModel;
class KavrelPill;
class QLabel;
class QStackedLayout;
class QVBoxLayout;

// The history section of the workspace: a header with the number of loaded meetings, the
// search field, and the saved meetings as cards with paging. It asks before deleting a
// meeting and shows the opened one in the detail sheet. It owns the one history view model;
// the first showing loads the first page.
class KavrelHistoryView final : public QWidget
{
    Q_OBJECT

public:
    // Over the backend, signed in through the auth service (which must outlive the view).
    explicit KavrelHistoryView(AuthService *authService, QWidget *parent = nullptr);
    explicit KavrelHistoryView(std::shared_ptr<KavrelHistoryClient> client, QWidget *parent = nullptr);
    ~KavrelHistoryView() override;

    KavrelHistoryViewModel *viewModel() const { return m_viewModel.get(); }
    QListView *listView() const { return m_listView; }
    KavrelHistorySearchField *searchField() const { return m_searchField; }
    KavrelHistoryDetailSheet *detailSheet() const { return m_sheet; }
    QMessageBox *deleteConfirmation() const { return m_confirmation; }
    std::optional<MeetingSessionHistoryListItem> pendingDeleteSession() const { return m_pendingDeleteSession; }

    // Asks to delete the meeting (the confirmation opens); for a meeting the session engine still
    // writes, a box that says why it cannot be deleted opens instead.
    void confirmDelete(const MeetingSessionHistoryListItem &item);
    // Applies the view model's state now rather than on the next event-loop turn.
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void build();
    void scheduleRefresh();
    void refreshContent();
    void refreshFooter();
    void followDetailPresentation();
    void retranslate();
    void open(const MeetingSessionHistoryListItem &item);
    void setKeyboardPart(KavrelHistorySessionCardDelegate::Part part);
    void followDeletion();
    void reloadFirstPage();

    std::unique_ptr<KavrelHistoryViewModel> m_viewModel;
    KavrelHistorySessionListModel *m_model = nullptr;
    KavrelHistorySessionCardDelegate *m_delegate = nullptr;

    QLabel *m_title = nullptr;
    QLabel *m_subtitle = nullptr;
    QVBoxLayout *m_headerBadgeSlot = nullptr;
    KavrelPill *m_countBadge = nullptr;
    KavrelHistorySearchField *m_searchField = nullptr;
    QStackedLayout *m_content = nullptr;
    QWidget *m_stateCard = nullptr;   // the loading, error or empty card
    QWidget *m_listPage = nullptr;
    KavrelHistorySessionList *m_listView = nullptr;
    QVBoxLayout *m_footerSlot = nullptr;
    QWidget *m_footer = nullptr;
    QVariantAnimation m_spinner;

    QPointer<KavrelHistoryDetailSheet> m_sheet;
    QPointer<QMessageBox> m_confirmation;
    std::optional<MeetingSessionHistoryListItem> m_pendingDeleteSession;
    // The card being deleted and its place, so the keyboard goes to the card that takes it.
    QString m_deletedID;
    int m_deletedRow = -1;
    KavrelDeferredRefresh m_deferredRefresh{this, [this] { refresh(); }};
};
