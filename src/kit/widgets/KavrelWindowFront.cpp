#include "kit/widgets/KavrelWindowFront.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace KavrelWindowFront {

namespace {

constexpr char returnWatchName[] = "KavrelWindowFront.returnWatch";

// The questions open over the window: its modal dialogs on the screen.
QList<QWidget *> openQuestions(QWidget *window)
{
    QList<QWidget *> questions;
    const QList<QWidget *> inside = window->findChildren<QWidget *>();
    for (QWidget *widget : inside) {
        if (widget->isWindow() && widget->isVisible() && widget->windowModality() != Qt::NonModal
            && widget->parentWidget() && widget->parentWidget()->window() == window)
            questions.append(widget);
    }
    return questions;
}

void putInFront(QWidget *question, Focus focus)
{
    question->raise();
    if (focus == Focus::take)
        question->activateWindow();
}

// A question shown while its window was off the screen, or left there while the window was
// away, is to the window manager a window of its own: it stacks the returning window above it
// and gives that the focus. Shown again once the window is back, the question is the window's
// own, which the window manager keeps in front of it and focuses in its place.
void showAgainOver(QWidget *question, QWidget *window, Focus focus)
{
    if (QWindow *handle = question->windowHandle())
        handle->setTransientParent(window->windowHandle());
    const bool quiet = focus == Focus::leave && !question->testAttribute(Qt::WA_ShowWithoutActivating);
    if (quiet)
        question->setAttribute(Qt::WA_ShowWithoutActivating);
    question->hide();
    question->show();
    if (quiet)
        question->setAttribute(Qt::WA_ShowWithoutActivating, false);
    putInFront(question, focus);
}

// Watches a window on its way back to the screen and, once it is there, shows its open
// questions again over it.
class ReturnWatch final : public QObject
{
public:
    ReturnWatch(QWidget *window, Focus focus) : QObject(window->windowHandle()), m_window(window), m_focus(focus)
    {
        setObjectName(QString::fromLatin1(returnWatchName));
        window->windowHandle()->installEventFilter(this);
    }

    // Several ways back may meet; the focus goes along when any of them takes it.
    void alsoFor(Focus focus)
    {
        if (focus == Focus::take)
            m_focus = Focus::take;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed() && !m_done) {
            m_done = true;
            // After the event, when the window is the window manager's.
            QMetaObject::invokeMethod(this, [this] {
                if (m_window && m_window->isVisible()) {
                    for (QWidget *question : openQuestions(m_window))
                        showAgainOver(question, m_window, m_focus);
                }
                deleteLater();
            }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QWidget> m_window;
    Focus m_focus;
    bool m_done = false;
};

} // namespace

void bringForward(QWidget *window, Focus focus)
{
    if (!window)
        return;
    const bool wasOnScreen = window->isVisible() && window->windowHandle() && window->windowHandle()->isExposed();
    if (window->windowState() & Qt::WindowMinimized)
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    if (focus == Focus::take)
        window->activateWindow();
    if (wasOnScreen) {
        for (QWidget *question : openQuestions(window))
            putInFront(question, focus);
        return;
    }
    QWindow *handle = window->windowHandle();
    if (!handle)
        return;
    if (QObject *watch = handle->findChild<QObject *>(QString::fromLatin1(returnWatchName), Qt::FindDirectChildrenOnly))
        static_cast<ReturnWatch *>(watch)->alsoFor(focus);
    else
        new ReturnWatch(window, focus);
}

} // namespace KavrelWindowFront
