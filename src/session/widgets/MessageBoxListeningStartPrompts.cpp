#include "session/widgets/MessageBoxListeningStartPrompts.h"

#include "base/Continuation.h"
#include "localization/KavrelLocalizationStore.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <memory>

namespace {

constexpr int widestExplanation = 480;

struct Question
{
    QMessageBox::Icon icon;
    QString text;
    QString informativeText;
    QString firstButton;
    QString secondButton;
};

// Opens the box and returns whether its first button was chosen. A box that goes away
// unanswered (its window was closed) counts as the other answer.
QCoro::Task<bool> ask(Question question, QWidget *parent, std::shared_ptr<QPointer<QMessageBox>> openBox)
{
    auto *box = new QMessageBox(parent);
    *openBox = box;
    box->setIcon(question.icon);
    box->setText(question.text);
    box->setInformativeText(question.informativeText);
    QPushButton *first = box->addButton(question.firstButton, QMessageBox::AcceptRole);
    box->addButton(question.secondButton, QMessageBox::RejectRole);
    box->setDefaultButton(first);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    // A message box sizes itself by its buttons, and would wrap the explanation after every other
    // word, or leave its last word alone on a line: it is held on one line where that fits in
    // widestExplanation, else that wide.
    if (auto *explanation = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
        // One pixel more than the line's advance, which the label's word wrap rounds up.
        const int oneLine = explanation->fontMetrics().horizontalAdvance(question.informativeText) + 1;
        explanation->setMinimumWidth(std::min(oneLine, widestExplanation));
    }

    auto answer = std::make_shared<ContinuationSlot<bool>>();
    QObject::connect(box, &QMessageBox::finished, box, [answer, box, first] {
        const bool chosen = box->clickedButton() == static_cast<QAbstractButton *>(first);
        box->deleteLater();
        answer->resume(chosen);
    });
    QObject::connect(box, &QObject::destroyed, [answer] { answer->resume(false); });
    auto awaiter = answer->install();

    if (parent)
        parent->activateWindow();
    box->open();
    box->raise();
    box->activateWindow();
    const bool chosen = co_await awaiter;
    co_return chosen;
}

} // namespace

MessageBoxListeningStartPrompts::MessageBoxListeningStartPrompts(KavrelLocalizationStore &localization,
                                                                 std::function<QWidget *()> parentWindow)
    : m_localization(localization)
    , m_parentWindow(std::move(parentWindow))
{
}

QCoro::Task<ListeningSessionStartMode> MessageBoxListeningStartPrompts::askStartMode()
{
    Question question;
    question.icon = QMessageBox::Information;
    question.text = m_localization.localized(QStringLiteral("Start listening?"));
    question.informativeText = m_localization.localized(QStringLiteral("Start a new session or continue the previous one?"));
    question.firstButton = m_localization.localized(QStringLiteral("Start New"));
    question.secondButton = m_localization.localized(QStringLiteral("Continue"));
    QWidget *parent = m_parentWindow ? m_parentWindow() : nullptr;
    const bool startNew = co_await ask(question, parent, m_openBox);
    if (startNew)
        co_return ListeningSessionStartMode::newSession;
    co_return ListeningSessionStartMode::continuePrevious;
}

QCoro::Task<bool> MessageBoxListeningStartPrompts::askMicrophone()
{
    Question question;
    question.icon = QMessageBox::Warning;
    question.text = m_localization.localized(QStringLiteral("Turn on microphone?"));
    question.informativeText = m_localization.localized(
        QStringLiteral("Without the microphone, КАВРЕЛ will not capture what you say."));
    question.firstButton = m_localization.localized(QStringLiteral("Turn On Microphone"));
    question.secondButton = m_localization.localized(QStringLiteral("Continue Without Mic"));
    QWidget *parent = m_parentWindow ? m_parentWindow() : nullptr;
    const bool turnOn = co_await ask(question, parent, m_openBox);
    co_return turnOn;
}

void MessageBoxListeningStartPrompts::raiseOpenQuestion()
{
    QMessageBox *box = m_openBox->data();
    if (!box || !box->isVisible())
        return;
    if (QWidget *window = box->parentWidget())
        window->activateWindow();
    box->raise();
    box->activateWindow();
}
