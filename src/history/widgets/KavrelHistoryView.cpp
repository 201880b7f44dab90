#include "history/widgets/KavrelHistoryView.h"

#include "kit/widgets/KavrelArrivalFocus.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelPill.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "kit/widgets/KavrelSlimScrollBars.h"
#include "history/KavrelHistoryLabels.h"
#include "history/KavrelHistoryRemoteClient.h"
#include "history/KavrelHistorySessionListModel.h"
#include "history/KavrelHistoryViewModel.h"
#include "history/widgets/KavrelHistoryCardFrame.h"
#include "history/widgets/KavrelHistoryComponents.h"
#include "history/widgets/KavrelHistoryDetailSheet.h"
#include "history/widgets/KavrelHistorySearchField.h"
#include "history/widgets/KavrelHistorySessionCardDelegate.h"
#include "history/widgets/KavrelHistoryStyle.h"

#include <QHBoxLayout>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>

namespace Components = KavrelHistoryComponents;
namespace Style = KavrelHistoryStyle;
namespace Theme = KavrelHistoryTheme;

namespace {

template<typename F>
void startTask(F work)
{
    spawnTask([work](CancellationToken) -> QCoro::Task<void> { return work(); });
}

} // namespace

KavrelHistoryView::KavrelHistoryView(AuthService *authService, QWidget *parent)
    : KavrelHistoryView(std::make_shared<KavrelHistoryRemoteClient>(authService), parent)
{
}

KavrelHistoryView::KavrelHistoryView(std::shared_ptr<KavrelHistoryClient> client, QWidget *parent)
    : QWidget(parent)
    , m_viewModel(std::make_unique<KavrelHistoryViewModel>(std::move(client), KavrelLocalizationStore::shared()))
{
    build();
    connect(m_viewModel.get(), &KavrelHistoryViewModel::stateChanged, this, &KavrelHistoryView::scheduleRefresh);
    connect(m_viewModel.get(), &KavrelHistoryViewModel::isDetailPresentedChanged, this,
            &KavrelHistoryView::followDetailPresentation);
    connect(&KavrelLocalizationStore::shared(), &KavrelLocalizationStore::languageChanged, this,
            &KavrelHistoryView::retranslate);
    refresh();
}

KavrelHistoryView::~KavrelHistoryView()
{
    // The sheet and the confirmation refer to the view model; they go first.
    delete m_sheet;
    delete m_confirmation;
}

void KavrelHistoryView::build()
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(32, 32, 32, 32);
    column->setSpacing(24);

    // Header.
    auto *header = new QHBoxLayout;
    auto *titles = new QVBoxLayout;
    titles->setSpacing(10);
    m_title = Style::plainLabel(QString(), Style::font(42, QFont::Bold), Theme::primaryText);
    m_subtitle = Style::plainLabel(QString(), Style::font(18, QFont::Medium), Theme::secondaryText);
    m_subtitle->setWordWrap(true);
    // The window brought forward from elsewhere holds the keyboard on the heading, not on a
    // card's Open or Delete.
    KavrelArrivalFocus::setLanding(m_title);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    header->addLayout(titles, 1);
    m_headerBadgeSlot = new QVBoxLayout;
    header->addLayout(m_headerBadgeSlot);
    header->setAlignment(m_headerBadgeSlot, Qt::AlignTop);
    column->addLayout(header);

    // Search.
    m_searchField = new KavrelHistorySearchField;
    connect(m_searchField, &KavrelHistorySearchField::textEdited, this,
            [this](const QString &text) { m_viewModel->setSearchText(text); });
    column->addWidget(m_searchField);

    // Content: a state card, or the list with its footer.
    m_content = new QStackedLayout;
    column->addLayout(m_content, 1);

    m_listPage = new QWidget;
    auto *listColumn = new QVBoxLayout(m_listPage);
    listColumn->setContentsMargins(0, 0, 0, 0);
    listColumn->setSpacing(16);
    m_listView = new KavrelHistorySessionList;
    m_model = new KavrelHistorySessionListModel(m_viewModel.get(), this);
    m_delegate = new KavrelHistorySessionCardDelegate(m_viewModel.get(), this);
    m_listView->setModel(m_model);
    m_listView->setItemDelegate(m_delegate);
    m_delegate->setListView(m_listView);
    m_listView->setFrameShape(QFrame::NoFrame);
    m_listView->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_listView->verticalScrollBar()->setSingleStep(24);
    m_listView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    KavrelSlimScrollBars::apply(m_listView);
    m_listView->setSelectionMode(QAbstractItemView::NoSelection);
    // From the keyboard: Tab reaches the list, the arrows move between cards, Return opens
    // the card, Delete asks to remove it; Tab goes on to the card's Open and Delete before it
    // leaves the list, and Return or Space presses the one it is on.
    m_listView->setFocusPolicy(Qt::StrongFocus);
    m_listView->installEventFilter(this);
    m_listView->setMouseTracking(true);
    m_listView->setResizeMode(QListView::Adjust);
    // The cards lie directly on the section's background.
    m_listView->viewport()->setAutoFillBackground(false);
    listColumn->addWidget(m_listView, 1);
    m_footerSlot = new QVBoxLayout;
    m_footerSlot->setSpacing(16);
    listColumn->addLayout(m_footerSlot);
    m_content->addWidget(m_listPage);

    connect(m_listView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { setKeyboardPart(KavrelHistorySessionCardDelegate::Part::none); });
    // A deleted card hands the keyboard to the one that took its place.
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &KavrelHistoryView::followDeletion);
    connect(m_model, &QAbstractItemModel::modelReset, this, &KavrelHistoryView::followDeletion);
    connect(m_delegate, &KavrelHistorySessionCardDelegate::openRequested, this, &KavrelHistoryView::open);
    connect(m_delegate, &KavrelHistorySessionCardDelegate::deleteRequested, this, &KavrelHistoryView::confirmDelete);

    // Busy cards spin while a detail opens or a deletion runs.
    m_spinner.setStartValue(0.0);
    m_spinner.setEndValue(1.0);
    m_spinner.setDuration(900);
    m_spinner.setLoopCount(-1);
    connect(&m_spinner, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_delegate->setSpinnerPhase(value.toDouble());
        m_listView->viewport()->update();
    });
}

bool KavrelHistoryView::eventFilter(QObject *watched, QEvent *event)
{
    using Part = KavrelHistorySessionCardDelegate::Part;
    if (watched == m_listView && event->type() == QEvent::FocusIn) {
        // Coming back with Shift+Tab lands on the last stop of the card, Delete. The window's
        // keyboard coming back (a question answered, the window active again) finds its place.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            const bool backwards = reason == Qt::BacktabFocusReason;
            setKeyboardPart(backwards && m_listView->currentIndex().isValid() ? Part::remove : Part::none);
        }
    }
    if (watched == m_listView && event->type() == QEvent::KeyPress) {
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        const int key = keyEvent->key();
        const QModelIndex current = m_listView->currentIndex();
        const bool onCard = current.isValid() && current.row() < m_model->rowCount();
        const Part part = m_delegate->keyboardPart();
        if (onCard && (key == Qt::Key_Tab || key == Qt::Key_Backtab) && !(keyEvent->modifiers() & ~Qt::ShiftModifier)) {
            const bool forwards = key == Qt::Key_Tab;
            const Part next = forwards ? (part == Part::none ? Part::open : part == Part::open ? Part::remove : Part::title)
                                       : (part == Part::remove ? Part::open : part == Part::open ? Part::none : Part::title);
            if (next == Part::title)
                return false; // on out of the list
            setKeyboardPart(next);
            return true;
        }
        const bool presses = key == Qt::Key_Return || key == Qt::Key_Enter || (key == Qt::Key_Space && part != Part::none);
        if ((presses || key == Qt::Key_Delete) && onCard) {
            const MeetingSessionHistoryListItem item = m_model->item(current.row());
            // A held key presses once: its repeats would ask again, or reach the question.
            if (!keyEvent->isAutoRepeat() && m_delegate->acceptsActions(item)) {
                if (key == Qt::Key_Delete || part == Part::remove)
                    confirmDelete(item);
                else
                    open(item);
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void KavrelHistoryView::setKeyboardPart(KavrelHistorySessionCardDelegate::Part part)
{
    if (m_delegate->keyboardPart() == part)
        return;
    m_delegate->setKeyboardPart(part);
    m_listView->viewport()->update();
    // The ring shows where the keyboard went; a screen reader is told.
    m_listView->announceKeyboard();
}

void KavrelHistoryView::followDeletion()
{
    if (m_deletedID.isEmpty())
        return;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (m_model->item(row).id == m_deletedID)
            return; // not gone (yet)
    }
    const int row = std::min(m_deletedRow, m_model->rowCount() - 1);
    m_deletedID.clear();
    m_deletedRow = -1;
    QWidget *window = this->window();
    const QWidget *focused = window->focusWidget();
    const bool keyboardHere = !focused || focused == m_listView || !focused->isVisibleTo(window);
    if (row < 0) {
        // No card is left: the search field is what the keyboard can use next.
        if (keyboardHere)
            m_searchField->lineEdit()->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_listView->setCurrentIndex(m_model->index(row));
    if (keyboardHere)
        m_listView->setFocus(Qt::OtherFocusReason);
}

void KavrelHistoryView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    KavrelHistoryViewModel *viewModel = m_viewModel.get();
    if (!viewModel->hasLoadedInitialPage())
        startTask([viewModel] { return viewModel->loadInitialPage(); });
}

void KavrelHistoryView::scheduleRefresh()
{
    m_deferredRefresh.schedule();
}

void KavrelHistoryView::refresh()
{
    m_deferredRefresh.done();
    retranslate();
}

void KavrelHistoryView::retranslate()
{
    m_title->setText(Style::localized(QStringLiteral("History")));
    m_listView->setAccessibleName(m_title->text());
    m_subtitle->setText(Style::localized(
        QStringLiteral("Review your saved meetings, transcripts, translations, summaries, and follow-up notes.")));
    m_searchField->retranslate();
    m_searchField->setText(m_viewModel->searchText());

    delete m_countBadge;
    m_countBadge = Components::countBadge(int(m_viewModel->sessions().size()));
    m_headerBadgeSlot->addWidget(m_countBadge);

    refreshContent();
    refreshFooter();
    m_listView->viewport()->update();

    const bool busy = m_viewModel->isLoadingDetail() || m_viewModel->deletingSessionID();
    if (busy && m_spinner.state() != QAbstractAnimation::Running)
        m_spinner.start();
    else if (!busy)
        m_spinner.stop();
}

void KavrelHistoryView::refreshContent()
{
    QPointer<KavrelHistoryView> self(this);
    QWidget *card = nullptr;
    const bool noRows = m_viewModel->sessions().isEmpty();
    if (m_viewModel->isLoading() && noRows) {
        card = Components::loadingCard(QStringLiteral("Loading session history…"));
    } else if (m_viewModel->errorMessage() && noRows) {
        card = Components::errorCard(*m_viewModel->errorMessage(), QStringLiteral("Retry"), [self] {
            if (self)
                self->reloadFirstPage();
        });
    } else if (noRows) {
        card = Components::emptyCard(QStringLiteral("No history yet"),
                                     QStringLiteral("Your saved meetings will appear here after you finish a session."));
    }

    delete m_stateCard;
    m_stateCard = nullptr;
    if (!card) {
        m_content->setCurrentWidget(m_listPage);
        return;
    }
    // The card sits at the top of the content area.
    m_stateCard = new QWidget;
    auto *column = new QVBoxLayout(m_stateCard);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(card);
    column->addStretch();
    m_content->addWidget(m_stateCard);
    m_content->setCurrentWidget(m_stateCard);
}

void KavrelHistoryView::refreshFooter()
{
    // The footer is made anew for each state; a press on its button from the keyboard leaves the
    // keyboard with the button that takes its place (waiting while the page loads), or with
    // the list, instead of wherever Qt would send it from the deleted one.
    const QWidget *focused = window()->focusWidget();
    const bool keyboardInFooter = m_footer && focused && m_footer->isAncestorOf(focused);
    delete m_footer;
    m_footer = nullptr;
    const bool hasError = m_viewModel->errorMessage().has_value();
    const bool hasMore = m_viewModel->nextCursor().has_value();
    if (!hasError && !hasMore) {
        if (keyboardInFooter)
            m_listView->setFocus(Qt::OtherFocusReason);
        return;
    }

    m_footer = new QWidget;
    auto *column = new QVBoxLayout(m_footer);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    QPointer<KavrelHistoryView> self(this);
    QWidget *loadMore = nullptr;
    if (hasError) {
        column->addWidget(Components::errorCard(*m_viewModel->errorMessage(), QStringLiteral("Refresh list"), [self] {
            if (self)
                self->reloadFirstPage();
        }));
    }
    if (hasMore) {
        KavrelCapsuleButton *button = Components::loadMoreButton(m_viewModel->isLoadingMore());
        KavrelHistoryViewModel *viewModel = m_viewModel.get();
        connect(button, &QAbstractButton::clicked, this, [viewModel] {
            startTask([viewModel] { return viewModel->loadMore(); });
        });
        column->addWidget(button, 0, Qt::AlignHCenter);
        loadMore = button;
    }
    m_footerSlot->addWidget(m_footer);
    if (keyboardInFooter) {
        // Shown now rather than when the layout gets to it, so that it can take the keyboard.
        m_footer->show();
    }
    if (keyboardInFooter && !(loadMore && KavrelFocusHold::takeKeyboard(loadMore)))
        m_listView->setFocus(Qt::OtherFocusReason);
}

void KavrelHistoryView::reloadFirstPage()
{
    KavrelHistoryViewModel *viewModel = m_viewModel.get();
    startTask([viewModel] { return viewModel->reload(true); });
}

void KavrelHistoryView::open(const MeetingSessionHistoryListItem &item)
{
    KavrelHistoryViewModel *viewModel = m_viewModel.get();
    startTask([viewModel, item] { return viewModel->openSession(item); });
}

void KavrelHistoryView::followDetailPresentation()
{
    if (m_viewModel->isDetailPresented()) {
        if (!m_sheet) {
            m_sheet = new KavrelHistoryDetailSheet(m_viewModel.get(), this);
            m_sheet->setAttribute(Qt::WA_DeleteOnClose);
        }
        m_sheet->open();
    } else if (m_sheet) {
        m_sheet->close();
    }
}

void KavrelHistoryView::confirmDelete(const MeetingSessionHistoryListItem &item)
{
    delete m_confirmation;
    const std::optional<QString> refusal = m_viewModel->deletionRefusal(item);
    const QString title = Style::localized(refusal ? QStringLiteral("The session cannot be deleted")
                                                   : QStringLiteral("Delete session?"));
    m_confirmation = new QMessageBox(this);
    m_confirmation->setAttribute(Qt::WA_DeleteOnClose);
    m_confirmation->setTextFormat(Qt::PlainText);
    m_confirmation->setWindowTitle(title);
    m_confirmation->setText(title);
    // A meeting the session engine still writes is not offered for deletion: the user is told why.
    if (refusal) {
        m_pendingDeleteSession.reset();
        m_confirmation->setIcon(QMessageBox::Information);
        m_confirmation->setInformativeText(*refusal);
        m_confirmation->setStandardButtons(QMessageBox::Ok);
        KavrelScreenFit::keepTitleWhole(m_confirmation);
        m_confirmation->open();
        return;
    }
    m_pendingDeleteSession = item;
    m_deletedID.clear();
    const QString name = KavrelHistoryLabels::displayTitle(item.title, item.previewText, KavrelLocalizationStore::shared());
    m_confirmation->setIcon(QMessageBox::Warning);
    m_confirmation->setInformativeText(
        Style::localizedFormat(QStringLiteral("This will remove “%@” from your history."), name));
    QPushButton *remove = m_confirmation->addButton(Style::localized(QStringLiteral("Delete")), QMessageBox::DestructiveRole);
    QPushButton *cancel =
        m_confirmation->addButton(Style::localized(QStringLiteral("Cancel")), QMessageBox::RejectRole);
    // The key that asked, pressed again, answers: it keeps the meeting. Deleting takes a move to
    // "Delete" of its own; Escape keeps it too.
    m_confirmation->setDefaultButton(cancel);
    m_confirmation->setEscapeButton(cancel);
    KavrelScreenFit::keepTitleWhole(m_confirmation);
    KavrelHistoryViewModel *viewModel = m_viewModel.get();
    connect(m_confirmation, &QMessageBox::finished, this, [this, remove, viewModel] {
        const std::optional<MeetingSessionHistoryListItem> pending = std::exchange(m_pendingDeleteSession, std::nullopt);
        if (m_confirmation && m_confirmation->clickedButton() == remove && pending) {
            const MeetingSessionHistoryListItem target = *pending;
            m_deletedID = target.id;
            m_deletedRow = -1;
            for (int row = 0; row < m_model->rowCount() && m_deletedRow < 0; ++row) {
                if (m_model->item(row).id == target.id)
                    m_deletedRow = row;
            }
            startTask([viewModel, target] { return viewModel->deleteSession(target); });
        }
    });
    m_confirmation->open();
}
