#pragma once

#include "workspace/WorkspaceRules.h"

#include <QWidget>

#include <optional>

class BusyIndicator;
class EmptyPanelPlaceholder;
class QLabel;
class QScrollArea;
class QStackedLayout;

// The body of an AI result panel in its four states: a busy line, the error in red (with the
// local fallback under it, when there is one), the result, or the empty hint. Error and result are plain, selectable text; with internal
// scrolling they scroll inside the space they are given, otherwise the body grows with them.
class ResultContentStack final : public QWidget
{
    Q_OBJECT

public:
    struct Options
    {
        bool usesInternalScroll = true;
        bool errorScrolls = true;   // the assistant panel's error never scrolls
        int padding = 12;
    };

    explicit ResultContentStack(const Options &options, QWidget *parent = nullptr);

    void setContent(const QString &text, const std::optional<QString> &errorMessage, bool isLoading,
                    const QString &loadingText, const QString &emptyText);
    WorkspaceRules::ResultContent state() const { return m_state; }
    QString shownText() const;

protected:
    void changeEvent(QEvent *event) override;

private:
    QWidget *textPage(QWidget *label, bool scrolls);
    void applyTextColours();

    Options m_options;
    QStackedLayout *m_stack;
    QWidget *m_loadingPage;
    QLabel *m_loadingLabel;
    QLabel *m_errorLabel;
    QLabel *m_fallbackLabel;
    QLabel *m_resultLabel;
    QWidget *m_errorPage;
    QWidget *m_resultPage;
    EmptyPanelPlaceholder *m_empty;
    WorkspaceRules::ResultContent m_state = WorkspaceRules::ResultContent::empty;
};
