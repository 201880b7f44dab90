#include "session/widgets/MessageBoxListeningStartPrompts.h"

#include "app/KavrelLocalizationStore.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <qcoro/qcorosignal.h>

namespace {

struct Question
{
    QMessageBox::Icon icon;
    QString text;
    QString informativeText;
    QString firstButton;
    QString secondButton;
};

// Opens the box and returns whether its first button was chosen.
QCoro::Task<bool> ask(Question question, QWidget *parent)
{
    QPointer<QMessageBox> box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(question.icon);
    box->setText(question.text);
    box->setInformativeText(question.informativeText);
    QPushButton *first = box->addButton(question.firstButton, QMessageBox::AcceptRole);
    box->addButton(question.secondButton, QMessageBox::RejectRole);
    box->setDefaultButton(first);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    if (parent)
        parent->activateWindow();
    box->open();
    box->raise();
    box->activateWindow();
    co_await qCoro(box.data(), &QMessageBox::finished);
    if (!box)
        co_return false;
    const bool chosen = box->clickedButton() == static_cast<QAbstractButton *>(first);
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
    const bool startNew = co_await ask(question, parent);
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
    const bool turnOn = co_await ask(question, parent);
    co_return turnOn;
}
