#pragma once

#include "session/ListeningStartPrompts.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QMessageBox;

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
    void raiseOpenQuestion() override;

private:
    KavrelLocalizationStore &m_localization;
    std::function<QWidget *()> m_parentWindow;
    // The box on screen, while one is.
    std::shared_ptr<QPointer<QMessageBox>> m_openBox = std::make_shared<QPointer<QMessageBox>>();
};
