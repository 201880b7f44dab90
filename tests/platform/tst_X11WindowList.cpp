// The window list against a real X server with a window manager (Xvfb + openbox under
// scripts/test), with the windows opened by a child process.

#include "support/TestChildProcess.h"
#include "platform/X11WindowList.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

class tst_X11WindowList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void seesTheChildsWindowsFrontToBack();
    void leavesOutHiddenAndOtherDesktopWindows();
    void scalesToDeviceIndependentPixels();
    void reportsTheActiveWindowsOwner();
    void followingChangesReadsAgainOnlyAfterOne();
    void unreadableWithoutAnXServerOrUnderWayland();

private:
    const X11Window *find(const X11WindowListSnapshot &snapshot, const QString &title) const;
    X11WindowListSnapshot readUntilShown(X11WindowList &list, const QString &title);

    std::unique_ptr<QProcess> m_child;
};

void tst_X11WindowList::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("KAVREL_TEST_X11"))
        QSKIP("KAVREL_TEST_X11 is not set: run under scripts/test to get a private X server with a window manager");
    m_child = TestChildProcess::start(QStringLiteral("x11-windows"),
                                      {QStringLiteral("Zoom Meeting|400|300|opacity=0.5"),
                                       QStringLiteral("Narrow Zoom Meeting|359|300|"),
                                       QStringLiteral("Zoom Tool|400|300|above-utility"),
                                       QStringLiteral("Minimised Zoom Meeting|400|300|minimised"),
                                       QStringLiteral("Elsewhere Zoom Meeting|400|300|desktop=1")});
    QVERIFY(m_child);
}

void tst_X11WindowList::cleanupTestCase()
{
    if (m_child)
        TestChildProcess::finish(*m_child);
}

const X11Window *tst_X11WindowList::find(const X11WindowListSnapshot &snapshot, const QString &title) const
{
    // Parallel tests may show windows of the same title: only the child's count.
    for (const X11Window &window : snapshot.windows) {
        if (window.title == title && window.processId == m_child->processId())
            return &window;
    }
    return nullptr;
}

// The window manager takes the new windows in a moment after they are mapped.
X11WindowListSnapshot tst_X11WindowList::readUntilShown(X11WindowList &list, const QString &title)
{
    QDeadlineTimer deadline(20000);
    std::optional<X11WindowListSnapshot> snapshot;
    while (!deadline.hasExpired()) {
        snapshot = list.read();
        // The windows mapped with it are taken in the same moment; wait for those shown too.
        if (snapshot && find(*snapshot, title) && find(*snapshot, title)->frameExtents.top() > 0
            && find(*snapshot, QStringLiteral("Narrow Zoom Meeting")) && find(*snapshot, QStringLiteral("Zoom Tool")))
            break;
        QThread::msleep(20);
    }
    return snapshot.value_or(X11WindowListSnapshot{});
}

void tst_X11WindowList::seesTheChildsWindowsFrontToBack()
{
    X11WindowList list;
    const auto snapshot = readUntilShown(list, QStringLiteral("Zoom Meeting"));
    const qint64 childPid = m_child->processId();

    const X11Window *meeting = find(snapshot, QStringLiteral("Zoom Meeting"));
    QVERIFY(meeting);
    QCOMPARE(meeting->processId, std::optional<qint64>(childPid));
    QCOMPARE(meeting->bounds.size(), QSizeF(400, 300));
    QCOMPARE(meeting->layer, X11Window::normalLayer);
    QCOMPARE(meeting->instanceName, QStringLiteral("zoom"));
    QCOMPARE(meeting->className, QStringLiteral("Zoom"));
    QVERIFY(qAbs(meeting->alpha - 0.5) < 0.001);
    // Client area in root coordinates inside the frame the window manager drew around it.
    QVERIFY(QRectF(0, 0, 1600, 1000).contains(meeting->bounds));
    QVERIFY(meeting->frameExtents.top() > 0);
    QVERIFY(meeting->frameBounds().contains(meeting->bounds));

    const X11Window *narrow = find(snapshot, QStringLiteral("Narrow Zoom Meeting"));
    QVERIFY(narrow);
    QCOMPARE(narrow->bounds.width(), 359.0);
    QCOMPARE(narrow->alpha, 1.0);

    // The stays-on-top tool window floats, and is listed before (in front of) normal windows.
    const X11Window *tool = find(snapshot, QStringLiteral("Zoom Tool"));
    QVERIFY(tool);
    QCOMPARE(tool->layer, X11Window::floatingLayer);
    QVERIFY(tool < meeting && tool < narrow);
}

// How many windows of the process the window manager manages (_NET_CLIENT_LIST), hidden or not.
static int managedWindowsOf(qint64 pid)
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    const auto atom = [c](const char *name) {
        xcb_intern_atom_reply_t *reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : XCB_NONE;
        std::free(reply);
        return value;
    };
    const auto cardinals = [c](xcb_window_t window, xcb_atom_t property) {
        xcb_get_property_reply_t *reply =
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, XCB_ATOM_ANY, 0, 1024), nullptr);
        std::vector<quint32> values;
        if (reply && reply->format == 32) {
            const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply));
            values.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
        return values;
    };
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t pidAtom = atom("_NET_WM_PID");
    int count = 0;
    for (const quint32 window : cardinals(root, atom("_NET_CLIENT_LIST"))) {
        const auto owner = cardinals(window, pidAtom);
        if (!owner.empty() && owner.front() == quint32(pid))
            ++count;
    }
    xcb_disconnect(c);
    return count;
}

void tst_X11WindowList::leavesOutHiddenAndOtherDesktopWindows()
{
    // All five are managed by now, the hidden ones too.
    QTRY_COMPARE_WITH_TIMEOUT(managedWindowsOf(m_child->processId()), 5, 20000);
    X11WindowList list;
    const auto snapshot = readUntilShown(list, QStringLiteral("Zoom Meeting"));
    QVERIFY(find(snapshot, QStringLiteral("Zoom Meeting")));
    QVERIFY(!find(snapshot, QStringLiteral("Minimised Zoom Meeting")));
    QVERIFY(!find(snapshot, QStringLiteral("Elsewhere Zoom Meeting")));
}

void tst_X11WindowList::scalesToDeviceIndependentPixels()
{
    X11WindowList physical;
    X11WindowList scaled({}, 2.0);
    const auto one = readUntilShown(physical, QStringLiteral("Zoom Meeting"));
    const auto two = readUntilShown(scaled, QStringLiteral("Zoom Meeting"));
    const X11Window *a = find(one, QStringLiteral("Zoom Meeting"));
    const X11Window *b = find(two, QStringLiteral("Zoom Meeting"));
    QVERIFY(a && b);
    QCOMPARE(b->bounds, QRectF(a->bounds.x() / 2, a->bounds.y() / 2, 200, 150));
    QCOMPARE(b->frameExtents.top(), a->frameExtents.top() / 2);
}

void tst_X11WindowList::reportsTheActiveWindowsOwner()
{
    X11WindowList list;
    const auto snapshot = readUntilShown(list, QStringLiteral("Zoom Meeting"));
    const X11Window *meeting = find(snapshot, QStringLiteral("Zoom Meeting"));
    QVERIFY(meeting);

    // Ask the window manager, as a pager would, to activate the meeting window.
    int screenNumber = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screenNumber);
    QVERIFY(!xcb_connection_has_error(c));
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    static constexpr char name[] = "_NET_ACTIVE_WINDOW";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
    QVERIFY(atom);
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = meeting->id;
    event.type = atom->atom;
    event.data.data32[0] = 2; // from a pager
    event.data.data32[1] = XCB_CURRENT_TIME;
    std::free(atom);
    xcb_send_event(c, 0, screens.data->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(c);
    xcb_disconnect(c);

    const qint64 childPid = m_child->processId();
    QDeadlineTimer deadline(20000);
    std::optional<qint64> active;
    while (!deadline.hasExpired() && active != childPid) {
        if (const auto now = list.read())
            active = now->activeWindowProcessId;
        QThread::msleep(20);
    }
    QCOMPARE(active, std::optional<qint64>(childPid));
}

// A client connection of the test's own, as another application (or the user) changing windows.
struct TestConnection
{
    TestConnection() : c(xcb_connect(nullptr, nullptr)) {}
    ~TestConnection() { xcb_disconnect(c); }
    xcb_atom_t atom(const char *name) const
    {
        xcb_intern_atom_reply_t *reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : XCB_NONE;
        std::free(reply);
        return value;
    }
    void setTitle(xcb_window_t window, const QByteArray &title) const
    {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8,
                            quint32(title.size()), title.constData());
        xcb_flush(c);
    }
    xcb_connection_t *c;
};

void tst_X11WindowList::followingChangesReadsAgainOnlyAfterOne()
{
    X11WindowList list;
    list.setFollowsChanges(true);
    const auto first = readUntilShown(list, QStringLiteral("Zoom Meeting"));
    const X11Window *meeting = find(first, QStringLiteral("Zoom Meeting"));
    QVERIFY(meeting);
    const xcb_window_t meetingId = meeting->id;
    const QPointF meetingAt = meeting->bounds.topLeft();

    // Nothing of ours changes: the list read last is answered. (Tests running beside this one
    // may open windows of their own meanwhile, hence the few whole reads allowed.)
    const int wholeReads = list.wholeReadCount();
    for (int i = 0; i < 50; ++i)
        QVERIFY(list.read().has_value());
    QVERIFY2(list.wholeReadCount() - wholeReads <= 3, qPrintable(QString::number(list.wholeReadCount() - wholeReads)));
    QTRY_VERIFY_WITH_TIMEOUT((list.read(), list.isCurrent()), 5000);

    // A property read here, set on a listed window, and a window moved by the window manager
    // each show in a read after the server has reported them.
    TestConnection other;
    other.setTitle(meetingId, "Renamed Zoom Meeting");
    // Once the report is taken, the list says it is out of date without being read.
    QTRY_VERIFY_WITH_TIMEOUT((list.takeChanges(), !list.isCurrent()), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(list.read() && find(*list.read(), QStringLiteral("Renamed Zoom Meeting")), 5000);
    const quint32 place[] = {quint32(meetingAt.x()) + 37, quint32(meetingAt.y()) + 23};
    xcb_configure_window(other.c, meetingId, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, place);
    xcb_flush(other.c);
    const auto moved = [&] {
        const auto now = list.read();
        const X11Window *window = now ? find(*now, QStringLiteral("Renamed Zoom Meeting")) : nullptr;
        return window && window->bounds.topLeft() != meetingAt;
    };
    QTRY_VERIFY_WITH_TIMEOUT(moved(), 5000);

    other.setTitle(meetingId, "Zoom Meeting");
    QTRY_VERIFY_WITH_TIMEOUT(list.read() && find(*list.read(), QStringLiteral("Zoom Meeting")), 5000);
}

void tst_X11WindowList::unreadableWithoutAnXServerOrUnderWayland()
{
    // No server at that display: unreadable, not an empty list.
    X11WindowList missing(QByteArrayLiteral(":4999"));
    QCOMPARE(missing.read().has_value(), false);

    const QByteArray previous = qgetenv("WAYLAND_DISPLAY");
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    X11WindowList underWayland;
    const bool readable = underWayland.read().has_value();
    if (previous.isEmpty())
        qunsetenv("WAYLAND_DISPLAY");
    else
        qputenv("WAYLAND_DISPLAY", previous);
    QCOMPARE(readable, false);

    // The working server again, for contrast.
    X11WindowList present;
    QVERIFY(present.read().has_value());
}

KAVREL_TEST_MAIN_WITH_CHILDREN(tst_X11WindowList, QCoreApplication)
#include "tst_X11WindowList.moc"
