#include "workspace/widgets/ResultPanel.h"

#include "kit/widgets/KavrelFocusHold.h"
#include "localization/KavrelLocalizationStore.h"
#include "kit/widgets/KavrelCapsuleButton.h"
#include "workspace/widgets/PanelActionButton.h"
#include "workspace/widgets/PanelBox.h"
#include "workspace/widgets/ResultContentStack.h"
#include "workspace/widgets/WorkspaceButtons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

ResultPanel::ResultPanel(KavrelLocalizationStore &localization, bool usesInternalScroll, QWidget *parent)
    : QWidget(parent), m_localization(localization), m_title(new QLabel(this)), m_copy(PanelActionButton::makeBorderless(this)),
      m_close(WorkspaceButtons::icon(QStringLiteral("xmark.circle.fill"), QSize(22, 22), 15, this)),
      m_content(nullptr)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto *header = new QHBoxLayout;
    header->setSpacing(10);
    m_title->setTextFormat(Qt::PlainText);
    QFont headline = m_title->font();
    headline.setPixelSize(14);
    headline.setBold(true);
    m_title->setFont(headline);
    header->addWidget(m_title);
    header->addStretch(1);
    header->addWidget(m_copy);
    header->addWidget(m_close);
    layout->addLayout(header);

    auto *box = new PanelBox(14, std::nullopt, 0.05, 0.25, this);
    auto *boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(1, 1, 1, 1);
    m_content = new ResultContentStack(ResultContentStack::Options{usesInternalScroll, true, 12}, box);
    boxLayout->addWidget(m_content);
    layout->addWidget(box, 1);

    connect(m_copy, &QAbstractButton::clicked, this, &ResultPanel::copyRequested);
    connect(m_close, &QAbstractButton::clicked, this, &ResultPanel::closeRequested);
}

void ResultPanel::setContent(const QString &title, const QString &contentText, const std::optional<QString> &errorMessage,
                             bool isLoading, const QString &loadingText, const QString &emptyText)
{
    m_title->setText(m_localization.localized(title));
    m_copy->setText(m_localization.localized(QStringLiteral("Copy")));
    KavrelFocusHold::setAvailable(m_copy, WorkspaceRules::resultCopyEnabled(isLoading, contentText));
    m_close->setHelpText(m_localization.localized(QStringLiteral("Hide panel")));
    const std::optional<QString> shownError =
        errorMessage ? std::optional<QString>(m_localization.localizedMessage(*errorMessage)) : std::nullopt;
    m_content->setContent(contentText, shownError, isLoading, m_localization.localized(loadingText),
                          m_localization.localized(emptyText));
}

WorkspaceRules::ResultContent ResultPanel::state() const
{
    return m_content->state();
}

QString ResultPanel::shownText() const
{
    return m_content->shownText();
}
