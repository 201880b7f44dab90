#include "workspace/widgets/WorkspaceTextColumn.h"

#include "kit/widgets/KavrelArrivalFocus.h"
#include "kit/widgets/KavrelFocusHold.h"
#include "kit/widgets/KavrelFocusLanding.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/KavrelPalette.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelPill.h"
#include "kit/widgets/KavrelSplitContainer.h"
#include "session/AIResultPanelSet.h"
#include "session/SessionCompanionSet.h"
#include "session/SubtitleViewModel.h"
#include "workspace/widgets/DialogueHistoryPanel.h"
#include "workspace/widgets/EmptyPanelPlaceholder.h"
#include "workspace/widgets/PanelActionButton.h"
#include "workspace/widgets/PanelBox.h"
#include "workspace/widgets/ResultPanel.h"
#include "workspace/widgets/SurfaceCard.h"
#include "workspace/widgets/WorkspaceButtons.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QStackedLayout>
#include <QVBoxLayout>

using WorkspaceRules::ColumnBody;

namespace {

QFrame *headerDivider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(18);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

} // namespace

WorkspaceTextColumn::WorkspaceTextColumn(SubtitleViewModel &viewModel, Side side, QWidget *layoutPicker, QWidget *parent)
    : QWidget(parent), m_viewModel(viewModel), m_texts(viewModel.localization()), m_side(side)
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *card = new SurfaceCard(20, this);
    outer->addWidget(card);
    QVBoxLayout *content = card->contentLayout();
    content->setSpacing(12);

    // Header.
    auto *header = new QVBoxLayout;
    header->setSpacing(8);
    m_headerRow = new QHBoxLayout;
    m_headerRow->setSpacing(10);
    m_secondRow = new QHBoxLayout;
    m_secondRow->setSpacing(10);
    m_secondRow->addStretch(1);
    header->addLayout(m_headerRow);
    header->addLayout(m_secondRow);
    content->addLayout(header);

    m_title = card->makeTitleLabel();
    // A narrow column leaves the title beside its badge and buttons less than a line: it takes
    // two rather than running under them.
    m_title->setWordWrap(true);
    m_headerRow->addWidget(m_title);
    if (isTranscript()) {
        m_languageBadge = new KavrelPill(card);
        KavrelPill::Look look;
        look.fill = KavrelSystemColors::accent;
        look.fillOpacity = 0.1;
        look.stroke = KavrelSystemColors::accent;
        look.strokeOpacity = 0.18;
        look.foreground = KavrelSystemColors::accent;
        look.horizontalPadding = 7;
        look.height = 20;
        m_languageBadge->setLook(look);
        QFont badgeFont = m_languageBadge->font();
        badgeFont.setPixelSize(10);
        badgeFont.setBold(true);
        badgeFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
        m_languageBadge->setFont(badgeFont);
        m_headerRow->addWidget(m_languageBadge);
    }
    m_headerRow->addStretch(1);
    m_smaller = WorkspaceButtons::icon(QStringLiteral("textformat.size.smaller"), QSize(28, 24), 14, card);
    m_larger = WorkspaceButtons::icon(QStringLiteral("textformat.size.larger"), QSize(28, 24), 14, card);
    m_copyAll = WorkspaceButtons::icon(QStringLiteral("doc.on.doc"), QSize(24, 24), 14, card);
    m_headerRow->addWidget(m_smaller);
    m_headerRow->addWidget(m_larger);
    m_headerRow->addWidget(m_copyAll);
    m_actionsDivider = headerDivider(card);
    m_headerRow->addWidget(m_actionsDivider);
    if (layoutPicker) {
        layoutPicker->setParent(card);
        m_headerRow->addWidget(layoutPicker);
        m_actionsDivider = headerDivider(card);
        m_headerRow->addWidget(m_actionsDivider);
    }
    m_actions = new QWidget(card);
    auto *actions = new QHBoxLayout(m_actions);
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(8);
    m_summarize = PanelActionButton::make(std::nullopt, m_actions);
    m_protocol = PanelActionButton::make(std::nullopt, m_actions);
    actions->addWidget(m_summarize);
    actions->addWidget(m_protocol);
    if (isTranscript()) {
        m_suggest = PanelActionButton::make(kavrelFixed({0.20, 0.41, 0.86, 1}), m_actions);
        actions->addWidget(m_suggest);
    }
    m_headerRow->addWidget(m_actions);

    // Body: the dialogue over an optional result panel.
    m_historyBox = new PanelBox(14, std::nullopt, 0.05, 0.25, card);
    m_historyStack = new QStackedLayout(m_historyBox);
    m_historyStack->setContentsMargins(1, 1, 1, 1);
    m_placeholder = new EmptyPanelPlaceholder(m_historyBox);
    m_history = new DialogueHistoryPanel(viewModel.publishedTranscript(), side,
                                         [&viewModel](int number) { return viewModel.speakerLabel(number); }, m_historyBox);
    m_historyStack->addWidget(m_placeholder);
    m_historyStack->addWidget(m_history);
    // The window brought forward from elsewhere (the mini window, the tray) gives the keyboard to
    // the text the user follows, or to the hint that stands in for it: it only scrolls, where the
    // stop beside it would end the meeting at the next key. The stack hands the keyboard on
    // between the two.
    KavrelArrivalFocus::setLanding(m_placeholder);
    KavrelArrivalFocus::setLanding(m_history);
    m_result = new ResultPanel(m_texts, true, card);
    m_result->hide();
    // Closing the panel from the keyboard leaves it on the copy button, not on an AI action.
    new KavrelFocusLanding(m_result, {m_copyAll});
    m_split = new KavrelSplitContainer(card);
    KavrelSplitContainer::Style style;
    style.minimumPane = 130;
    style.dividerExtent = 8;
    style.dividerCrossLength = 28;
    style.lowestFraction = 0.25;
    style.highestFraction = 0.8;
    style.divider.handleLength = 28;
    style.divider.handleOpacity = 0.22;
    m_split->setStyle(style);
    m_split->setOrientation(Qt::Vertical);
    m_split->setPanels(m_historyBox, m_result);
    m_split->setFraction(0.58);
    m_historyBox->setMinimumHeight(180);
    content->addWidget(m_split, 1);

    // Commands.
    connect(m_smaller, &QAbstractButton::clicked, this, [this] {
        const double size = WorkspaceRules::decreasedFontSize(fontSize());
        isTranscript() ? m_viewModel.setTranscriptFontSize(size) : m_viewModel.setTranslationFontSize(size);
    });
    connect(m_larger, &QAbstractButton::clicked, this, [this] {
        const double size = WorkspaceRules::increasedFontSize(fontSize());
        isTranscript() ? m_viewModel.setTranscriptFontSize(size) : m_viewModel.setTranslationFontSize(size);
    });
    connect(m_copyAll, &QAbstractButton::clicked, this, [this] {
        m_viewModel.copyToPasteboard(isTranscript() ? m_viewModel.subtitlesText() : m_viewModel.translatedText());
    });
    connect(m_summarize, &QAbstractButton::clicked, this, [this] {
        isTranscript() ? m_viewModel.summarizeSourceText() : m_viewModel.summarizeTranslatedText();
    });
    connect(m_protocol, &QAbstractButton::clicked, this, [this] {
        isTranscript() ? m_viewModel.generateSourceProtocol() : m_viewModel.generateTranslatedProtocol();
    });
    if (m_suggest)
        connect(m_suggest, &QAbstractButton::clicked, &viewModel, &SubtitleViewModel::suggestSourceAnswer);
    connect(m_result, &ResultPanel::closeRequested, this, &WorkspaceTextColumn::closeResultPanel);
    connect(m_result, &ResultPanel::copyRequested, this, [this] {
        switch (m_body) {
        case ColumnBody::summary:
            isTranscript() ? m_viewModel.copyTranscriptSummaryToPasteboard() : m_viewModel.copyTranslationSummaryToPasteboard();
            break;
        case ColumnBody::protocol:
            isTranscript() ? m_viewModel.copyTranscriptProtocolToPasteboard() : m_viewModel.copyTranslationProtocolToPasteboard();
            break;
        case ColumnBody::answer:
            m_viewModel.copyTranslationAnswerToPasteboard();
            break;
        case ColumnBody::history:
            break;
        }
    });

    // Follow the view model.
    if (isTranscript()) {
        connect(&viewModel, &SubtitleViewModel::subtitlesTextChanged, this, &WorkspaceTextColumn::refreshHistory);
        connect(&viewModel, &SubtitleViewModel::liveSubtitlePreviewChanged, this, &WorkspaceTextColumn::refreshHistory);
        connect(&viewModel, &SubtitleViewModel::transcriptFontSizeChanged, this, &WorkspaceTextColumn::refreshFontSize);
        connect(&viewModel, &SubtitleViewModel::transcriptSummaryChanged, this, &WorkspaceTextColumn::refreshBody);
        connect(&viewModel, &SubtitleViewModel::transcriptProtocolChanged, this, &WorkspaceTextColumn::refreshBody);
        connect(&viewModel, &SubtitleViewModel::hasActiveSessionChanged, this, &WorkspaceTextColumn::refreshTexts);
        connect(&viewModel, &SubtitleViewModel::selectedSourceLanguageChanged, this, &WorkspaceTextColumn::refreshTexts);
    } else {
        connect(&viewModel, &SubtitleViewModel::translatedTextChanged, this, &WorkspaceTextColumn::refreshHistory);
        connect(&viewModel, &SubtitleViewModel::liveTranslationPreviewChanged, this, &WorkspaceTextColumn::refreshHistory);
        connect(&viewModel, &SubtitleViewModel::translationFontSizeChanged, this, &WorkspaceTextColumn::refreshFontSize);
        connect(&viewModel, &SubtitleViewModel::translationSummaryChanged, this, &WorkspaceTextColumn::refreshBody);
        connect(&viewModel, &SubtitleViewModel::translationProtocolChanged, this, &WorkspaceTextColumn::refreshBody);
        connect(&viewModel, &SubtitleViewModel::translationAnswerChanged, this, &WorkspaceTextColumn::refreshBody);
        connect(&viewModel, &SubtitleViewModel::translationPlaceholderTextChanged, this, &WorkspaceTextColumn::refreshTexts);
    }
    connect(&viewModel, &SubtitleViewModel::panelTitlesChanged, this, &WorkspaceTextColumn::refreshTexts);
    connect(&viewModel, &SubtitleViewModel::panelTitlesChanged, this, &WorkspaceTextColumn::refreshBody);
    connect(&viewModel, &SubtitleViewModel::aiCommandAvailabilityChanged, this, &WorkspaceTextColumn::refreshCommands);
    connect(&m_texts, &KavrelLocalizationStore::languageChanged, this, [this] {
        refreshTexts();
        refreshBody();
    });
    refreshTexts();
    refreshFontSize();
    refreshBody();
}

double WorkspaceTextColumn::fontSize() const
{
    return isTranscript() ? m_viewModel.transcriptFontSize() : m_viewModel.translationFontSize();
}

void WorkspaceTextColumn::setUsesScrollableRowsWorkspace(bool uses)
{
    if (m_usesScrollableRowsWorkspace == uses)
        return;
    m_usesScrollableRowsWorkspace = uses;
    refreshBody();
}

void WorkspaceTextColumn::refreshTexts()
{
    if (isTranscript()) {
        m_title->setText(m_texts.localized(QStringLiteral("Live transcript")));
        m_title->setToolTip(m_texts.localized(QStringLiteral("Editable during testing, with timestamped blocks.")));
        const SourceLanguageOption language = m_viewModel.selectedSourceLanguage();
        m_languageBadge->setText(SourceLanguageOptions::code(language).toUpper());
        const QString name = m_texts.localizedLanguageName(SourceLanguageOptions::interfaceLanguage(language));
        m_languageBadge->setToolTip(m_texts.localizedFormat(QStringLiteral("Input: %@"), QStringList{name}));
        m_languageBadge->setAccessibleName(m_languageBadge->toolTip());
        m_copyAll->setHelpText(m_texts.localized(QStringLiteral("Copy entire transcript")));
        PanelActionButton::setTexts(
            m_protocol, m_texts.localized(QStringLiteral("Protocol")),
            m_texts.localized(QStringLiteral("Create a full structured meeting protocol from this transcript.")));
        PanelActionButton::setTexts(
            m_suggest, m_texts.localized(QStringLiteral("Suggest answer")),
            m_texts.localized(QStringLiteral("Draft a suggested reply to the latest question in this transcript.")));
    } else {
        m_title->setText(m_viewModel.translationPanelTitle());
        m_title->setToolTip(m_texts.localized(QStringLiteral(
            "The translation stays secondary to the live transcript and fills in only when final text is ready.")));
        m_copyAll->setHelpText(m_texts.localized(QStringLiteral("Copy entire translation")));
        PanelActionButton::setTexts(m_protocol, m_texts.localized(QStringLiteral("Protocol")),
                                    m_texts.localized(QStringLiteral(
                                        "Create a full structured meeting protocol in the selected translation language.")));
    }
    // The dialogue takes the keyboard (its text is selectable): it answers to the column's title.
    m_history->setAccessibleName(m_title->text());
    PanelActionButton::setTexts(m_summarize, m_texts.localized(QStringLiteral("Summarize")),
                                m_texts.localized(QStringLiteral("Generate a summary for the text in this panel.")));
    m_smaller->setHelpText(m_texts.localized(QStringLiteral("Decrease text size")));
    m_larger->setHelpText(m_texts.localized(QStringLiteral("Increase text size")));
    refreshHistory();
    arrangeHeader();
}

QString WorkspaceTextColumn::placeholderText() const
{
    if (!isTranscript())
        return m_viewModel.translationPlaceholderText();
    return m_texts.localized(m_viewModel.hasActiveSession()
                                 ? QStringLiteral("Transcript is live. You can edit it at any time during testing.")
                                 : QStringLiteral("Start listening or turn on the microphone to begin capturing transcript."));
}

bool WorkspaceTextColumn::showsPlaceholder() const
{
    return m_historyStack->currentWidget() == m_placeholder;
}

QWidget *WorkspaceTextColumn::readingPlace() const
{
    return m_historyStack->currentWidget();
}

void WorkspaceTextColumn::refreshHistory()
{
    const PublishedTranscript *published = m_viewModel.publishedTranscript();
    const int rows = published->rowCount(m_side);
    const QString preview = isTranscript() ? m_viewModel.liveSubtitlePreview() : m_viewModel.liveTranslationPreview();
    // The whole text is only read while there are no rows: every row renders non-blank.
    const auto text = [this] { return isTranscript() ? m_viewModel.subtitlesText() : m_viewModel.translatedText(); };
    const bool placeholder = rows == 0 && WorkspaceRules::showsHistoryPlaceholder(rows, text(), preview);
    m_history->setDraftText(preview);
    if (placeholder) {
        m_placeholder->setText(placeholderText());
        m_historyStack->setCurrentWidget(m_placeholder);
    } else {
        m_historyStack->setCurrentWidget(m_history);
    }
    KavrelFocusHold::setAvailable(m_copyAll, rows > 0 || WorkspaceRules::hasText(text()));
}

void WorkspaceTextColumn::refreshCommands()
{
    if (isTranscript()) {
        KavrelFocusHold::setAvailable(m_summarize, m_viewModel.canSummarizeSource());
        KavrelFocusHold::setAvailable(m_protocol, m_viewModel.canGenerateSourceProtocol());
        KavrelFocusHold::setAvailable(m_suggest, m_viewModel.canSuggestSourceAnswer());
    } else {
        KavrelFocusHold::setAvailable(m_summarize, m_viewModel.canSummarizeTranslation());
        KavrelFocusHold::setAvailable(m_protocol, m_viewModel.canGenerateTranslationProtocol());
    }
}

void WorkspaceTextColumn::refreshFontSize()
{
    const double size = fontSize();
    m_history->setFontSize(size);
    KavrelFocusHold::setAvailable(m_smaller, WorkspaceRules::canDecreaseFontSize(size));
    KavrelFocusHold::setAvailable(m_larger, WorkspaceRules::canIncreaseFontSize(size));
}

void WorkspaceTextColumn::refreshBody()
{
    const SubtitleViewModel &vm = m_viewModel;
    m_body = isTranscript()
                 ? WorkspaceRules::transcriptBody(vm.isTranscriptSummaryVisible(), vm.isTranscriptProtocolVisible(),
                                                  m_usesScrollableRowsWorkspace)
                 : WorkspaceRules::translationBody(vm.isTranslationSummaryVisible(), vm.isTranslationProtocolVisible(),
                                                   vm.isTranslationAnswerVisible(), m_usesScrollableRowsWorkspace);
    switch (m_body) {
    case ColumnBody::history:
        break;
    case ColumnBody::summary:
        if (isTranscript())
            m_result->setContent(vm.sourceSummaryPanelTitle(), vm.transcriptSummaryText(), vm.transcriptSummaryErrorMessage(),
                                 vm.isTranscriptSummaryLoading(), QStringLiteral("Summarizing transcript..."),
                                 QStringLiteral("No summary yet."));
        else
            m_result->setContent(vm.translationSummaryPanelTitle(), vm.translationSummaryText(),
                                 vm.translationSummaryErrorMessage(), vm.isTranslationSummaryLoading(),
                                 QStringLiteral("Summarizing translation..."), QStringLiteral("No summary yet."));
        break;
    case ColumnBody::protocol:
        if (isTranscript())
            m_result->setContent(QStringLiteral("Meeting protocol"), vm.transcriptProtocolText(),
                                 vm.transcriptProtocolErrorMessage(), vm.isTranscriptProtocolLoading(),
                                 QStringLiteral("Building meeting protocol..."), QStringLiteral("No protocol yet."));
        else
            m_result->setContent(QStringLiteral("Meeting protocol"), vm.translationProtocolText(),
                                 vm.translationProtocolErrorMessage(), vm.isTranslationProtocolLoading(),
                                 QStringLiteral("Building meeting protocol..."), QStringLiteral("No protocol yet."));
        break;
    case ColumnBody::answer:
        m_result->setContent(QStringLiteral("Suggested answer"), vm.translationAnswerText(), vm.translationAnswerErrorMessage(),
                             vm.isTranslationAnswerLoading(), QStringLiteral("Suggesting a translated answer..."),
                             QStringLiteral("No answer suggestion yet."));
        break;
    }
    m_result->setVisible(m_body != ColumnBody::history);
    refreshCommands();
}

void WorkspaceTextColumn::closeResultPanel()
{
    AIResultPanelSet *panels = m_viewModel.companionSet()->panels();
    switch (m_body) {
    case ColumnBody::summary:
        panels->hide(isTranscript() ? AIPanel::transcriptSummary : AIPanel::translationSummary);
        break;
    case ColumnBody::protocol:
        panels->hide(isTranscript() ? AIPanel::transcriptProtocol : AIPanel::translationProtocol);
        break;
    case ColumnBody::answer:
        panels->hide(AIPanel::translationAnswer);
        break;
    case ColumnBody::history:
        break;
    }
}

void WorkspaceTextColumn::arrangeHeader()
{
    // One row when everything fits, else the AI actions move to a second row rather than
    // being cut off in a narrow column.
    const int oneLine = m_title->fontMetrics().horizontalAdvance(m_title->text()) + 2;
    int needed = m_actions->sizeHint().width();
    for (int i = 0; i < m_headerRow->count(); ++i) {
        QWidget *widget = m_headerRow->itemAt(i)->widget();
        if (widget && widget != m_actions)
            needed += (widget == m_title ? oneLine : widget->sizeHint().width()) + m_headerRow->spacing();
    }
    const int available = width() - 2 * (20 + 4);
    const bool secondRow = needed > available;
    if (secondRow != m_actionsOnSecondRow) {
        m_actionsOnSecondRow = secondRow;
        m_actionsDivider->setVisible(!secondRow);
        if (secondRow) {
            m_headerRow->removeWidget(m_actions);
            m_secondRow->addWidget(m_actions);
        } else {
            m_secondRow->removeWidget(m_actions);
            m_headerRow->addWidget(m_actions);
        }
    }
    // The title keeps one line where the row leaves it the room, and wraps where it does not.
    int others = 0;
    for (int i = 0; i < m_headerRow->count(); ++i) {
        QWidget *widget = m_headerRow->itemAt(i)->widget();
        if (widget && widget != m_title && !widget->isHidden())
            others += widget->sizeHint().width() + m_headerRow->spacing();
    }
    m_title->setMinimumWidth(std::max(0, std::min(oneLine, available - others)));
}

void WorkspaceTextColumn::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    arrangeHeader();
}
