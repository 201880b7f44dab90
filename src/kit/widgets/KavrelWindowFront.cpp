#include "kit/widgets/KavrelWindowFront.h"

#include "kit/widgets/KavrelArrivalFocus.h"
#include "kit/widgets/KavrelKeyBurstGuard.h"
#include "platform/X11WindowHints.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace KavrelWindowFront {

namespace {

constexpr char returnWatchName[] = "KavrelWindowFront.returnWatch";
constexpr char awayName[] = "KavrelWindowFront.awayWithItsWindow";
constexpr char questionKeeperName[] = "KavrelWindowFront.questionKeeper";
constexpr char minimizedName[] = "KavrelWindowFront.minimizedByRequest";
constexpr char minimizingFollowedName[] = "KavrelWindowFront.minimizingFollowed";

bool isQuestion(const QWidget *widget)
{
    return widget->windowModality() != Qt::NonModal && widget->parentWidget();
}

// A question that left the screen with its window and waits for it to come back.
bool isAway(const QWidget *widget)
{
    return widget->property(awayName).toBool();
}

// The questions open over the window: its modal dialogs on the screen, or away with it. The
// mini window is brought forward several times a second; the program's windows are few where
// the widgets inside a window are many, and a dialog that has been on the screen has a window
// of the windowing system (hiding keeps it).
QList<QWidget *> openQuestions(QWidget *window)
{
    QList<QWidget *> questions;
    const QList<QWindow *> windows = QGuiApplication::topLevelWindows();
    for (QWindow *handle : windows) {
        if (!handle->handle())
            continue;
        QWidget *widget = QWidget::find(handle->winId());
        if (!widget || widget == window || !(widget->isVisible() || isAway(widget)))
            continue;
        if (isQuestion(widget) && widget->parentWidget()->window() == window)
            questions.append(widget);
    }
    return questions;
}

// Maps a hidden window so that the window manager leaves the keyboard where it is (on X11 its
// user time is 0). The platform reads the request as the window is mapped; later maps on the
// user's behalf activate as usual.
void showWithoutActivating(QWidget *window)
{
    if (window->isVisible() || window->testAttribute(Qt::WA_ShowWithoutActivating)) {
        window->show();
        return;
    }
    window->winId(); // the platform window the request is made on
    QWindow *handle = window->windowHandle();
    const char *property = "_q_showWithoutActivating";
    if (handle)
        handle->setProperty(property, true);
    window->show();
    if (handle)
        handle->setProperty(property, QVariant());
}

// Shows a question that was away with its window again; shown on the program's own account, it
// leaves the keyboard where it is.
void showAgain(QWidget *question, Focus focus)
{
    question->setProperty(awayName, QVariant());
    if (focus == Focus::leave)
        showWithoutActivating(question);
    else
        question->show();
}

void putInFront(QWidget *question, Focus focus)
{
    if (isAway(question))
        showAgain(question, focus);
    question->raise();
    if (focus == Focus::take)
        question->activateWindow();
}

// Puts the questions open over one window in front of it. Of several (a sheet, and a question
// asked over it from elsewhere) the one the others wait for, the modal window shown last, ends
// on top and alone takes the keyboard: handed the keyboard in turn, each would take it from the
// other, and every change of the keyboard between them brings the window's activation back here.
void putInFront(const QList<QWidget *> &questions, Focus focus)
{
    if (questions.isEmpty())
        return;
    if (questions.size() > 1) {
        for (QWidget *question : questions) {
            if (isAway(question))
                showAgain(question, Focus::leave);
        }
    }
    QWidget *front = QApplication::activeModalWidget();
    if (!questions.contains(front))
        front = questions.last();
    for (QWidget *question : questions) {
        if (question != front)
            putInFront(question, Focus::leave);
    }
    putInFront(front, focus);
}

// A question shown while its window was off the screen, or left there while the window was
// away, is to the window manager a window of its own: it stacks the returning window above it
// and gives that the focus. Named again as the window's own once the window is back, the
// question is kept in front of it, and the window manager focuses it in the window's place.
void attachTo(const QList<QWidget *> &questions, QWidget *window, Focus focus)
{
    for (QWidget *question : questions) {
        if (QWindow *handle = question->windowHandle())
            handle->setTransientParent(window->windowHandle());
        X11WindowHints::setTransientFor(quint32(question->winId()), quint32(window->winId()));
    }
    putInFront(questions, focus);
}

// Watches a window on its way back to the screen and, once it is there, attaches its open
// questions to it again.
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
                if (m_window && m_window->isVisible())
                    attachTo(openQuestions(m_window), m_window, m_focus);
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

// While a question is open over the window, the window passes the keyboard on to it whenever it
// becomes active: the window manager may focus a returning window after the question was put in
// front of it (its own focus request and the program's cross), and a click on the window finds
// the question waiting, as a sheet does. Only the window's own activation counts: Qt counts the
// window active, and tells it so, while one of its questions has the keyboard too.
class QuestionKeeper final : public QObject
{
public:
    explicit QuestionKeeper(QWidget *window) : QObject(window), m_window(window)
    {
        setObjectName(QString::fromLatin1(questionKeeperName));
        window->installEventFilter(this);
    }

    static void keep(QWidget *window)
    {
        if (!window->findChild<QObject *>(QString::fromLatin1(questionKeeperName), Qt::FindDirectChildrenOnly))
            new QuestionKeeper(window);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // A minimized window that is active again is back on the screen (rememberMinimizing).
        if (watched == m_window && event->type() == QEvent::WindowActivate)
            m_window->setProperty(minimizedName, QVariant());
        if (watched == m_window && event->type() == QEvent::WindowActivate && !m_pending) {
            m_pending = true;
            // After the activation has settled in the window.
            QMetaObject::invokeMethod(this, [this] {
                m_pending = false;
                if (m_window && m_window->windowHandle() && QGuiApplication::focusWindow() == m_window->windowHandle()) {
                    QList<QWidget *> questions = openQuestions(m_window);
                    questions.removeIf([](QWidget *question) { return !question->isVisible(); });
                    putInFront(questions, Focus::take);
                }
            }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget *m_window;
    bool m_pending = false;
};

// Under Wayland the compositor never says whether a window is minimized, and Qt forgets a
// request at once: the platform reports the window's states back without it. A request from the
// window's own title bar (Qt draws it there) reaches the window of the windowing system and never
// the widget. The request is remembered on the widget until the window is active again.
void rememberMinimizing(QWidget *window)
{
    QWindow *handle = window->windowHandle();
    if (!handle || handle->property(minimizingFollowedName).toBool())
        return;
    handle->setProperty(minimizingFollowedName, true);
    QObject::connect(handle, &QWindow::windowStateChanged, window, [window](Qt::WindowState state) {
        if (state == Qt::WindowMinimized)
            window->setProperty(minimizedName, true);
    });
}

} // namespace

void sendAway(QWidget *window)
{
    if (!window)
        return;
    const auto goesWithItsWindow = [](QWidget *question) {
        question->setProperty(awayName, true);
        question->hide();
    };
    if (window->isVisible() && isQuestion(window)) {
        goesWithItsWindow(window);
        return;
    }
    for (QWidget *question : openQuestions(window))
        goesWithItsWindow(question);
    window->hide();
}

bool isMinimized(const QWidget *window)
{
    return window
           && (window->isMinimized() || (!X11WindowHints::isX11() && window->property(minimizedName).toBool()));
}

void bringForward(QWidget *window, Focus focus)
{
    if (!window)
        return;
    const bool minimized = isMinimized(window);
    // Shown by the program on its own, a window the user minimized stays so: the window manager
    // would focus it on its way back.
    if (focus == Focus::leave && minimized)
        return;
    QuestionKeeper::keep(window);
    // Only an X11 window manager gives a minimized window back at the program's request; under
    // Wayland the compositor alone does, and a window shown again after hiding is a new one to
    // it, in its normal state.
    const bool showsAfresh = focus == Focus::take && minimized && !X11WindowHints::isX11();
    if (showsAfresh) {
        sendAway(window);
        window->setProperty(minimizedName, QVariant());
    }
    const bool wasOnScreen = window->isVisible() && window->windowHandle() && window->windowHandle()->isExposed();
    if (focus == Focus::take) {
        // Before the window can take a key: the one that asked for it may come again.
        KavrelArrivalFocus::land(window);
        if (minimized)
            window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        KavrelKeyBurstGuard::noteActivationAsked(window->windowHandle());
        window->activateWindow();
        // Hidden a moment ago, the window stopped being the widgets' active one at once, but Qt
        // waits a while for the keyboard to come back before it lets the window itself go: shown
        // within that while, it is still Qt's focus window, the window manager's activation
        // changes nothing Qt would pass on, and the widgets would stay inactive, with no keyboard
        // focus, until the user moves the keyboard elsewhere and back. Should the window manager
        // not give the window the keyboard after all, Qt's wait ends and it lets both go.
        if (QGuiApplication::focusWindow() == window->windowHandle() && QApplication::activeWindow() != window)
            QApplication::setActiveWindow(window);
    } else {
        showWithoutActivating(window);
        window->raise();
    }
    rememberMinimizing(window);
    if (wasOnScreen) {
        putInFront(openQuestions(window), focus);
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
