// Which application a meeting process belongs to and what it is called, as a Linux desktop
// decides it: the desktop entries of the XDG data directories, a process table laid out like
// /proc, and this process's own windows on the private X server of scripts/test, under X11
// and as an XWayland client.

#include "detection/MeetingSignalScan.h"
#include "platform/ProcessAudioActivity.h"
#include "platform/PulseAudioContext.h"
#include "support/TestChildProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

#include <sys/prctl.h>
#include <unistd.h>

using OptionalMeeting = std::optional<DetectedMeeting>;
using S = MeetingDetectionSource;

namespace {

void writeFile(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(text.toUtf8());
}

QString entry(const QString &lines)
{
    return u"# written by the test\n[Desktop Entry]\nType=Application\n"_qs + lines + u"\n"_qs;
}

// The kernel's name of this process for the length of a test.
class ProcessName
{
public:
    explicit ProcessName(const QByteArray &name)
    {
        prctl(PR_GET_NAME, m_previous, 0, 0, 0);
        prctl(PR_SET_NAME, name.constData(), 0, 0, 0);
    }
    ~ProcessName() { prctl(PR_SET_NAME, m_previous, 0, 0, 0); }

private:
    char m_previous[17] = {};
};

// An environment variable set for the length of a test.
class Environment
{
public:
    Environment(const char *name, const QByteArray &value) : m_name(name), m_previous(qgetenv(name)), m_was(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~Environment()
    {
        if (m_was)
            qputenv(m_name, m_previous);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    QByteArray m_previous;
    bool m_was;
};

// A top-level window of this process, as a meeting application's X11 client opens it.
class OwnWindow
{
public:
    OwnWindow(const QByteArray &instanceName, const QByteArray &className, const QByteArray &title)
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection))
            return;
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_window = xcb_generate_id(m_connection);
        const quint32 background[] = {screen->white_pixel};
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, screen->root, 60, 60, 500, 400, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL, background);
        const QByteArray wmClass = instanceName + '\0' + className + '\0';
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            quint32(wmClass.size()), wmClass.constData());
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, atom("_NET_WM_NAME"), atom("UTF8_STRING"),
                            8, quint32(title.size()), title.constData());
        const quint32 pid = quint32(getpid());
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL,
                            32, 1, &pid);
        xcb_map_window(m_connection, m_window);
        xcb_flush(m_connection);
    }
    ~OwnWindow() { xcb_disconnect(m_connection); }
    bool isOpen() const { return m_window != XCB_NONE; }

private:
    xcb_atom_t atom(const char *name)
    {
        const auto cookie = xcb_intern_atom(m_connection, 0, quint16(qstrlen(name)), name);
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(m_connection, cookie, nullptr);
        const xcb_atom_t value = reply ? reply->atom : XCB_NONE;
        std::free(reply);
        return value;
    }

    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_window = XCB_NONE;
};

// Scans until the meeting found is `expected`, or the time is up, and gives the last meeting found
// of the expected process: the windows of other tests may come and go meanwhile.
OptionalMeeting scanUntil(MeetingSignalScan &scan, const DetectedMeeting &expected, bool includeAudioOutput,
                          int milliseconds = 20000)
{
    QDeadlineTimer deadline(milliseconds);
    OptionalMeeting last;
    while (true) {
        const OptionalMeeting found = scan.detectMeeting(includeAudioOutput);
        if (found && found->processID == expected.processID)
            last = found;
        if (found == expected || deadline.hasExpired())
            return last;
        QTest::qWait(20);
    }
}

} // namespace

class tst_MeetingApplications : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void desktopEntryLookup_data();
    void desktopEntryLookup();
    void entriesFollowInstallsAndRemovals();
    void meetingApplicationsOfAProcessTable();
    void ownWindowNamedByItsDesktopEntry();
    void launcherAndItsClientAreOneMeeting();

private:
    QString path(const QString &relative) const { return m_root.filePath(relative); }
    QStringList applicationDirectories() const
    {
        return {path(u"home/applications"_qs), path(u"system/applications"_qs)};
    }

    QTemporaryDir m_root;
};

// A user's and a system's applications directory, and programs the entries start.
void tst_MeetingApplications::initTestCase()
{
    QVERIFY(m_root.isValid());
    writeFile(path(u"opt/zoom/ZoomLauncher"_qs), u"#!/bin/sh\n"_qs);
    QVERIFY(QDir().mkpath(path(u"bin"_qs)));
    QVERIFY(QFile::link(path(u"opt/zoom/ZoomLauncher"_qs), path(u"bin/zoom"_qs)));
    writeFile(path(u"opt/Webex/bin/CiscoCollabHost"_qs), u"binary"_qs);
    writeFile(path(u"bin/interpreter"_qs), u"binary"_qs);
    writeFile(path(u"bin/python3"_qs), u"binary"_qs);

    const QString home = path(u"home/applications/"_qs);
    const QString system = path(u"system/applications/"_qs);
    writeFile(home + u"Zoom.desktop"_qs,
              entry(u"Name=Zoom\nName[ru]=Зум\nExec=%1 %U"_qs.arg(path(u"bin/zoom"_qs))));
    writeFile(system + u"Zoom.desktop"_qs, entry(u"Name=An older Zoom\nStartupWMClass=OldZoom"_qs));
    writeFile(home + u"webex.desktop"_qs,
              entry(u"Name=Webex\nExec=\"%1\" %U\nStartupWMClass=CiscoCollabHost\n\n[Desktop Action New]\n"
                    "Name=New meeting\nExec=/usr/bin/true"_qs.arg(path(u"opt/Webex/bin/CiscoCollabHost"_qs))));
    writeFile(home + u"teams.desktop"_qs,
              entry(u"Name = Teams\nExec=env GDK_BACKEND=x11 %1 --in-process"_qs.arg(path(u"opt/teams/teams"_qs))));
    writeFile(home + u"obsolete.desktop"_qs, entry(u"Hidden=true"_qs));
    writeFile(system + u"obsolete.desktop"_qs, entry(u"Name=Obsolete\nExec=/opt/obsolete/app\nStartupWMClass=Obsolete"_qs));
    writeFile(home + u"tool-a.desktop"_qs, entry(u"Name=Tool A\nExec=%1 /a.py"_qs.arg(path(u"bin/interpreter"_qs))));
    writeFile(home + u"tool-b.desktop"_qs, entry(u"Name=Tool B\nExec=%1 /b.py"_qs.arg(path(u"bin/interpreter"_qs))));
    writeFile(home + u"script.desktop"_qs, entry(u"Name=Script\nExec=%1 /opt/script/main.py"_qs.arg(path(u"bin/python3"_qs))));
    writeFile(system + u"vendor/meet.desktop"_qs, entry(u"Name=Vendor Meet\nExec=vendor-meet"_qs));
    writeFile(home + u"site.desktop"_qs,
              u"[Desktop Entry]\nType=Link\nName=Site\nURL=https://example.com\nStartupWMClass=Site\n"_qs);
    writeFile(home + u"escaped.desktop"_qs, entry(u"Name=Meet\\sNow\nStartupWMClass=MeetNow"_qs));
    writeFile(home + u"nowhere.desktop"_qs, entry(u"Name=Nowhere\nExec=kavrel-test-no-such-program %U"_qs));
    writeFile(home + u"broken.desktop"_qs, u"Name=No group\n"_qs);
}

void tst_MeetingApplications::desktopEntryLookup_data()
{
    QTest::addColumn<QString>("instanceName");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("executable"); // "@" is the test's directory
    QTest::addColumn<QString>("id");         // empty: no application
    QTest::addColumn<QString>("name");

    QTest::newRow("StartupWMClass is the class") << QString() << u"CiscoCollabHost"_qs << QString() << u"webex"_qs << u"Webex"_qs;
    QTest::newRow("StartupWMClass is the instance") << u"CiscoCollabHost"_qs << u"Other"_qs << QString() << u"webex"_qs << u"Webex"_qs;
    QTest::newRow("class is the id, other case; untranslated name; earlier directory wins")
        << u"zoom"_qs << u"zoom"_qs << QString() << u"Zoom"_qs << u"Zoom"_qs;
    QTest::newRow("a hidden later entry's class") << QString() << u"OldZoom"_qs << QString() << QString() << QString();
    QTest::newRow("hidden entry removes the id") << QString() << u"Obsolete"_qs << u"/opt/obsolete/app"_qs << QString() << QString();
    QTest::newRow("subdirectory gives a dashed id") << u"vendor-meet"_qs << QString() << QString() << u"vendor-meet"_qs << u"Vendor Meet"_qs;
    QTest::newRow("a link is no application") << QString() << u"Site"_qs << QString() << QString() << QString();
    QTest::newRow("escapes undone") << QString() << u"MeetNow"_qs << QString() << u"escaped"_qs << u"Meet Now"_qs;
    QTest::newRow("executable behind a link") << QString() << QString() << u"@/opt/zoom/ZoomLauncher"_qs << u"Zoom"_qs << u"Zoom"_qs;
    QTest::newRow("executable quoted") << QString() << QString() << u"@/opt/Webex/bin/CiscoCollabHost"_qs << u"webex"_qs << u"Webex"_qs;
    QTest::newRow("executable past env, not installed") << QString() << QString() << u"@/opt/teams/teams"_qs << u"teams"_qs << u"Teams"_qs;
    QTest::newRow("a program several entries start names none") << QString() << QString() << u"@/bin/interpreter"_qs << QString() << QString();
    QTest::newRow("an interpreter names no entry") << QString() << QString() << u"@/bin/python3"_qs << QString() << QString();
    QTest::newRow("a program not on PATH matches by name")
        << QString() << QString() << u"/elsewhere/kavrel-test-no-such-program"_qs << u"nowhere"_qs << u"Nowhere"_qs;
    QTest::newRow("an action's Exec is not the application's") << QString() << QString() << u"/usr/bin/true"_qs << QString() << QString();
    QTest::newRow("unknown") << u"Navigator"_qs << u"firefox"_qs << u"/usr/lib/firefox/firefox"_qs << QString() << QString();
}

void tst_MeetingApplications::desktopEntryLookup()
{
    QFETCH(QString, instanceName);
    QFETCH(QString, className);
    QFETCH(QString, executable);
    QFETCH(QString, id);
    QFETCH(QString, name);
    executable.replace(u"@"_qs, m_root.path());

    DesktopApplications applications(applicationDirectories());
    applications.refreshIfChanged();
    const auto found = executable.isEmpty() ? applications.forWindowClass(instanceName, className)
                                            : applications.forExecutable(executable);
    QCOMPARE(found.has_value(), !id.isEmpty());
    if (found) {
        QCOMPARE(found->id, id);
        QCOMPARE(found->name, name);
    }
}

// An application installed or removed while the program runs, also into a directory that did
// not exist at start (a user's first own entry).
void tst_MeetingApplications::entriesFollowInstallsAndRemovals()
{
    QTemporaryDir root;
    const QString user = root.filePath(u"user/applications"_qs);
    const QString system = root.filePath(u"system/applications"_qs);
    QDir().mkpath(system);
    DesktopApplications applications({user, system});
    applications.refreshIfChanged();
    QVERIFY(!applications.forWindowClass(u"zoom"_qs, u"zoom"_qs));

    writeFile(system + u"/Zoom.desktop"_qs, entry(u"Name=Zoom"_qs));
    applications.refreshIfChanged();
    QCOMPARE(applications.forWindowClass(u"zoom"_qs, u"zoom"_qs).value_or(DesktopApplication{}).name, u"Zoom"_qs);

    writeFile(system + u"/cisco/webex.desktop"_qs, entry(u"Name=Webex\nStartupWMClass=CiscoCollabHost"_qs));
    applications.refreshIfChanged();
    QCOMPARE(applications.forWindowClass({}, u"CiscoCollabHost"_qs).value_or(DesktopApplication{}).id, u"cisco-webex"_qs);

    writeFile(user + u"/Zoom.desktop"_qs, entry(u"Name=My Zoom"_qs));
    applications.refreshIfChanged();
    QCOMPARE(applications.forWindowClass(u"zoom"_qs, u"zoom"_qs).value_or(DesktopApplication{}).name, u"My Zoom"_qs);

    QVERIFY(QFile::remove(user + u"/Zoom.desktop"_qs));
    QVERIFY(QFile::remove(system + u"/Zoom.desktop"_qs));
    applications.refreshIfChanged();
    QVERIFY(!applications.forWindowClass(u"zoom"_qs, u"zoom"_qs));
    QVERIFY(applications.forWindowClass({}, u"CiscoCollabHost"_qs));
}

// 40 bash ─ 100 ZoomLauncher ─ 110 sh ─ 120 zoom (window) ─ 130 zoom (plays);
// 1 ─ 200 CiscoCollabHost (window); 1 ─ 300 zoom (another copy, unknown to the desktop).
void tst_MeetingApplications::meetingApplicationsOfAProcessTable()
{
    QTemporaryDir proc;
    const auto addProcess = [&](qint32 pid, qint32 parent, const QByteArray &comm, const QString &exe) {
        const QString dir = proc.filePath(QString::number(pid));
        QDir().mkpath(dir);
        writeFile(dir + u"/comm"_qs, QString::fromUtf8(comm + '\n'));
        writeFile(dir + u"/stat"_qs, u"%1 (%2) S %3 1 1 0"_qs.arg(pid).arg(QString::fromUtf8(comm)).arg(parent));
        QVERIFY(QFile::link(exe, dir + u"/exe"_qs));
    };
    addProcess(40, 1, "bash", u"/usr/bin/bash"_qs);
    addProcess(100, 40, "ZoomLauncher", path(u"opt/zoom/ZoomLauncher"_qs));
    addProcess(110, 100, "sh", u"/usr/bin/dash"_qs);
    addProcess(120, 110, "zoom", u"/opt/zoom/zoom"_qs);
    addProcess(130, 120, "zoom", u"/opt/zoom/zoom"_qs);
    addProcess(200, 1, "CiscoCollabHost", path(u"opt/Webex/bin/CiscoCollabHost"_qs));
    addProcess(300, 1, "zoom", u"/elsewhere/zoom"_qs);
    const auto processes = RunningProcessList::readUserProcesses(proc.path(), uint(getuid()));
    QCOMPARE(processes.size(), std::size_t(7));

    const auto window = [](quint32 id, qint64 pid, const char *instanceName, const char *className,
                           const QString &title) {
        X11Window w;
        w.id = id;
        w.processId = pid;
        w.instanceName = QString::fromLatin1(instanceName);
        w.className = QString::fromLatin1(className);
        w.title = title;
        w.bounds = QRectF(0, 0, 800, 600);
        return w;
    };
    X11WindowListSnapshot snapshot;
    snapshot.windows = {window(1, 200, "CiscoCollabHost", "CiscoCollabHost", u"Quarterly planning meeting"_qs),
                        window(2, 120, "zoom", "zoom", u"Zoom Workplace"_qs)};

    DesktopApplications desktop(applicationDirectories());
    desktop.refreshIfChanged();
    const RunningApplicationNames names(processes, snapshot, desktop);
    const auto candidates = MeetingSignalScan::runningMeetingCandidates(processes, names);
    QStringList seen;
    for (const auto &c : candidates) {
        seen.append(u"%1 %2 \"%3\" of %4"_qs.arg(c.processID).arg(MeetingApps::rawValue(c.meetingApp), c.appName)
                        .arg(c.applicationProcessID));
    }
    QCOMPARE(seen, (QStringList{u"100 zoom \"Zoom\" of 100"_qs, u"120 zoom \"Zoom\" of 100"_qs,
                                u"130 zoom \"Zoom\" of 100"_qs, u"200 webex \"Webex\" of 200"_qs,
                                u"300 zoom \"zoom\" of 300"_qs}));
    const auto windows = MeetingSignalScan::visibleWindows(snapshot, names, candidates);
    QCOMPARE(windows.size(), std::size_t(2));
    QCOMPARE(windows[0].ownerName, u"Webex"_qs);
    QCOMPARE(windows[1].ownerName, u"Zoom"_qs);

    // Webex names its meeting windows after the meeting: only its own name in the owner says so.
    PulseAudioContext::SinkInput zoomAudio;
    zoomAudio.processId = 130;
    const ProcessAudioActivity activity({zoomAudio}, processes);
    const auto playing = [&activity](qint32 pid) { return activity.isRunningOutput(pid); };
    QCOMPARE(MeetingSignalScan::detectMeeting(windows, candidates, playing, true),
             OptionalMeeting(DetectedMeeting{MeetingApp::webex, u"Webex"_qs, 200, u"Quarterly planning meeting"_qs,
                                             false, S::windowSignal}));
    // Zoom's client plays: one Zoom meeting, under its launcher, titled by the client's window.
    const std::vector<MeetingSignalScan::VisibleWindow> zoomOnly{windows[1]};
    QCOMPARE(MeetingSignalScan::detectMeeting(zoomOnly, candidates, playing, true),
             OptionalMeeting(DetectedMeeting{MeetingApp::zoom, u"Zoom"_qs, 100, u"Zoom Workplace"_qs, true,
                                             S::audioOutput}));

    // Without desktop entries the kernel's and the window's names are all there is.
    const DesktopApplications none{QStringList()};
    const RunningApplicationNames bare(processes, snapshot, none);
    const auto bareCandidates = MeetingSignalScan::runningMeetingCandidates(processes, bare);
    QCOMPARE(bareCandidates.front().appName, u"zoom"_qs); // the client's window class
    const auto bareWindows = MeetingSignalScan::visibleWindows(snapshot, bare, bareCandidates);
    QCOMPARE(bareWindows[0].ownerName, u"CiscoCollabHost"_qs);
    QCOMPARE(MeetingSignalScan::detectMeeting(bareWindows, bareCandidates, playing, false), OptionalMeeting());
}

// This process shows a Webex meeting window: found by the window's class and the desktop entry,
// under X11 and as an XWayland client of a Wayland session.
void tst_MeetingApplications::ownWindowNamedByItsDesktopEntry()
{
    if (qEnvironmentVariableIsEmpty("KAVREL_TEST_X11"))
        QSKIP("KAVREL_TEST_X11 is not set: run under scripts/test");

    const ProcessName name("CiscoCollabHost");
    const OwnWindow window("CiscoCollabHost", "CiscoCollabHost", "Quarterly planning meeting");
    QVERIFY(window.isOpen());
    const qint32 pid = qint32(getpid());
    const DetectedMeeting expected{MeetingApp::webex, u"Webex"_qs, pid, u"Quarterly planning meeting"_qs, false,
                                   S::windowSignal};

    MeetingSignalScan scan(nullptr, 1.0, applicationDirectories());
    QCOMPARE(scanUntil(scan, expected, false), OptionalMeeting(expected));

    const Environment wayland("WAYLAND_DISPLAY", "wayland-kavrel-test");
    // The mini window's coverage still has no list: this program's own windows may be native ones.
    QVERIFY(!X11WindowList().read());
    // No XWayland running: the X server is not asked (it would start one on demand).
    QCOMPARE(scanUntil(scan, expected, false, 300), OptionalMeeting());
    auto xwayland = TestChildProcess::start(u"x11-windows"_qs, {}, u"Xwayland"_qs);
    QVERIFY(xwayland);
    QCOMPARE(scanUntil(scan, expected, false), OptionalMeeting(expected));
    TestChildProcess::finish(*xwayland);
}

// This process, named like Zoom's launcher, starts the client that shows the meeting window and
// the one that plays. The meeting is the window's, under the launcher; when the window goes the
// audio-only meeting keeps the same key.
void tst_MeetingApplications::launcherAndItsClientAreOneMeeting()
{
    if (qEnvironmentVariableIsEmpty("KAVREL_TEST_X11") || qEnvironmentVariableIsEmpty("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_X11 or KAVREL_TEST_PULSE is not set: run under scripts/test");

    // The launcher and its clients run the program of this entry.
    QTemporaryDir applications;
    writeFile(applications.filePath(u"Zoom.desktop"_qs),
              entry(u"Name=Zoom\nExec=\"%1\" %U"_qs.arg(QCoreApplication::applicationFilePath())));
    const ProcessName name("ZoomLauncher");
    const qint32 launcher = qint32(getpid());
    MeetingSignalScan scan(PulseAudioContext::shared(), 1.0, {applications.path()});

    auto player = TestChildProcess::start(u"pulse-player"_qs, {}, u"zoom"_qs);
    QVERIFY(player);
    auto client = TestChildProcess::start(u"x11-windows"_qs, {u"Zoom Meeting|400|300|"_qs}, u"zoom"_qs);
    QVERIFY(client);

    const DetectedMeeting window{MeetingApp::zoom, u"Zoom"_qs, launcher, u"Zoom Meeting"_qs, true, S::windowSignal};
    const auto seen = scanUntil(scan, window, true);
    QCOMPARE(seen, OptionalMeeting(window));

    TestChildProcess::finish(*client);
    const DetectedMeeting audio{MeetingApp::zoom, u"Zoom"_qs, launcher, std::nullopt, true, S::audioOutput};
    const auto heard = scanUntil(scan, audio, true);
    QCOMPARE(heard, OptionalMeeting(audio));
    QCOMPARE(heard->key(), seen->key());
    TestChildProcess::finish(*player);
}

KAVREL_TEST_MAIN_WITH_CHILDREN(tst_MeetingApplications, QCoreApplication)
#include "tst_MeetingApplications.moc"
