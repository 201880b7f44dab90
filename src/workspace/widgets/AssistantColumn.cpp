#include "workspace/widgets/AssistantColumn.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "kit/widgets/KavrelSymbols.h"
#include "session/AIResultPanelSet.h"
#include "session/SessionCompanionSet.h"
#include "session/SubtitleViewModel.h"
#include "workspace/WorkspaceRules.h"
#include "workspace/widgets/PanelActionButton.h"
#include "workspace/widgets/SmartAssistantPanel.h"
#include "workspace/widgets/SurfaceCard.h"
#include "workspace/widgets/WorkspaceButtons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

AssistantColumn::AssistantColumn(SubtitleViewModel &viewModel, QWidget *parent)
    : QWidget(parent), m_viewModel(viewModel), m_texts(viewModel.localization())
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *card = new SurfaceCard(20, this);
    card->setAccent(QColor::fromRgbF(1.0, 0.58, 0.0, 0.18));
    outer->addWidget(card);
    QVBoxLayout *content = card->contentLayout();
    content->setSpacing(14);

    auto *header = new QHBoxLayout;
    header->setSpacing(10);
    const QColor amber = QColor::fromRgbF(0.92, 0.64, 0.12);
    auto *icon = new QLabel(card);
    icon->setPixmap(KavrelSymbols::icon(QStringLiteral("sparkles"), amber).pixmap(QSize(18, 18), 2.0));
    m_title = card->makeTitleLabel();
    QPalette colours = m_title->palette();
    colours.setColor(QPalette::WindowText, amber);
    m_title->setPalette(colours);
    m_clear = PanelActionButton::make(std::nullopt, card);
    m_copy = PanelActionButton::makeBorderless(card);
    m_close = WorkspaceButtons::icon(QStringLiteral("xmark.circle.fill"), QSize(22, 22), 15, card);
    header->addWidget(icon);
    header->addWidget(m_title);
    header->addStretch(1);
    header->addWidget(m_clear);
    header->addWidget(m_copy);
    header->addWidget(m_close);
    content->addLayout(header);
    m_panel = new SmartAssistantPanel(m_texts, card);
    content->addWidget(m_panel, 1);

    connect(m_clear, &QAbstractButton::clicked, &viewModel, &SubtitleViewModel::startNewSession);
    connect(m_copy, &QAbstractButton::clicked, &viewModel, &SubtitleViewModel::copyTranscriptAnswerToPasteboard);
    connect(m_close, &QAbstractButton::clicked, this,
            [this] { m_viewModel.companionSet()->panels()->hide(AIPanel::transcriptAnswer); });
    connect(&viewModel, &SubtitleViewModel::transcriptAnswerChanged, this, &AssistantColumn::refresh);
    for (auto signal : {&SubtitleViewModel::subtitlesTextChanged, &SubtitleViewModel::translatedTextChanged,
                        &SubtitleViewModel::liveSubtitlePreviewChanged})
        connect(&viewModel, signal, this, &AssistantColumn::refreshClearButton);
    connect(&m_texts, &KavrelLocalizationStore::languageChanged, this, &AssistantColumn::refresh);
    refresh();
}

void AssistantColumn::refresh()
{
    const SubtitleViewModel &vm = m_viewModel;
    m_title->setText(m_texts.localized(QStringLiteral("Suggested response")));
    m_title->setToolTip(m_texts.localized(
        QStringLiteral("Looks at the latest transcript and suggests a natural response you can say on the call.")));
    m_clear->setText(m_texts.localized(QStringLiteral("Clear subtitles")));
    m_copy->setText(m_texts.localized(QStringLiteral("Copy")));
    m_close->setHelpText(m_texts.localized(QStringLiteral("Hide panel")));
    const bool answerControls = vm.isTranscriptAnswerVisible() || !vm.transcriptAnswerText().isEmpty()
                                || vm.isTranscriptAnswerLoading();
    m_copy->setVisible(answerControls);
    m_close->setVisible(answerControls);
    KavrelFocusHold::setAvailable(
        m_copy, WorkspaceRules::resultCopyEnabled(vm.isTranscriptAnswerLoading(), vm.transcriptAnswerText()));
    m_panel->setContent(vm.transcriptAnswerText(), vm.transcriptAnswerErrorMessage(), vm.isTranscriptAnswerLoading(),
                        QStringLiteral("Suggesting a natural answer..."),
                        QStringLiteral("Suggested answer will appear here after you ask the assistant for help with the latest question."));
    refreshClearButton();
}

void AssistantColumn::refreshClearButton()
{
    const SubtitleViewModel &vm = m_viewModel;
    // Rows always render as text, so any row means there is something to clear.
    const bool hasRows = vm.publishedTranscript()->rowCount(PublishedTranscript::Column::transcript) > 0;
    KavrelFocusHold::setAvailable(
        m_clear, hasRows || WorkspaceRules::canClearSubtitles(vm.subtitlesText(), vm.translatedText(), vm.liveSubtitlePreview()));
}
