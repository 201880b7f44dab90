#include "history/widgets/KavrelHistoryDetailSheet.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelArrivalFocus.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelPainting.h"
#include "kit/widgets/KavrelPill.h"
#include "kit/widgets/KavrelSlimScrollBars.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "base/Async.h"
#include "base/Text.h"
#include "history/KavrelHistoryLabels.h"
#include "history/KavrelHistoryRecordRules.h"
#include "history/KavrelHistoryViewModel.h"
#include "history/widgets/KavrelHistoryComponents.h"
#include "history/widgets/KavrelHistoryDetailTabBar.h"
#include "history/widgets/KavrelHistoryStyle.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScopeGuard>
#include <QTimer>
#include <QScrollBar>
#include <QVBoxLayout>

#include <utility>

namespace Components = KavrelHistoryComponents;
namespace Labels = KavrelHistoryLabels;
namespace Rules = KavrelHistoryRecordRules;
namespace Style = KavrelHistoryStyle;
namespace Theme = KavrelHistoryTheme;

namespace {

QScrollArea *bareScrollArea(QWidget *content, Qt::Orientation orientation)
{
    auto *area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setFocusPolicy(Qt::NoFocus); // its text and controls take the keyboard, not the frame
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(orientation == Qt::Vertical ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    KavrelSlimScrollBars::apply(area);
    area->setWidget(content);
    // The sheet's gradient shows through; setWidget() turns the content's filling on.
    area->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return area;
}

QLabel *footerLine(const QString &text, KavrelDynamicColor color)
{
    QLabel *label = Style::oneLineLabel(text, Style::font(13, QFont::Medium), color);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

KavrelHistoryDetailSheet::KavrelHistoryDetailSheet(KavrelHistoryViewModel *viewModel, QWidget *parent)
    : QDialog(parent)
    , m_viewModel(viewModel)
{
    setModal(true);
    // The gradient covers every pixel.
    setAttribute(Qt::WA_OpaquePaintEvent);
    KavrelScreenFit::setMinimumSize(this, QSize(minimumWidth, minimumHeight));
    KavrelScreenFit::keepOnScreen(this);
    setWindowTitle(Style::localized(QStringLiteral("History")));

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(28, 28, 28, 0);
    auto *column = new QWidget;
    column->setMaximumWidth(minimumWidth);
    m_column = new QVBoxLayout(column);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(18);
    outer->addWidget(column, 1);

    connect(viewModel, &KavrelHistoryViewModel::stateChanged, this, &KavrelHistoryDetailSheet::scheduleRefresh);
    connect(&KavrelLocalizationStore::shared(), &KavrelLocalizationStore::languageChanged, this,
            &KavrelHistoryDetailSheet::scheduleRefresh);
    connect(this, &QDialog::finished, this, [this] {
        if (m_viewModel && m_viewModel->isDetailPresented())
            m_viewModel->dismissDetail();
    });
    refresh();
}

KavrelHistoryDetailSheet::~KavrelHistoryDetailSheet() = default;

void KavrelHistoryDetailSheet::scheduleRefresh()
{
    m_deferredRefresh.schedule();
}

KavrelHistoryDetailSheet::Shown KavrelHistoryDetailSheet::currentlyDue() const
{
    Shown due;
    due.detail = m_viewModel->selectedSessionDetail();
    if (!due.detail)
        due.row = m_viewModel->selectedSessionSummary();
    due.isLoadingDetail = m_viewModel->isLoadingDetail();
    due.detailError = m_viewModel->detailErrorMessage();
    due.tab = m_viewModel->selectedDetailTab();
    due.canSummarize = due.detail && m_viewModel->canSummarize(*due.detail);
    due.isSummaryLoading = m_viewModel->isSummaryLoading();
    due.summaryText = m_viewModel->detailSummaryText();
    due.summaryError = m_viewModel->summaryErrorMessage();
    due.language = int(KavrelLocalizationStore::shared().language());
    return due;
}

void KavrelHistoryDetailSheet::refresh()
{
    m_deferredRefresh.done();
    if (!m_viewModel)
        return;
    const Shown due = currentlyDue();
    if (m_shown && *m_shown == due)
        return; // the history list or something else the sheet does not show
    const std::optional<Shown> was = std::exchange(m_shown, due);
    // What the keyboard was on may be made anew below (the meeting loaded, a language came):
    // it goes to the first control of what is shown then, once the new controls are shown
    // (Qt shows a child added to a shown window on the next turn of the event loop).
    const auto keyboardStays = qScopeGuard([this] {
        QTimer::singleShot(0, this, [this] { KavrelArrivalFocus::giveFirst(this); });
    });

    // Keep where the reader was in each tab of the meeting.
    if (m_tabContent) {
        m_scrollPositions.insert(int(m_shownTab), m_restoringPosition >= 0 ? m_restoringPosition
                                                                          : m_scrollArea->verticalScrollBar()->value());
    }
    const QString meetingID = due.detail ? due.detail->id : QString();
    if (meetingID != m_scrollMeetingID) {
        m_scrollPositions.clear();
        m_scrollMeetingID = meetingID;
    }

    const bool sameLanguage = was && was->language == due.language;
    if (!sameLanguage || was->detail != due.detail || was->row != due.row) {
        const int at = m_header ? m_column->indexOf(m_header) : 0;
        delete m_header;
        m_header = buildHeader();
        m_column->insertWidget(at, m_header);
    }

    // The tabs stay (with their bar) while the same meeting is shown; only what is under the bar
    // follows the selected tab and the summary.
    const bool showedTabs = was && was->detail && m_body;
    const bool keepsTabs = showedTabs && due.detail && sameLanguage && was->detail->id == due.detail->id;
    if (keepsTabs) {
        m_tabBar->setSelection(due.tab);
        // A tab already built stays while nothing it shows has changed.
        Shown wasOtherwise = *was;
        wasOtherwise.tab = due.tab;
        showTabContent(!(wasOtherwise == due));
        return;
    }
    if (!was || !sameLanguage || bool(was->detail) != bool(due.detail) || was->isLoadingDetail != due.isLoadingDetail
        || was->detailError != due.detailError || due.detail) {
        // The tab bar is made anew below; the keyboard stays on it.
        const bool tabBarHadFocus = m_tabBar && m_tabBar->hasFocus();
        delete m_body;
        m_body = nullptr;
        m_scrollArea = nullptr;
        m_tabBar = nullptr;
        m_tabColumn = nullptr;
        m_tabContent = nullptr;
        m_builtTabs.clear();
        while (QLayoutItem *item = m_column->takeAt(1))
            delete item;
        m_body = buildBody();
        // The tabs take the height that is left; a card sits under the header.
        const bool showsTabs = m_scrollArea != nullptr;
        if (m_body)
            m_column->addWidget(m_body, showsTabs ? 1 : 0);
        if (!showsTabs)
            m_column->addStretch(1);
        if (showsTabs)
            showTabContent(true);
        if (tabBarHadFocus && m_tabBar)
            m_tabBar->setFocus(Qt::TabFocusReason);
    }
}

void KavrelHistoryDetailSheet::showTabContent(bool rebuild)
{
    const KavrelHistoryDetailTab tab = m_viewModel->selectedDetailTab();
    // A tab made anew (a summary that starts or arrives) keeps the keyboard on the button of the
    // same name, which may be waiting now, rather than wherever Qt sends it from the deleted one.
    QString keyboardOn;
    if (const QWidget *focused = window()->focusWidget(); rebuild && m_tabContent && m_tabContent->isAncestorOf(focused))
        keyboardOn = focused->objectName();
    if (rebuild) {
        for (QWidget *built : std::as_const(m_builtTabs))
            delete built;
        m_builtTabs.clear();
        m_tabContent = nullptr;
    }
    if (m_tabContent)
        m_tabContent->hide();
    m_shownTab = tab;
    m_tabContent = m_builtTabs.value(int(tab));
    if (m_tabContent) {
        m_tabContent->show();
    } else {
        m_tabContent = buildTabContent(tab);
        // At the width it will have, so that a long tab is not laid out for a passing one first.
        if (const QWidget *column = m_tabColumn->parentWidget(); column->width() > 0)
            m_tabContent->resize(column->width(), m_tabContent->height());
        m_builtTabs.insert(int(tab), m_tabContent);
        m_tabColumn->insertWidget(0, m_tabContent);
    }
    if (!keyboardOn.isEmpty()) {
        m_tabContent->show();
        if (auto *again = m_tabContent->findChild<QWidget *>(keyboardOn))
            KavrelFocusHold::takeKeyboard(again);
    }
    restoreScrollPosition(m_scrollPositions.value(int(tab), 0));
}

void KavrelHistoryDetailSheet::restoreScrollPosition(int position)
{
    stopRestoringScrollPosition();
    QScrollBar *bar = m_scrollArea->verticalScrollBar();
    bar->setValue(position);
    if (bar->value() == position)
        return;
    // The tab is laid out over the next turns of the event loop (a long one in steps): follow its
    // range until the place is there again, unless the reader moves first.
    m_restoringPosition = position;
    m_restoreFollowsRange = connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        bar->setValue(m_restoringPosition);
        if (maximum >= m_restoringPosition)
            stopRestoringScrollPosition();
    });
    m_restoreStopsOnAction = connect(bar, &QAbstractSlider::actionTriggered, this,
                                     [this] { stopRestoringScrollPosition(); });
}

void KavrelHistoryDetailSheet::stopRestoringScrollPosition()
{
    disconnect(m_restoreFollowsRange);
    disconnect(m_restoreStopsOnAction);
    m_restoringPosition = -1;
}

QWidget *KavrelHistoryDetailSheet::buildHeader()
{
    auto *header = new QWidget;
    auto *column = new QVBoxLayout(header);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    const auto &store = KavrelLocalizationStore::shared();
    const std::optional<MeetingSessionHistoryDetail> detail = m_viewModel->selectedSessionDetail();
    const std::optional<MeetingSessionHistoryListItem> row = m_viewModel->selectedSessionSummary();
    QString title = QStringLiteral("History");
    if (detail)
        title = Labels::displayTitle(detail->title, detail->previewText, store);
    else if (row)
        title = Labels::displayTitle(row->title, row->previewText, store);
    column->addWidget(Style::oneLineLabel(title, Style::font(34, QFont::Bold), Theme::primaryText));

    if (detail) {
        auto *pills = new QWidget;
        auto *row = new QHBoxLayout(pills);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(8);
        row->addWidget(Components::metaPill(Labels::formattedForHistory(detail->startedAt, store.language()),
                                            QStringLiteral("calendar")));
        row->addWidget(Components::metaPill(Labels::durationLabel(detail->durationSeconds), QStringLiteral("clock")));
        if (detail->wordCount) {
            row->addWidget(Components::metaPill(Style::localizedFormat(QStringLiteral("%@ words"),
                                                                       QString::number(*detail->wordCount)),
                                                QStringLiteral("text.word.spacing")));
        }
        if (detail->lineCount) {
            row->addWidget(Components::metaPill(Style::localizedFormat(QStringLiteral("%@ lines"),
                                                                       QString::number(*detail->lineCount)),
                                                QStringLiteral("text.alignleft")));
        }
        row->addWidget(Components::metaPill(Style::localizedFormat(QStringLiteral("revision %@"),
                                                                   QString::number(detail->revision)),
                                            QStringLiteral("number")));
        row->addStretch();
        QScrollArea *area = bareScrollArea(pills, Qt::Horizontal);
        area->setFixedHeight(32);
        // A row of facts, nothing to press: Tab passes it by.
        area->setFocusPolicy(Qt::NoFocus);
        column->addWidget(area);
    }
    return header;
}

QWidget *KavrelHistoryDetailSheet::buildBody()
{
    const std::optional<MeetingSessionHistoryDetail> detail = m_viewModel->selectedSessionDetail();
    if (m_viewModel->isLoadingDetail() && !detail)
        return Components::loadingCard(QStringLiteral("Loading full session…"));
    if (m_viewModel->detailErrorMessage() && !detail) {
        QPointer<KavrelHistoryViewModel> viewModel = m_viewModel;
        return Components::errorCard(*m_viewModel->detailErrorMessage(), QStringLiteral("Retry"), [viewModel] {
            if (viewModel) {
                spawnTask([viewModel](CancellationToken) -> QCoro::Task<void> {
                    return viewModel->retrySelectedSession();
                });
            }
        });
    }
    if (!detail)
        return nullptr;

    auto *body = new QWidget;
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);
    m_tabBar = new KavrelHistoryDetailTabBar;
    m_tabBar->setSelection(m_viewModel->selectedDetailTab());
    QPointer<KavrelHistoryViewModel> viewModel = m_viewModel;
    connect(m_tabBar, &KavrelHistoryDetailTabBar::tabPressed, this, [viewModel](KavrelHistoryDetailTab tab) {
        if (viewModel)
            viewModel->setSelectedDetailTab(tab);
    });
    column->addWidget(m_tabBar);

    auto *content = new QWidget;
    m_tabColumn = new QVBoxLayout(content);
    m_tabColumn->setContentsMargins(0, 0, 0, 28);
    m_tabColumn->setSpacing(18);
    m_tabColumn->addStretch();
    m_scrollArea = bareScrollArea(content, Qt::Vertical);
    column->addWidget(m_scrollArea, 1);
    return body;
}

QWidget *KavrelHistoryDetailSheet::buildTabContent(KavrelHistoryDetailTab tab)
{
    const MeetingSessionHistoryDetail detail = *m_viewModel->selectedSessionDetail();
    const bool canSummarize = m_viewModel->canSummarize(detail);
    const bool isSummaryLoading = m_viewModel->isSummaryLoading();
    QPointer<KavrelHistoryViewModel> viewModel = m_viewModel;
    auto summarizeButton = [&] {
        KavrelCapsuleButton *button = Components::panelActionButton(QStringLiteral("Summarize"), QStringLiteral("sparkles"),
                                                                     canSummarize, isSummaryLoading);
        connect(button, &QAbstractButton::clicked, this, [viewModel] {
            if (viewModel)
                viewModel->summarizeSelectedTranscript();
        });
        return button;
    };

    auto *column = new QWidget;
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(18);

    switch (tab) {
    case KavrelHistoryDetailTab::transcribe: {
        auto *accessory = new QWidget;
        auto *buttons = new QHBoxLayout(accessory);
        buttons->setContentsMargins(0, 0, 0, 0);
        buttons->setSpacing(8);
        buttons->addWidget(summarizeButton());
        KavrelCapsuleButton *copy = Components::panelActionButton(
            QStringLiteral("Copy transcript"), QStringLiteral("doc.on.doc"),
            Rules::hasCopyableTranscript(detail), false);
        connect(copy, &QAbstractButton::clicked, this, &KavrelHistoryDetailSheet::copyTranscript);
        buttons->addWidget(copy);
        QWidget *content = nullptr;
        if (detail.transcriptJson && !detail.transcriptJson->isEmpty())
            content = Components::transcriptBlockList(*detail.transcriptJson);
        else
            content = Components::textContent(Text::nilIfEmpty(detail.transcriptText)
                                                  .value_or(Style::localized(QStringLiteral("Transcript is not available."))),
                                              QStringLiteral("Transcript"));
        layout->addWidget(Components::detailPanel(QStringLiteral("Transcript"), accessory, content));
        layout->addWidget(buildFooter());
        break;
    }
    case KavrelHistoryDetailTab::translate: {
        QWidget *content = nullptr;
        if (detail.translationJson && !detail.translationJson->isEmpty())
            content = Components::translationBlockList(*detail.translationJson, KavrelLocalizationStore::shared());
        else
            content = Components::textContent(Text::nilIfEmpty(detail.translationText)
                                                  .value_or(Style::localized(QStringLiteral("Translation is not available."))),
                                              QStringLiteral("Translation"));
        layout->addWidget(Components::detailPanel(QStringLiteral("Translation"), nullptr, content));
        layout->addWidget(buildFooter());
        break;
    }
    case KavrelHistoryDetailTab::summary: {
        std::optional<QString> text = Text::nilIfEmpty(m_viewModel->detailSummaryText());
        if (!text)
            text = Text::nilIfEmpty(detail.summaryText);
        layout->addWidget(Components::detailPanel(
            QStringLiteral("Summary"), summarizeButton(),
            Components::summaryContent(text, m_viewModel->summaryErrorMessage(), isSummaryLoading)));
        if (auto protocol = Text::nilIfEmpty(detail.protocolText))
            layout->addWidget(Components::detailPanel(QStringLiteral("Protocol"), nullptr,
                                                      Components::textContent(*protocol, QStringLiteral("Protocol"))));
        if (auto reply = Text::nilIfEmpty(detail.suggestedAnswerText))
            layout->addWidget(Components::detailPanel(QStringLiteral("Suggested reply"), nullptr,
                                                      Components::textContent(*reply, QStringLiteral("Suggested reply"))));
        break;
    }
    }
    return column;
}

QWidget *KavrelHistoryDetailSheet::buildFooter()
{
    const Labels::FooterLines lines =
        Labels::footerLines(*m_viewModel->selectedSessionDetail(), KavrelLocalizationStore::shared());
    auto *footer = new QWidget;
    auto *column = new QVBoxLayout(footer);
    column->setContentsMargins(4, 0, 4, 0);
    column->setSpacing(4);
    if (!lines.first.isEmpty())
        column->addWidget(footerLine(lines.first, Theme::secondaryText));
    if (!lines.second.isEmpty())
        column->addWidget(footerLine(lines.second, Theme::tertiaryText));
    return footer;
}

void KavrelHistoryDetailSheet::copyTranscript()
{
    if (!m_viewModel || !m_viewModel->selectedSessionDetail())
        return;
    const std::optional<QString> text = Rules::copyableTranscriptText(*m_viewModel->selectedSessionDetail());
    if (!text)
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(*text);
}

void KavrelHistoryDetailSheet::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QPainterPath area;
    area.addRect(QRectF(rect()));
    KavrelPainting::fillGradient(painter, area, Theme::backgroundTop.resolve(palette()),
                                 Theme::backgroundBottom.resolve(palette()));
}

void KavrelHistoryDetailSheet::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QDialog::changeEvent(event);
}
