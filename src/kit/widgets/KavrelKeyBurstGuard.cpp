#include "kit/widgets/KavrelKeyBurstGuard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>

#include <atomic>
#include <csignal>
#include <ctime>

namespace {

// How long the window manager may take to activate a window the program showed or asked for,
// on a busy machine.
constexpr std::chrono::milliseconds expectedWithin{10000};

// Keys that press the control holding the keyboard (KavrelButtonKeys, QDialog's default button).
bool pressesAControl(const QKeyEvent *event)
{
    if (event->modifiers() & ~Qt::KeypadModifier)
        return false;
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Select:
        return true;
    default:
        return false;
    }
}

bool takesText(const QWidget *widget)
{
    return widget && widget->testAttribute(Qt::WA_InputMethodEnabled);
}

// What the control does, as its user is told: a start that turned into a stop is another control.
QString meaningOf(const QWidget *widget)
{
    if (!widget)
        return {};
    if (!widget->accessibleName().isEmpty())
        return widget->accessibleName();
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    return {};
}

// Milliseconds of the monotonic clock; safe in a signal handler.
qint64 monotonicMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// When the process was last continued after a stop (monotonicMs()); 0 once a key has looked at
// it. Written by the signal handler.
std::atomic<qint64> continuedAt{0};
static_assert(std::atomic<qint64>::is_always_lock_free);

void noteContinued(int)
{
    continuedAt.store(monotonicMs(), std::memory_order_relaxed);
}

// The handler only takes the time: a continued process goes on as it would without it.
void watchContinues()
{
    struct sigaction current{};
    if (::sigaction(SIGCONT, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
        return;
    struct sigaction action{};
    action.sa_handler = noteContinued;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGCONT, &action, nullptr);
}

// Whether the process was continued within the burst gap; each continue answers once.
bool justContinued(std::chrono::milliseconds gap)
{
    const qint64 at = continuedAt.exchange(0, std::memory_order_relaxed);
    return at != 0 && monotonicMs() - at < gap.count();
}

} // namespace

KavrelKeyBurstGuard::KavrelKeyBurstGuard(QObject *parent) : QObject(parent)
{
    m_ownWindowActive = QGuiApplication::focusWindow() != nullptr;
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &KavrelKeyBurstGuard::arrive);
    qApp->installEventFilter(this);
}

KavrelKeyBurstGuard *KavrelKeyBurstGuard::instance()
{
    return qApp ? qApp->findChild<KavrelKeyBurstGuard *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

void KavrelKeyBurstGuard::install()
{
    if (qApp && !instance()) {
        new KavrelKeyBurstGuard(qApp);
        watchContinues();
    }
}

void KavrelKeyBurstGuard::noteActivationAsked(QWindow *window)
{
    if (KavrelKeyBurstGuard *guard = instance())
        guard->expect(window);
}

void KavrelKeyBurstGuard::expect(QWindow *window)
{
    // A window active already is not waiting for the window manager.
    if (!window || window == QGuiApplication::focusWindow())
        return;
    Expected expected{window, {}, {}};
    expected.since.start();
    m_expected.append(expected);
}

void KavrelKeyBurstGuard::arrive(QWindow *window)
{
    const bool fromElsewhere = window && !m_ownWindowActive;
    m_ownWindowActive = window != nullptr;
    m_expected.removeIf([](const Expected &entry) {
        return !entry.window || entry.since.elapsed() >= expectedWithin.count()
               || (entry.activated.isValid() && entry.activated.elapsed() >= burstGap.count());
    });
    bool expected = false;
    for (Expected &entry : m_expected) {
        if (entry.window != window)
            continue;
        expected = true;
        if (!entry.activated.isValid())
            entry.activated.start();
    }
    if (!fromElsewhere || expected)
        return;
    // The keyboard came from another program that went away: its last key may come again, here.
    beginArrival();
}

void KavrelKeyBurstGuard::beginArrival()
{
    m_key = 0;
    m_target = nullptr;
    m_meaning.clear();
    m_fromArrival = true;
    m_lastPress.start();
}

void KavrelKeyBurstGuard::endBurst()
{
    m_lastPress.invalidate();
    m_key = 0;
    m_target = nullptr;
    m_meaning.clear();
    m_fromArrival = false;
}

bool KavrelKeyBurstGuard::holdsBack(const QKeyEvent *event)
{
    QWidget *target = QApplication::focusWidget();
    const int key = event->key();
    if (event->type() == QEvent::KeyRelease) {
        if (m_heldBack.contains(key)) {
            if (!event->isAutoRepeat())
                m_heldBack.remove(key);
            return true;
        }
        // A press begun on the control before it turned into another ends without a click.
        auto *button = qobject_cast<QAbstractButton *>(target);
        if (button && button->isDown() && key == m_key && target == m_target && meaningOf(target) != m_meaning) {
            button->setDown(false);
            return true;
        }
        return false;
    }

    if (justContinued(burstGap))
        beginArrival();
    if (!pressesAControl(event) || (key == Qt::Key_Space && takesText(target))) {
        if (!event->isAutoRepeat())
            endBurst();
        return false;
    }
    const QString meaning = meaningOf(target);
    const bool inBurst = m_lastPress.isValid() && m_lastPress.elapsed() < burstGap.count();
    bool holdBack = false;
    if (inBurst && m_fromArrival && (m_key == 0 || m_key == key)) {
        holdBack = true;
        m_key = key;
    } else if (inBurst && key == m_key) {
        holdBack = target != m_target || meaning != m_meaning;
    } else {
        m_key = key;
        m_target = target;
        m_meaning = meaning;
        m_fromArrival = false;
    }
    m_lastPress.start();
    // A release that went to another program leaves its key here: the next press is a new one.
    if (holdBack)
        m_heldBack.insert(key);
    else if (!event->isAutoRepeat())
        m_heldBack.remove(key);
    return holdBack;
}

bool KavrelKeyBurstGuard::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        // Once for each key of the windowing system, at the window, before a widget sees it.
        if (watched->isWindowType() && event->spontaneous())
            return holdsBack(static_cast<QKeyEvent *>(event));
        return false;
    case QEvent::Show:
        if (watched->isWindowType())
            expect(static_cast<QWindow *>(watched));
        return false;
    case QEvent::MouseButtonPress:
        if (watched->isWindowType() && event->spontaneous())
            endBurst();
        return false;
    case QEvent::FocusIn:
        // The user moved the keyboard on purpose.
        switch (static_cast<QFocusEvent *>(event)->reason()) {
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::MouseFocusReason:
            if (watched->isWidgetType())
                endBurst();
            break;
        default:
            break;
        }
        return false;
    default:
        return false;
    }
}
