#include "workspace/widgets/ContentView.h"

#include "accounts/AuthSessionStore.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelArrivalFocus.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "kit/widgets/KavrelFocusLanding.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelPill.h"
#include "kit/widgets/KavrelSegmentedPicker.h"
#include "kit/widgets/KavrelSlimScrollBars.h"
#include "kit/widgets/KavrelSplitContainer.h"
#include "kit/widgets/KavrelScreenFit.h"
#include "platform/UserDefaults.h"
#include "session/AIResultPanelSet.h"
#include "session/SessionCompanionSet.h"
#include "session/SubtitleViewModel.h"
#include "workspace/WorkspaceRules.h"
#include "workspace/WorkspaceStartRoad.h"
#include "workspace/widgets/AssistantColumn.h"
#include "workspace/widgets/InlineStatusMessage.h"
#include "workspace/widgets/ListeningSetupSheet.h"
#include "workspace/widgets/MicrophoneOffWarningBanner.h"
#include "workspace/widgets/PrimaryActionButton.h"
#include "workspace/widgets/ResultPanel.h"
#include "workspace/widgets/SurfaceCard.h"
#include "workspace/widgets/WorkspaceButtons.h"
#include "workspace/widgets/WorkspaceMicrophoneControl.h"
#include "workspace/widgets/WorkspaceTextColumn.h"

#include <QHBoxLayout>
#include <QScopedValueRollback>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {
// Dark enough for the start button's white title to read across its whole gradient.
const QColor startTint = QColor::fromRgbF(0.08, 0.46, 0.25);
// The same for the stop button's: its gradient fades towards the surface under it at its end.
const QColor stopTint = QColor::fromRgbF(0.76, 0.14, 0.15);
const QColor systemRed = QColor::fromRgbF(0.90, 0.22, 0.21);
const QColor systemOrange = QColor::fromRgbF(0.90, 0.50, 0.0);

QColor withAlpha(QColor colour, double alpha)
{
    colour.setAlphaF(alpha);
    return colour;
}
} // namespace

ContentView::ContentView(SubtitleViewModel &viewModel, AuthSessionStore &authStore, KavrelSessionSurface &session,
                         KavrelListeningStarter &starter, UserDefaults &defaults, QWidget *parent)
    : QWidget(parent), m_viewModel(viewModel), m_authStore(authStore), m_defaults(defaults),
      m_texts(viewModel.localization()), m_road(new WorkspaceStartRoad(&authStore, &session, &starter, this))
{
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(12, 12, 12, 12);
    root->setSpacing(10);

    m_hero = new SurfaceCard(12, this);
    buildToolbar(m_hero);
    root->addWidget(m_hero);
    m_errorLine = new InlineStatusMessage(systemRed, this);
    m_translationLine = new InlineStatusMessage(systemOrange, this);
    m_warning = new MicrophoneOffWarningBanner(this);
    root->addWidget(m_errorLine);
    root->addWidget(m_translationLine);
    root->addWidget(m_warning);
    buildWorkspace();
    root->addWidget(m_workspaceScroll, 1);
    m_assistant = new AssistantColumn(viewModel, this);
    m_assistant->setFixedHeight(220);
    root->addWidget(m_assistant);
    // A panel or banner closed from the keyboard leaves it on its column's copy button: every
    // other neighbour may start, stop or clear something.
    QWidget *transcriptCopy = m_transcript->copyAllButton();
    const QList<QWidget *> closable{m_warning, m_assistant, m_detachedTranscriptCard};
    for (QWidget *area : closable)
        new KavrelFocusLanding(area, {transcriptCopy});
    new KavrelFocusLanding(m_detachedTranslationCard, {m_translation->copyAllButton(), transcriptCopy});

    connect(m_warning, &MicrophoneOffWarningBanner::dismissed, this, [this] {
        m_isMicrophoneOffWarningDismissed = true;
        refreshStatusLines();
    });
    connect(m_road, &WorkspaceStartRoad::listeningSetupPresentedChanged, this, &ContentView::presentListeningSetup);

    for (auto signal : {&SubtitleViewModel::hasActiveSessionChanged, &SubtitleViewModel::isBusyChanged,
                        &SubtitleViewModel::isMicrophoneBusyChanged, &SubtitleViewModel::isSystemAudioListeningChanged,
                        &SubtitleViewModel::assistantActivityTextChanged})
        connect(&viewModel, signal, this, &ContentView::refreshToolbar);
    for (auto signal : {&AuthSessionStore::sessionChanged, &AuthSessionStore::isRestoringSessionChanged})
        connect(&authStore, signal, this, &ContentView::refreshToolbar);
    // Either change lets the hidden warning come back for the next reason to show it.
    for (auto signal : {&SubtitleViewModel::isMicrophoneListeningChanged, &SubtitleViewModel::hasActiveSessionChanged})
        connect(&viewModel, signal, this, [this] {
            m_isMicrophoneOffWarningDismissed = false;
            refreshStatusLines();
        });
    for (auto signal : {&SubtitleViewModel::errorMessageChanged, &SubtitleViewModel::translationMessageChanged,
                        &SubtitleViewModel::shouldShowMicrophoneOffWarningChanged, &SubtitleViewModel::transcriptAnswerChanged})
        connect(&viewModel, signal, this, &ContentView::refreshStatusLines);
    for (auto signal : {&SubtitleViewModel::transcriptSummaryChanged, &SubtitleViewModel::translationSummaryChanged,
                        &SubtitleViewModel::panelTitlesChanged})
        connect(&viewModel, signal, this, &ContentView::refreshLayout);
    connect(&defaults, &UserDefaults::valueChanged, this, [this](const QString &key) {
        if (key == QLatin1String(WorkspaceLayout::focusModeDefaultsKey)) {
            m_viewModel.companionSet()->history()->setFocusModeEnabled(isFocusModeEnabled());
            refreshToolbar();
        } else if (key == QLatin1String(WorkspaceLayout::layoutDefaultsKey)
                   || key == QLatin1String(WorkspaceLayout::splitDefaultsKey)) {
            refreshLayout();
        }
    });
    connect(&m_texts, &KavrelLocalizationStore::languageChanged, this, [this] {
        refreshToolbar();
        refreshStatusLines();
        refreshLayout();
    });
    refreshToolbar();
    refreshStatusLines();
    refreshLayout();
}

ContentView::~ContentView()
{
    // A sheet still open goes with the view; the start road it reports to is going too.
    if (m_sheet)
        m_sheet->disconnect(m_road);
}

void ContentView::buildToolbar(SurfaceCard *hero)
{
    auto *row = new QWidget(hero);
    m_toolbar = new QHBoxLayout(row);
    m_toolbar->setContentsMargins(0, 0, 0, 0);
    m_toolbar->setSpacing(12);
    m_primary = new PrimaryActionButton(row);
    m_microphone = new WorkspaceMicrophoneControl(m_viewModel, row);
    m_statusPill = new KavrelPill(row);
    KavrelPill::Look pill;
    pill.fill = KavrelStatusTints::violet;
    pill.fillOpacity = 0.14;
    pill.stroke = pill.fill;
    pill.strokeOpacity = 0.10;
    pill.foreground = pill.fill;
    pill.horizontalPadding = 14;
    pill.height = 32;
    m_statusPill->setLook(pill);
    m_statusPill->setSymbol(QStringLiteral("sparkles"));
    m_new = WorkspaceButtons::toolbar(row);
    m_focus = WorkspaceButtons::toolbar(row);
    m_toolbar->addWidget(m_primary);
    m_toolbar->addWidget(m_microphone);
    m_toolbar->addWidget(m_statusPill);
    m_toolbar->addStretch(1);
    m_toolbar->addWidget(m_new);
    m_toolbar->addWidget(m_focus);
    hero->contentLayout()->addWidget(row);
    // A toolbar control that goes (the session ended, focus mode hid it) leaves the keyboard on
    // the start/stop button, or in focus mode on its exit: never on "New" beside it.
    new KavrelFocusLanding(row, {m_primary, m_focus});
    connect(m_primary, &QAbstractButton::clicked, this, &ContentView::handlePrimaryAction);
    connect(m_new, &QAbstractButton::clicked, &m_viewModel, &SubtitleViewModel::startNewSession);
    connect(m_focus, &QAbstractButton::clicked, this, [this] { setFocusModeEnabled(!isFocusModeEnabled()); });
}

void ContentView::buildWorkspace()
{
    m_workspaceScroll = new QScrollArea(this);
    m_workspaceScroll->setFrameShape(QFrame::NoFrame);
    // Tab goes to the controls it holds (and scrolls them into sight), never to the area
    // itself, which has no name and nothing to press.
    m_workspaceScroll->setFocusPolicy(Qt::NoFocus);
    m_workspaceScroll->setWidgetResizable(true);
    m_workspaceScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_workspaceScroll->viewport()->setAutoFillBackground(false);
    KavrelSlimScrollBars::apply(m_workspaceScroll);
    auto *inner = new QWidget(m_workspaceScroll);
    inner->setAutoFillBackground(false);
    auto *stack = new QVBoxLayout(inner);
    stack->setContentsMargins(0, 0, 0, 2);
    stack->setSpacing(6);

    m_layoutPicker = new KavrelSegmentedPicker({{QStringLiteral("columns"), QStringLiteral("rectangle.split.2x1")},
                                                {QStringLiteral("rows"), QStringLiteral("rectangle.split.1x2")}});
    m_layoutPicker->setFixedWidth(68);
    connect(m_layoutPicker, &KavrelSegmentedPicker::picked, this, [this](const QString &value) {
        m_defaults.setString(QString::fromLatin1(WorkspaceLayout::layoutDefaultsKey), value);
    });
    m_transcript = new WorkspaceTextColumn(m_viewModel, PublishedTranscript::Column::transcript, m_layoutPicker, inner);
    m_translation = new WorkspaceTextColumn(m_viewModel, PublishedTranscript::Column::translation, nullptr, inner);
    m_split = new KavrelSplitContainer(inner);
    m_split->setPanels(m_transcript, m_translation);
    connect(m_split, &KavrelSplitContainer::fractionDragged, this, [this](double fraction) {
        m_defaults.setDouble(QString::fromLatin1(WorkspaceLayout::splitDefaultsKey), fraction);
    });
    stack->addWidget(m_split, 1);

    const auto detached = [this, inner, stack](SurfaceCard *&card, ResultPanel *&panel, AIPanel which) {
        card = new SurfaceCard(20, inner);
        card->setMinimumHeight(180);
        panel = new ResultPanel(m_texts, false, card);
        card->contentLayout()->addWidget(panel);
        stack->addWidget(card);
        connect(panel, &ResultPanel::closeRequested, this, [this, which] { m_viewModel.companionSet()->panels()->hide(which); });
    };
    detached(m_detachedTranscriptCard, m_detachedTranscriptSummary, AIPanel::transcriptSummary);
    detached(m_detachedTranslationCard, m_detachedTranslationSummary, AIPanel::translationSummary);
    connect(m_detachedTranscriptSummary, &ResultPanel::copyRequested, &m_viewModel,
            &SubtitleViewModel::copyTranscriptSummaryToPasteboard);
    connect(m_detachedTranslationSummary, &ResultPanel::copyRequested, &m_viewModel,
            &SubtitleViewModel::copyTranslationSummaryToPasteboard);
    m_workspaceScroll->setWidget(inner);
    inner->setAutoFillBackground(false);
}

ListeningSetupSheet *ContentView::listeningSetupSheet() const
{
    return m_sheet;
}

bool ContentView::isFocusModeEnabled() const
{
    return m_defaults.boolValue(QString::fromLatin1(WorkspaceLayout::focusModeDefaultsKey), false);
}

void ContentView::setFocusModeEnabled(bool enabled)
{
    m_defaults.setBool(QString::fromLatin1(WorkspaceLayout::focusModeDefaultsKey), enabled);
}

WorkspaceLayout ContentView::layout() const
{
    return WorkspaceLayout::fromRawValue(m_defaults.stringValue(QString::fromLatin1(WorkspaceLayout::layoutDefaultsKey),
                                                                QStringLiteral("columns")));
}

bool ContentView::usesScrollableRowsWorkspace() const
{
    return layout().rows && (m_viewModel.isTranscriptSummaryVisible() || m_viewModel.isTranslationSummaryVisible());
}

bool ContentView::shouldShowMicrophoneOffWarning() const
{
    return m_viewModel.shouldShowMicrophoneOffWarning() && !m_isMicrophoneOffWarningDismissed;
}

bool ContentView::primaryActionDisabled() const
{
    WorkspaceRules::PrimaryActionState state;
    state.hasActiveSession = m_viewModel.hasActiveSession();
    state.isBusy = m_viewModel.isBusy();
    state.isMicrophoneBusy = m_viewModel.isMicrophoneBusy();
    state.isRestoringSession = m_authStore.isRestoringSession();
    state.isAuthenticated = m_authStore.isAuthenticated();
    state.isSystemAudioListening = m_viewModel.isSystemAudioListening();
    return WorkspaceRules::primaryActionDisabled(state);
}

void ContentView::handlePrimaryAction()
{
    if (m_viewModel.hasActiveSession())
        m_viewModel.stopActiveSession();
    else
        m_road->prepareListeningSetupAfterAuthRefresh();
}

void ContentView::refreshToolbar()
{
    const bool active = m_viewModel.hasActiveSession();
    const bool focus = isFocusModeEnabled();
    if (active)
        m_primary->setContent(m_texts.localized(QStringLiteral("Stop Listening")), QString(), QStringLiteral("stop.fill"), stopTint);
    else
        m_primary->setContent(m_texts.localized(QStringLiteral("Start Listening")),
                              m_compact ? QString() : m_texts.localized(QStringLiteral("system audio")),
                              QStringLiteral("play.fill"), startTint);
    // Stopping or starting from the keyboard makes the button wait while it runs; it keeps the
    // keyboard meanwhile.
    KavrelFocusHold::setAvailable(m_primary, !primaryActionDisabled());
    const std::optional<QString> activity = m_viewModel.assistantActivityText();
    m_statusPill->setText(activity.value_or(QString()));
    m_statusPill->setVisible(active && activity && !m_compact);
    WorkspaceButtons::setToolbarContent(m_new, m_texts.localized(QStringLiteral("New")), QStringLiteral("plus.circle"), false);
    WorkspaceButtons::setToolbarContent(
        m_focus, m_texts.localized(focus ? QStringLiteral("Exit") : QStringLiteral("Focus")),
        focus ? QStringLiteral("rectangle.compress.vertical") : QStringLiteral("rectangle.expand.vertical"), focus);
    // Those that come are shown before those that go are hidden: the keyboard of a control that
    // goes lands on one that stays or comes.
    const std::pair<QWidget *, bool> shown[] = {
        {m_primary, !active || !focus}, {m_microphone, active && !focus}, {m_new, active}, {m_focus, active}};
    for (const bool showing : {true, false}) {
        for (const auto &[control, visible] : shown) {
            if (visible == showing)
                control->setVisible(visible);
        }
    }
    m_toolbar->setSpacing(m_compact ? 10 : 12);
    m_hero->setAccent(withAlpha(active ? stopTint : startTint, 0.16));
    // What the toolbar holds changed: the variant that fits may have too.
    if (!m_choosingToolbarVariant)
        chooseToolbarVariant();
}

void ContentView::chooseToolbarVariant()
{
    // The full toolbar when it fits, else the compact one (no subtitle, no status pill).
    const bool active = m_viewModel.hasActiveSession();
    const bool focus = isFocusModeEnabled();
    int needed = 0;
    if (!active) {
        // The start button as the full toolbar shows it, with its subtitle.
        PrimaryActionButton probe;
        probe.setFont(m_primary->font());
        probe.setContent(m_texts.localized(QStringLiteral("Start Listening")), m_texts.localized(QStringLiteral("system audio")),
                         QStringLiteral("play.fill"), startTint);
        needed = probe.sizeHint().width();
    } else {
        // While listening this runs whenever the activity comes or goes ("Translating..." with
        // every turn): the toolbar's own widgets are measured, none is made for it.
        if (!focus)
            needed += m_primary->sizeHint().width() + m_microphone->sizeHint().width() + 12;
        const std::optional<QString> activity = m_viewModel.assistantActivityText();
        if (activity) {
            if (m_statusPill->text() != *activity)
                m_statusPill->setText(*activity);
            needed += m_statusPill->sizeHint().width() + 12;
        }
        needed += 12 + m_new->sizeHint().width() + 12 + m_focus->sizeHint().width();
    }
    const int available = width() - 2 * 12 - 2 * (12 + 4);
    const bool compact = needed > available;
    if (compact != m_compact) {
        m_compact = compact;
        const QScopedValueRollback<bool> choosing(m_choosingToolbarVariant, true);
        refreshToolbar();
    }
}

void ContentView::refreshStatusLines()
{
    const std::optional<QString> error = m_viewModel.errorMessage();
    m_errorLine->setVisible(error.has_value());
    m_errorLine->setText(m_texts.localizedMessage(error.value_or(QString())));
    const std::optional<QString> notice = m_viewModel.translationMessage();
    m_translationLine->setVisible(notice.has_value());
    m_translationLine->setText(m_texts.localizedMessage(notice.value_or(QString())));
    m_warning->setTexts(m_texts.localized(QStringLiteral("Microphone is off. Your replies will not be included in the transcript.")),
                        m_texts.localized(QStringLiteral("Hide warning")));
    m_warning->setVisible(shouldShowMicrophoneOffWarning());
    m_assistant->setVisible(m_viewModel.isTranscriptAnswerVisible());
}

void ContentView::refreshLayout()
{
    const WorkspaceLayout current = layout();
    KavrelScreenFit::setMinimumSize(this, QSize(int(current.minimumWorkspaceWidth()), 760));
    KavrelSplitContainer::Style style;
    style.minimumPane = current.minimumPane();
    style.dividerExtent = WorkspaceLayout::dividerExtent;
    style.dividerCrossLength = 28;
    // The divider's extent is the gap between the panels; no further gaps are added, so the
    // panels always fit the container.
    style.spacing = 0;
    style.dividerAtStart = !current.rows;
    style.lowestFraction = WorkspaceLayout::lowestDragFraction;
    style.highestFraction = WorkspaceLayout::highestDragFraction;
    style.divider.handleLength = 28;
    style.divider.handleThickness = 3;
    style.divider.handleRadius = 3;
    style.divider.handleOpacity = 0.22;
    m_split->setStyle(style);
    m_split->setOrientation(current.rows ? Qt::Vertical : Qt::Horizontal);
    m_split->setDividerAccessibleName(m_texts.localized(QStringLiteral("Resize transcript and translation panels")));
    m_split->setFraction(WorkspaceLayout::usableFraction(
        m_defaults.doubleValue(QString::fromLatin1(WorkspaceLayout::splitDefaultsKey), WorkspaceLayout::defaultSplitFraction)));
    m_layoutPicker->setValue(current.rawValue());
    m_layoutPicker->setToolTip(m_texts.localized(QStringLiteral("Switch transcript and translation layout")));
    m_layoutPicker->setAccessibleName(m_texts.localized(QStringLiteral("Panel layout")));
    m_layoutPicker->setSegmentNames({m_texts.localized(QStringLiteral("Side by side")),
                                     m_texts.localized(QStringLiteral("One above the other"))});
    const bool scrolls = usesScrollableRowsWorkspace();
    m_transcript->setUsesScrollableRowsWorkspace(scrolls);
    m_translation->setUsesScrollableRowsWorkspace(scrolls);
    m_workspaceScroll->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    refreshDetachedSummaries();
    fitScrollableRows();
}

void ContentView::refreshDetachedSummaries()
{
    const bool scrolls = usesScrollableRowsWorkspace();
    const SubtitleViewModel &vm = m_viewModel;
    m_detachedTranscriptCard->setVisible(scrolls && vm.isTranscriptSummaryVisible());
    m_detachedTranslationCard->setVisible(scrolls && vm.isTranslationSummaryVisible());
    m_detachedTranscriptSummary->setContent(vm.sourceSummaryPanelTitle(), vm.transcriptSummaryText(),
                                            vm.transcriptSummaryErrorMessage(), vm.isTranscriptSummaryLoading(),
                                            QStringLiteral("Summarizing transcript..."), QStringLiteral("No summary yet."));
    m_detachedTranslationSummary->setContent(vm.translationSummaryPanelTitle(), vm.translationSummaryText(),
                                             vm.translationSummaryErrorMessage(), vm.isTranslationSummaryLoading(),
                                             QStringLiteral("Summarizing translation..."), QStringLiteral("No summary yet."));
}

void ContentView::fitScrollableRows()
{
    // While the rows scroll, the two panels keep the visible height and the summaries
    // follow below them; otherwise the panels take the whole area.
    if (usesScrollableRowsWorkspace())
        m_split->setFixedHeight(std::max(m_workspaceScroll->viewport()->height(), m_split->minimumSizeHint().height()));
    else {
        m_split->setMinimumHeight(0);
        m_split->setMaximumHeight(QWIDGETSIZE_MAX);
    }
}

void ContentView::presentListeningSetup(bool presented)
{
    if (presented) {
        if (m_sheet)
            return;
        auto *sheet = new ListeningSetupSheet(m_viewModel, this);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->setWindowModality(Qt::WindowModal);
        m_sheet = sheet;
        connect(sheet, &ListeningSetupSheet::startRequested, m_road, &WorkspaceStartRoad::startFromSetup);
        connect(sheet, &QDialog::finished, m_road, [road = m_road] { road->setListeningSetupPresented(false); });
        sheet->open();
    } else if (m_sheet) {
        m_sheet->done(QDialog::Accepted);
    }
}

void ContentView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    chooseToolbarVariant();
    fitScrollableRows();
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_viewModel.companionSet()->history()->setFocusModeEnabled(isFocusModeEnabled());
    // Arriving at the workspace, the keyboard starts listening. During a meeting it waits on the
    // live transcript instead: the key that brought the window (the tray's entry, a link) may come
    // again, and on Stop it would end the meeting.
    KavrelArrivalFocus::give(m_viewModel.hasActiveSession() ? m_transcript->readingPlace() : m_primary);
}
