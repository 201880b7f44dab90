#pragma once

#include "workspace/WorkspaceRules.h"

#include <QWidget>

#include <optional>

class KavrelCapsuleButton;
class KavrelIconButton;
class KavrelLocalizationStore;
class QLabel;
class ResultContentStack;

// A titled AI result (summary, protocol, answer): a header with Copy and a hide button over
// a boxed body that shows loading, error, result or the empty hint. Copy is off while the
// text is empty or loading; an error does not turn it off. Keys are looked up here.
class ResultPanel final : public QWidget
{
    Q_OBJECT

public:
    ResultPanel(KavrelLocalizationStore &localization, bool usesInternalScroll, QWidget *parent = nullptr);

    void setContent(const QString &title, const QString &contentText, const std::optional<QString> &errorMessage,
                    bool isLoading, const QString &loadingText, const QString &emptyText);

    WorkspaceRules::ResultContent state() const;
    QString shownText() const;
    KavrelCapsuleButton *copyButton() const { return m_copy; }
    KavrelIconButton *closeButton() const { return m_close; }

Q_SIGNALS:
    void copyRequested();
    void closeRequested();

private:
    KavrelLocalizationStore &m_localization;
    QLabel *m_title;
    KavrelCapsuleButton *m_copy;
    KavrelIconButton *m_close;
    ResultContentStack *m_content;
};
