#include "TestChildProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPoint>

#include <functional>

#include <pulse/pulseaudio.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr char childFlag[] = "--kavrel-test-child";

void announce(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

void waitForEndOfInput(const std::function<void(const std::string &)> &onLine = {})
{
    std::string line;
    while (std::getline(std::cin, line)) {
        if (onLine)
            onLine(line);
    }
}

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const auto cookie = xcb_intern_atom(connection, 0, quint16(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t value = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return value;
}

void setCardinals(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type,
                  std::initializer_list<quint32> values)
{
    std::vector<quint32> data(values);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, type, 32, quint32(data.size()), data.data());
}

// Waits until the window manager manages the window (it sets WM_STATE), then asks it to make the
// window active as a taskbar does for a user's click: a window mapped while another has the
// keyboard does not always get it.
void activateOnceManaged(xcb_connection_t *c, xcb_window_t root, xcb_window_t window)
{
    const xcb_atom_t wmState = atom(c, "WM_STATE");
    QDeadlineTimer deadline(5000);
    for (;;) {
        xcb_get_property_reply_t *reply =
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, wmState, wmState, 0, 2), nullptr);
        const bool managed = reply && xcb_get_property_value_length(reply) > 0;
        std::free(reply);
        if (managed || deadline.hasExpired())
            break;
        usleep(10000);
    }
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(c, "_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 2; // from a pager: the user's own choice
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(c);
}

int runX11Windows(const QStringList &descriptions)
{
    int screenNumber = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c))
        return 2;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    xcb_screen_t *screen = screens.data;

    const xcb_atom_t netWmName = atom(c, "_NET_WM_NAME");
    const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
    const xcb_atom_t netWmPid = atom(c, "_NET_WM_PID");
    const xcb_atom_t windowType = atom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t utilityType = atom(c, "_NET_WM_WINDOW_TYPE_UTILITY");
    const xcb_atom_t netWmState = atom(c, "_NET_WM_STATE");
    const xcb_atom_t stateAbove = atom(c, "_NET_WM_STATE_ABOVE");
    const xcb_atom_t netWmDesktop = atom(c, "_NET_WM_DESKTOP");
    const xcb_atom_t opacityAtom = atom(c, "_NET_WM_WINDOW_OPACITY");
    const xcb_atom_t wmHints = atom(c, "WM_HINTS");
    std::vector<xcb_window_t> toActivate;

    for (const QString &description : descriptions) {
        const QStringList parts = description.split(QLatin1Char('|'));
        const QByteArray title = parts.value(0).toUtf8();
        const int width = parts.value(1).toInt();
        const int height = parts.value(2).toInt();
        const QStringList flags = parts.value(3).split(QLatin1Char(','), Qt::SkipEmptyParts);
        quint32 topStrut = 0;
        quint32 bottomStrut = 0;
        quint32 leftStrut = 0;
        quint32 rightStrut = 0;
        QPoint at(40, 40);
        bool placed = false;
        for (const QString &flag : flags) {
            if (flag.startsWith(QLatin1String("at="))) {
                const QStringList place = flag.mid(3).split(QLatin1Char(','));
                at = QPoint(place.value(0).toInt(), place.value(1).toInt());
                placed = true;
            }
        }

        const xcb_window_t window = xcb_generate_id(c);
        const quint32 values[] = {screen->white_pixel};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, qint16(at.x()), qint16(at.y()), quint16(width),
                          quint16(height), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, values);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, netWmName, utf8, 8, quint32(title.size()), title.constData());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            quint32(title.size()), title.constData());
        static constexpr char wmClass[] = "zoom\0Zoom";
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof wmClass,
                            wmClass);
        setCardinals(c, window, netWmPid, XCB_ATOM_CARDINAL, {quint32(getpid())});
        if (placed) {
            // WM_NORMAL_HINTS with a position and size the user chose (USPosition, USSize), which
            // the window manager keeps instead of placing the window itself.
            setCardinals(c, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS,
                         {3u, quint32(at.x()), quint32(at.y()), quint32(width), quint32(height), 0u, 0u, 0u, 0u, 0u,
                          0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u});
        }
        for (const QString &flag : flags) {
            if (flag == QLatin1String("above-utility")) {
                setCardinals(c, window, windowType, XCB_ATOM_ATOM, {utilityType});
                setCardinals(c, window, netWmState, XCB_ATOM_ATOM, {stateAbove});
            } else if (flag == QLatin1String("minimised")) {
                // WM_HINTS with the initial state iconic (flags StateHint, state IconicState).
                setCardinals(c, window, wmHints, wmHints, {2u, 0u, 3u, 0u, 0u, 0u, 0u, 0u, 0u});
            } else if (flag.startsWith(QLatin1String("desktop="))) {
                setCardinals(c, window, netWmDesktop, XCB_ATOM_CARDINAL, {flag.mid(8).toUInt()});
            } else if (flag.startsWith(QLatin1String("strut-bottom="))) {
                bottomStrut = flag.mid(13).toUInt();
            } else if (flag.startsWith(QLatin1String("strut-top="))) {
                topStrut = flag.mid(10).toUInt();
            } else if (flag.startsWith(QLatin1String("strut-left="))) {
                leftStrut = flag.mid(11).toUInt();
            } else if (flag.startsWith(QLatin1String("strut-right="))) {
                rightStrut = flag.mid(12).toUInt();
            } else if (flag.startsWith(QLatin1String("opacity="))) {
                setCardinals(c, window, opacityAtom, XCB_ATOM_CARDINAL,
                             {quint32(flag.mid(8).toDouble() * double(0xFFFFFFFFu))});
            } else if (flag == QLatin1String("activate")) {
                toActivate.push_back(window);
            }
        }
        if (topStrut || bottomStrut || leftStrut || rightStrut) {
            // A panel along the edge: the window manager takes its extent off the screen's free
            // area (_NET_WORKAREA) while it is mapped, up to half the screen an edge.
            const quint32 right = quint32(screen->width_in_pixels - 1);
            const quint32 bottom = quint32(screen->height_in_pixels - 1);
            setCardinals(c, window, windowType, XCB_ATOM_ATOM, {atom(c, "_NET_WM_WINDOW_TYPE_DOCK")});
            setCardinals(c, window, atom(c, "_NET_WM_STRUT"), XCB_ATOM_CARDINAL,
                         {leftStrut, rightStrut, topStrut, bottomStrut});
            setCardinals(c, window, atom(c, "_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL,
                         {leftStrut, rightStrut, topStrut, bottomStrut, 0u, leftStrut ? bottom : 0u, 0u,
                          rightStrut ? bottom : 0u, 0u, topStrut ? right : 0u, 0u, bottomStrut ? right : 0u});
        }
        xcb_map_window(c, window);
    }
    xcb_flush(c);
    for (const xcb_window_t window : toActivate)
        activateOnceManaged(c, screen->root, window);
    announce("ready");
    waitForEndOfInput();
    xcb_disconnect(c);
    return 0;
}

struct Player
{
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;
};

int runPulsePlayer()
{
    Player player;
    player.loop = pa_threaded_mainloop_new();
    pa_threaded_mainloop_start(player.loop);
    pa_threaded_mainloop_lock(player.loop);
    player.context = pa_context_new(pa_threaded_mainloop_get_api(player.loop), "kavrel-test-player");
    pa_context_set_state_callback(player.context, [](pa_context *, void *loop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(loop), 0);
    }, player.loop);
    pa_context_connect(player.context, nullptr, PA_CONTEXT_NOFLAGS, nullptr);
    while (pa_context_get_state(player.context) != PA_CONTEXT_READY) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(player.context))) {
            pa_threaded_mainloop_unlock(player.loop);
            return 2;
        }
        pa_threaded_mainloop_wait(player.loop);
    }
    const pa_sample_spec format{PA_SAMPLE_S16LE, 16000, 1};
    player.stream = pa_stream_new(player.context, "kavrel test playback", &format, nullptr);
    pa_stream_set_state_callback(player.stream, [](pa_stream *, void *loop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(loop), 0);
    }, player.loop);
    pa_stream_set_write_callback(player.stream, [](pa_stream *stream, size_t bytes, void *) {
        std::vector<char> silence(bytes, 0);
        pa_stream_write(stream, silence.data(), silence.size(), nullptr, 0, PA_SEEK_RELATIVE);
    }, nullptr);
    pa_stream_connect_playback(player.stream, nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr, nullptr);
    while (pa_stream_get_state(player.stream) != PA_STREAM_READY) {
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(player.stream))) {
            pa_threaded_mainloop_unlock(player.loop);
            return 3;
        }
        pa_threaded_mainloop_wait(player.loop);
    }
    pa_threaded_mainloop_unlock(player.loop);
    announce("ready");

    waitForEndOfInput([&player](const std::string &line) {
        const bool cork = line == "cork";
        if (!cork && line != "uncork")
            return;
        pa_threaded_mainloop_lock(player.loop);
        bool done = false;
        struct Wait { pa_threaded_mainloop *loop; bool *done; } wait{player.loop, &done};
        pa_operation *operation = pa_stream_cork(player.stream, cork ? 1 : 0, [](pa_stream *, int, void *data) {
            auto *w = static_cast<Wait *>(data);
            *w->done = true;
            pa_threaded_mainloop_signal(w->loop, 0);
        }, &wait);
        while (!done)
            pa_threaded_mainloop_wait(player.loop);
        pa_operation_unref(operation);
        pa_threaded_mainloop_unlock(player.loop);
        announce(cork ? "corked" : "uncorked");
    });

    pa_threaded_mainloop_lock(player.loop);
    pa_stream_disconnect(player.stream);
    pa_stream_unref(player.stream);
    pa_context_disconnect(player.context);
    pa_context_unref(player.context);
    pa_threaded_mainloop_unlock(player.loop);
    pa_threaded_mainloop_stop(player.loop);
    pa_threaded_mainloop_free(player.loop);
    return 0;
}

std::optional<QByteArray> waitForLine(QProcess &child, const std::function<bool(const QByteArray &)> &matches,
                                      int timeoutMilliseconds = 20000)
{
    QDeadlineTimer deadline(timeoutMilliseconds);
    while (!deadline.hasExpired()) {
        while (child.canReadLine()) {
            const QByteArray line = child.readLine().trimmed();
            if (matches(line))
                return line;
        }
        if (child.state() == QProcess::NotRunning)
            return std::nullopt;
        child.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    return std::nullopt;
}

bool waitForLine(QProcess &child, const QByteArray &expected)
{
    return waitForLine(child, [&expected](const QByteArray &line) { return line == expected; }).has_value();
}

} // namespace

namespace TestChildProcess {

std::optional<QStringList> childRole(int argc, char **argv)
{
    if (argc < 3 || std::strcmp(argv[1], childFlag) != 0)
        return std::nullopt;
    QStringList role;
    for (int i = 2; i < argc; ++i)
        role.append(QString::fromLocal8Bit(argv[i]));
    return role;
}

std::optional<QByteArray> readLineStartingWith(QProcess &child, const QByteArray &prefix)
{
    return waitForLine(child, [&prefix](const QByteArray &line) { return line.startsWith(prefix); });
}

std::optional<int> runIfChild(int argc, char **argv)
{
    if (!childRole(argc, argv))
        return std::nullopt;
    const QString role = QString::fromLocal8Bit(argv[2]);
    const QByteArray name = qgetenv("KAVREL_TEST_CHILD_NAME");
    if (!name.isEmpty())
        prctl(PR_SET_NAME, name.constData(), 0, 0, 0);
    QStringList arguments;
    for (int i = 3; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (role == QLatin1String("x11-windows"))
        return runX11Windows(arguments);
    if (role == QLatin1String("pulse-player"))
        return runPulsePlayer();
    return 64;
}

std::unique_ptr<QProcess> start(const QString &role, const QStringList &arguments, const QString &processName,
                                const QStringList &extraEnvironment)
{
    auto child = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("KAVREL_TEST_CHILD_NAME"));
    if (!processName.isEmpty())
        environment.insert(QStringLiteral("KAVREL_TEST_CHILD_NAME"), processName);
    for (const QString &entry : extraEnvironment)
        environment.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    child->setProcessEnvironment(environment);
    child->setProcessChannelMode(QProcess::SeparateChannels);
    child->setReadChannel(QProcess::StandardOutput);
    QStringList all{QString::fromLatin1(childFlag), role};
    all += arguments;
    child->start(QCoreApplication::applicationFilePath(), all);
    if (!child->waitForStarted(10000) || !waitForLine(*child, "ready")) {
        qWarning() << "child" << role << "did not start:" << child->readAllStandardError();
        child->kill();
        child->waitForFinished(5000);
        return nullptr;
    }
    return child;
}

bool command(QProcess &child, const QByteArray &line, const QByteArray &answer)
{
    child.write(line + '\n');
    child.waitForBytesWritten(5000);
    return waitForLine(child, answer);
}

void finish(QProcess &child)
{
    child.closeWriteChannel();
    if (!child.waitForFinished(10000)) {
        child.kill();
        child.waitForFinished(5000);
    }
}

} // namespace TestChildProcess
