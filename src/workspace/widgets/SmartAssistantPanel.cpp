#include "workspace/widgets/SmartAssistantPanel.h"

#include "localization/KavrelLocalizationStore.h"
#include "workspace/widgets/PanelBox.h"
#include "workspace/widgets/ResultContentStack.h"

#include <QVBoxLayout>

SmartAssistantPanel::SmartAssistantPanel(KavrelLocalizationStore &localization, QWidget *parent)
    : QWidget(parent), m_localization(localization)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    const QColor orange = QColor::fromRgbF(1.0, 0.58, 0.0);
    auto *box = new PanelBox(18, orange, 0.10, 0.18, this);
    auto *boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(16, 16, 16, 16);
    m_content = new ResultContentStack(ResultContentStack::Options{true, false, 0}, box);
    boxLayout->addWidget(m_content);
    layout->addWidget(box);
}

void SmartAssistantPanel::setContent(const QString &contentText, const std::optional<QString> &errorMessage,
                                     bool isLoading, const QString &loadingText, const QString &emptyText)
{
    const std::optional<QString> shownError =
        errorMessage ? std::optional<QString>(m_localization.localizedMessage(*errorMessage)) : std::nullopt;
    m_content->setContent(contentText, shownError, isLoading, m_localization.localized(loadingText),
                          m_localization.localized(emptyText));
}

WorkspaceRules::ResultContent SmartAssistantPanel::state() const
{
    return m_content->state();
}
