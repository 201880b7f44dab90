#pragma once

#include "session/ListeningStartPrompts.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class KavrelLocalizationStore;

// The start questions as message boxes. Each opens modal to the window that asked (or to the
// application when none did) without blocking: the coroutine resumes when the user answers.
class MessageBoxListeningStartPrompts final : public ListeningStartPrompts
{
public:
    // parentWindow names the window the question belongs to at the moment it is asked.
    MessageBoxListeningStartPrompts(KavrelLocalizationStore &localization, std::function<QWidget *()> parentWindow);

    QCoro::Task<ListeningSessionStartMode> askStartMode() override;
    QCoro::Task<bool> askMicrophone() override;

private:
    KavrelLocalizationStore &m_localization;
    std::function<QWidget *()> m_parentWindow;
};
