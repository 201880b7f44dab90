#pragma once

#include "workspace/WorkspaceRules.h"

#include <QWidget>

#include <optional>

class KavrelLocalizationStore;
class ResultContentStack;

// The body of the suggested-answer card: loading, error, empty hint or the scrolling answer
// on a faint orange box. The card around it supplies the header.
class SmartAssistantPanel final : public QWidget
{
    Q_OBJECT

public:
    explicit SmartAssistantPanel(KavrelLocalizationStore &localization, QWidget *parent = nullptr);

    void setContent(const QString &contentText, const std::optional<QString> &errorMessage, bool isLoading,
                    const QString &loadingText, const QString &emptyText);
    WorkspaceRules::ResultContent state() const;

private:
    KavrelLocalizationStore &m_localization;
    ResultContentStack *m_content;
};
