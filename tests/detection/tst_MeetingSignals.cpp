// What titles, names, windows and audio say about a meeting: the rules on tables, then the
// whole scan on the private X server and PulseAudio of scripts/test with child processes
// named like the meeting application.

#include "detection/MeetingSignalScan.h"
#include "platform/PulseAudioContext.h"
#include "support/TestChildProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

#include <set>

using VisibleWindow = MeetingSignalScan::VisibleWindow;
using Candidate = MeetingSignalScan::Candidate;
using OptionalText = std::optional<QString>;
using OptionalApp = std::optional<MeetingApp>;
using OptionalMeeting = std::optional<DetectedMeeting>;
Q_DECLARE_METATYPE(MeetingApp)

class tst_MeetingSignals : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void titleSignal_data();
    void titleSignal();
    void runningApplicationMatch_data();
    void runningApplicationMatch();
    void detection_data();
    void detection();
    void visibleWindowsFromTheWindowList();
    void keyAndDisplayName();
    void realWindowsOfAChildProcess();
    void realAudioOfAChildProcess();
};

void tst_MeetingSignals::titleSignal_data()
{
    QTest::addColumn<MeetingApp>("app");
    QTest::addColumn<OptionalText>("title");
    QTest::addColumn<QString>("owner");
    QTest::addColumn<bool>("signal");

    const auto zoom = MeetingApp::zoom;
    const auto webex = MeetingApp::webex;
    QTest::newRow("keyword in capitals with spaces") << zoom << OptionalText(u"  ZOOM Meeting \n"_qs) << QString() << true;
    QTest::newRow("meeting id and a number") << zoom << OptionalText(u"Meeting ID 123 456 789"_qs) << QString() << true;
    QTest::newRow("waiting room") << zoom << OptionalText(u"Waiting Room"_qs) << QString() << true;
    QTest::newRow("home window") << zoom << OptionalText(u" Zoom Workplace "_qs) << u"zoom"_qs << false;
    QTest::newRow("bare app name") << zoom << OptionalText(u"Zoom"_qs) << u"zoom"_qs << false;
    QTest::newRow("meetings list") << zoom << OptionalText(u"Meetings"_qs) << u"zoom"_qs << false;
    QTest::newRow("empty title") << zoom << OptionalText(u"   "_qs) << u"zoom"_qs << false;
    QTest::newRow("no title") << zoom << OptionalText() << u"zoom"_qs << false;
    QTest::newRow("the word, owner is zoom") << zoom << OptionalText(u"Weekly team meeting"_qs) << u"zoom"_qs << true;
    QTest::newRow("the word, other owner") << zoom << OptionalText(u"Weekly team meeting"_qs) << u"firefox"_qs << false;
    QTest::newRow("plural is not the word") << zoom << OptionalText(u"All meetings today"_qs) << u"zoom"_qs << false;
    QTest::newRow("word after Cyrillic") << zoom << OptionalText(u"Встреча meeting"_qs) << u"Zoom"_qs << true;
    QTest::newRow("Cyrillic joined to the word") << zoom << OptionalText(u"meetingвстреча"_qs) << u"zoom"_qs << false;
    QTest::newRow("underscore joined to the word") << zoom << OptionalText(u"meeting_notes"_qs) << u"zoom"_qs << false;
    QTest::newRow("personal room") << webex << OptionalText(u"Ann's Personal Room"_qs) << QString() << true;
    QTest::newRow("meeting details") << webex << OptionalText(u"Meeting details"_qs) << QString() << true;
    QTest::newRow("search window") << webex << OptionalText(u"Webex | Search, meet and call"_qs) << u"webex"_qs << false;
    QTest::newRow("zoom keyword is not webex's") << webex << OptionalText(u"Zoom meeting"_qs) << u"CiscoCollabHost"_qs << false;
    QTest::newRow("the word, owner is webex") << webex << OptionalText(u"Design meeting"_qs) << u"Webex"_qs << true;
}

void tst_MeetingSignals::titleSignal()
{
    QFETCH(MeetingApp, app);
    QFETCH(OptionalText, title);
    QFETCH(QString, owner);
    QFETCH(bool, signal);
    QCOMPARE(MeetingApps::hasMeetingSignal(app, title, owner), signal);
}

void tst_MeetingSignals::runningApplicationMatch_data()
{
    QTest::addColumn<OptionalText>("identifier");
    QTest::addColumn<OptionalText>("name");
    QTest::addColumn<OptionalApp>("app");

    QTest::newRow("zoom") << OptionalText(u"zoom"_qs) << OptionalText(u"zoom"_qs) << OptionalApp(MeetingApp::zoom);
    QTest::newRow("name only, capitals") << OptionalText() << OptionalText(u"ZoomWebviewHost"_qs) << OptionalApp(MeetingApp::zoom);
    QTest::newRow("cisco identifier") << OptionalText(u"CiscoCollabHost"_qs) << OptionalText(u"CiscoCollabHost"_qs) << OptionalApp(MeetingApp::webex);
    QTest::newRow("webex name") << OptionalText(u"app"_qs) << OptionalText(u"Webex"_qs) << OptionalApp(MeetingApp::webex);
    QTest::newRow("cisco only in the name") << OptionalText(u"app"_qs) << OptionalText(u"Cisco"_qs) << OptionalApp();
    QTest::newRow("both: zoom first") << OptionalText(u"webex"_qs) << OptionalText(u"zoom"_qs) << OptionalApp(MeetingApp::zoom);
    QTest::newRow("neither") << OptionalText() << OptionalText() << OptionalApp();
}

void tst_MeetingSignals::runningApplicationMatch()
{
    QFETCH(OptionalText, identifier);
    QFETCH(OptionalText, name);
    QFETCH(OptionalApp, app);
    QCOMPARE(MeetingApps::matchRunningApplication(identifier, name), app);
}

namespace {
VisibleWindow window(qint32 pid, const QString &title, double width = 800, double height = 600,
                     const QString &owner = u"zoom"_qs)
{
    return VisibleWindow{pid, owner, title, QRectF(10, 10, width, height)};
}
// A Zoom process; `application` is its launcher's process when it has one.
Candidate zoomProcess(qint32 pid, qint32 application = 0)
{
    return Candidate{MeetingApp::zoom, u"zoom"_qs, pid, application ? application : pid};
}
DetectedMeeting meeting(MeetingApp app, const QString &name, qint32 pid, OptionalText title, bool audio,
                        MeetingDetectionSource source)
{
    return DetectedMeeting{app, name, pid, title, audio, source};
}
} // namespace

using Windows = std::vector<VisibleWindow>;
using Candidates = std::vector<Candidate>;
using Playing = std::set<qint32>;

void tst_MeetingSignals::detection_data()
{
    QTest::addColumn<Windows>("windows");
    QTest::addColumn<Candidates>("candidates");
    QTest::addColumn<Playing>("playing");
    QTest::addColumn<OptionalMeeting>("expected");

    using S = MeetingDetectionSource;
    const auto zoom = MeetingApp::zoom;
    QTest::newRow("meeting window")
        << Windows{window(7, u"Zoom Meeting"_qs)} << Candidates{zoomProcess(7)} << Playing{7}
        << OptionalMeeting(meeting(zoom, u"zoom"_qs, 7, u"Zoom Meeting"_qs, true, S::windowSignal));
    QTest::newRow("359 wide is too small, also as a title")
        << Windows{window(7, u"Zoom Meeting"_qs, 359, 600)} << Candidates{zoomProcess(7)} << Playing{7}
        << OptionalMeeting(meeting(zoom, u"zoom"_qs, 7, std::nullopt, true, S::audioOutput));
    QTest::newRow("360 x 220 is large")
        << Windows{window(7, u"Zoom Meeting"_qs, 360, 220)} << Candidates{zoomProcess(7)} << Playing{}
        << OptionalMeeting(meeting(zoom, u"zoom"_qs, 7, u"Zoom Meeting"_qs, false, S::windowSignal));
    QTest::newRow("219 high is too small")
        << Windows{window(7, u"Zoom Meeting"_qs, 360, 219)} << Candidates{zoomProcess(7)} << Playing{}
        << OptionalMeeting();
    QTest::newRow("home window with audio: audio-only, first large window's title")
        << Windows{window(7, u"Zoom Workplace"_qs), window(7, u"Chat"_qs)} << Candidates{zoomProcess(7)} << Playing{7}
        << OptionalMeeting(meeting(zoom, u"zoom"_qs, 7, u"Zoom Workplace"_qs, true, S::audioOutput));
    QTest::newRow("home window, silent") << Windows{window(7, u"Zoom Workplace"_qs)} << Candidates{zoomProcess(7)}
                                         << Playing{} << OptionalMeeting();
    QTest::newRow("first signalling window gives the title")
        << Windows{window(7, u"Zoom"_qs), window(7, u"Zoom Webinar"_qs), window(7, u"Zoom Meeting"_qs)}
        << Candidates{zoomProcess(7)} << Playing{}
        << OptionalMeeting(meeting(zoom, u"zoom"_qs, 7, u"Zoom Webinar"_qs, false, S::windowSignal));
    QTest::newRow("a later meeting window beats an earlier process's audio")
        << Windows{window(9, u"Zoom Meeting"_qs)} << Candidates{zoomProcess(7), zoomProcess(9)} << Playing{7}
        << OptionalMeeting(meeting(zoom, u"zoom"_qs, 9, u"Zoom Meeting"_qs, false, S::windowSignal));
    // A launcher (100) plays whenever its client (120) does: the client's window is the meeting,
    // reported under the launcher, as is the audio alone, so both give one key.
    QTest::newRow("launcher playing through its client: the client's window, under the launcher")
        << Windows{window(120, u"Zoom Meeting"_qs)} << Candidates{zoomProcess(100), zoomProcess(120, 100)}
        << Playing{100, 120} << OptionalMeeting(meeting(zoom, u"zoom"_qs, 100, u"Zoom Meeting"_qs, true, S::windowSignal));
    QTest::newRow("launcher and client, audio only: the client's first large window gives the title")
        << Windows{window(130, u"Chat"_qs, 200, 200), window(120, u"Zoom Workplace"_qs)}
        << Candidates{zoomProcess(100), zoomProcess(120, 100), zoomProcess(130, 100)} << Playing{100, 130}
        << OptionalMeeting(meeting(zoom, u"zoom"_qs, 100, u"Zoom Workplace"_qs, true, S::audioOutput));
    QTest::newRow("another application's window does not title an audio-only meeting")
        << Windows{window(200, u"Zoom Workplace"_qs)} << Candidates{zoomProcess(100), zoomProcess(200)}
        << Playing{100} << OptionalMeeting(meeting(zoom, u"zoom"_qs, 100, std::nullopt, true, S::audioOutput));
    QTest::newRow("earlier process silent: the later meeting window")
        << Windows{window(9, u"Zoom Meeting"_qs)} << Candidates{zoomProcess(7), zoomProcess(9)} << Playing{}
        << OptionalMeeting(meeting(zoom, u"zoom"_qs, 9, u"Zoom Meeting"_qs, false, S::windowSignal));
    QTest::newRow("no application: the window alone, with the app's name")
        << Windows{window(50, u"Zoom Meeting"_qs, 800, 600, u"zoom-client"_qs)} << Candidates{} << Playing{50}
        << OptionalMeeting(meeting(zoom, u"Zoom"_qs, 50, u"Zoom Meeting"_qs, true, S::windowSignal));
    QTest::newRow("no application: a Webex window whose title mentions Zoom")
        << Windows{window(60, u"Webex meeting: Zoom migration review"_qs, 800, 600, u"webex"_qs)} << Candidates{}
        << Playing{}
        << OptionalMeeting(meeting(MeetingApp::webex, u"Cisco Webex"_qs, 60, u"Webex meeting: Zoom migration review"_qs,
                                   false, S::windowSignal));
    QTest::newRow("no application: another program's window about meetings")
        << Windows{window(61, u"Weekly meeting"_qs, 800, 600, u"firefox"_qs)} << Candidates{} << Playing{61}
        << OptionalMeeting();
}

void tst_MeetingSignals::detection()
{
    QFETCH(Windows, windows);
    QFETCH(Candidates, candidates);
    QFETCH(Playing, playing);
    QFETCH(OptionalMeeting, expected);
    const auto isPlaying = [&playing](qint32 pid) { return playing.count(pid) != 0; };
    QCOMPARE(MeetingSignalScan::detectMeeting(windows, candidates, isPlaying, true), expected);
    // Without audio output, only window signals remain.
    const auto windowsOnly = MeetingSignalScan::detectMeeting(windows, candidates, isPlaying, false);
    if (!expected || expected->detectionSource == MeetingDetectionSource::windowSignal)
        QCOMPARE(windowsOnly, expected);
    else
        QVERIFY(!windowsOnly || windowsOnly->detectionSource == MeetingDetectionSource::windowSignal);
}

void tst_MeetingSignals::visibleWindowsFromTheWindowList()
{
    const DesktopApplications noEntries{QStringList()};
    QCOMPARE(MeetingSignalScan::visibleWindows(std::nullopt, RunningApplicationNames({}, std::nullopt, noEntries), {})
                 .size(),
             std::size_t(0));

    X11WindowListSnapshot snapshot;
    const auto add = [&snapshot](std::optional<qint64> pid, const QString &title, QRectF bounds, int layer,
                                 const QString &className = {}) {
        X11Window window;
        window.id = quint32(snapshot.windows.size() + 1);
        window.processId = pid;
        window.title = title;
        window.bounds = bounds;
        window.layer = layer;
        window.className = className;
        snapshot.windows.push_back(window);
    };
    add(812, u"Zoom Meeting"_qs, QRectF(0, 0, 400, 300), X11Window::normalLayer);
    add(812, u"Floating"_qs, QRectF(0, 0, 400, 300), X11Window::floatingLayer);
    add(std::nullopt, u"No owner"_qs, QRectF(0, 0, 400, 300), X11Window::normalLayer);
    add(812, u"Empty"_qs, QRectF(0, 0, 0, 300), X11Window::normalLayer);
    add(900, u"Unknown owner"_qs, QRectF(5, 5, 500, 400), X11Window::normalLayer, u"Zoom"_qs);

    const std::vector<RunningProcess> processes{{812, 1, u"zoom"_qs, u"zoom"_qs}};
    const RunningApplicationNames names(processes, snapshot, noEntries);
    const auto windows = MeetingSignalScan::visibleWindows(snapshot, names,
                                                           MeetingSignalScan::runningMeetingCandidates(processes, names));
    QCOMPARE(windows.size(), std::size_t(2));
    QCOMPARE(windows[0].processID, 812);
    QCOMPARE(windows[0].ownerName, u"zoom"_qs);
    QCOMPARE(windows[0].bounds, QRectF(0, 0, 400, 300));
    // An owner missing from the process table is named by the window's class.
    QCOMPARE(windows[1].title, OptionalText(u"Unknown owner"_qs));
    QCOMPARE(windows[1].ownerName, u"Zoom"_qs);
}

void tst_MeetingSignals::keyAndDisplayName()
{
    DetectedMeeting webex{MeetingApp::webex, u" \n "_qs, 812, std::nullopt, false, MeetingDetectionSource::audioOutput};
    QCOMPARE(webex.key(), u"webex:812"_qs);
    QCOMPARE(webex.displayName(), u"Cisco Webex"_qs);
    webex.appName = u"  Webex  "_qs;
    QCOMPARE(webex.displayName(), u"Webex"_qs);
    QCOMPARE(rawValue(MeetingDetectionSource::windowSignal), u"windowSignal"_qs);
    QCOMPARE(MeetingApps::fromRawValue(u"zoom"_qs), OptionalApp(MeetingApp::zoom));
    QCOMPARE(MeetingApps::fromRawValue(u"Zoom"_qs), OptionalApp());
}

void tst_MeetingSignals::realWindowsOfAChildProcess()
{
    if (qEnvironmentVariableIsEmpty("KAVREL_TEST_X11") || qEnvironmentVariableIsEmpty("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_X11 or KAVREL_TEST_PULSE is not set: run under scripts/test");

    auto meetingApp = TestChildProcess::start(u"x11-windows"_qs, {u"Zoom Meeting|400|300|"_qs}, u"zoom"_qs);
    QVERIFY(meetingApp);
    auto otherWindows = TestChildProcess::start(u"x11-windows"_qs,
                                                {u"Zoom Meeting|359|300|"_qs, u"Zoom Meeting|400|300|above-utility"_qs,
                                                 u"Zoom Meeting|400|300|minimised"_qs},
                                                u"zoom"_qs);
    QVERIFY(otherWindows);
    const qint32 meetingPid = qint32(meetingApp->processId());
    const qint32 otherPid = qint32(otherWindows->processId());

    X11WindowList list;
    const DesktopApplications noEntries{QStringList()};
    std::vector<VisibleWindow> windows;
    std::vector<Candidate> candidates;
    QDeadlineTimer deadline(20000);
    const auto windowsOf = [&windows](qint32 pid) {
        return std::count_if(windows.begin(), windows.end(), [pid](const auto &w) { return w.processID == pid; });
    };
    while (!deadline.hasExpired()) {
        const auto processes = RunningProcessList::readUserProcesses();
        const auto snapshot = list.read();
        const RunningApplicationNames names(processes, snapshot, noEntries);
        candidates = MeetingSignalScan::runningMeetingCandidates(processes, names);
        windows = MeetingSignalScan::visibleWindows(snapshot, names, candidates);
        // The window manager minimises and lifts the other windows a moment after it shows them.
        if (windowsOf(meetingPid) == 1 && windowsOf(otherPid) == 1)
            break;
        QTest::qWait(20);
    }
    const auto meetingWindow = std::find_if(windows.begin(), windows.end(),
                                            [&](const auto &w) { return w.processID == meetingPid; });
    QVERIFY(meetingWindow != windows.end());
    QCOMPARE(meetingWindow->title, OptionalText(u"Zoom Meeting"_qs));
    // Without a desktop entry the window's class names the application, as a task bar shows it.
    QCOMPARE(meetingWindow->ownerName, u"Zoom"_qs);
    QCOMPARE(meetingWindow->bounds.size(), QSizeF(400, 300));
    // Of the other process only the narrow window is listed: the tool floats, the other is minimised.
    QCOMPARE(windowsOf(otherPid), 1);

    const auto silent = [](qint32) { return false; };
    const auto onlyProcess = [&candidates](qint32 pid) {
        Candidates own;
        std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(own),
                     [pid](const auto &c) { return c.processID == pid; });
        return own;
    };
    QCOMPARE(onlyProcess(meetingPid).size(), std::size_t(1));
    QCOMPARE(MeetingSignalScan::detectMeeting(windows, onlyProcess(meetingPid), silent, true),
             OptionalMeeting(meeting(MeetingApp::zoom, u"Zoom"_qs, meetingPid, u"Zoom Meeting"_qs, false,
                                     MeetingDetectionSource::windowSignal)));
    QCOMPARE(onlyProcess(otherPid).size(), std::size_t(1));
    const Windows othersOnly(windows.begin(), std::remove_if(windows.begin(), windows.end(), [&](const auto &w) {
                                 return w.processID != otherPid;
                             }));
    QCOMPARE(MeetingSignalScan::detectMeeting(othersOnly, onlyProcess(otherPid), silent, true), OptionalMeeting());

    TestChildProcess::finish(*meetingApp);
    TestChildProcess::finish(*otherWindows);
}

void tst_MeetingSignals::realAudioOfAChildProcess()
{
    if (qEnvironmentVariableIsEmpty("KAVREL_TEST_PULSE"))
        QSKIP("KAVREL_TEST_PULSE is not set: run under scripts/test to get a private PulseAudio");

    MeetingSignalScan scan(PulseAudioContext::shared());
    auto player = TestChildProcess::start(u"pulse-player"_qs, {}, u"zoom"_qs);
    QVERIFY(player);
    const qint32 pid = qint32(player->processId());

    // Other tests may show meeting windows on the shared X server: only this process counts.
    const auto detectionOfPlayer = [&]() -> OptionalMeeting {
        QDeadlineTimer deadline(20000);
        OptionalMeeting found;
        while (!deadline.hasExpired()) {
            found = scan.detectMeeting(true);
            if (found && found->processID == pid)
                return found;
            QTest::qWait(20);
        }
        return std::nullopt;
    };
    QCOMPARE(detectionOfPlayer(), OptionalMeeting(meeting(MeetingApp::zoom, u"zoom"_qs, pid, std::nullopt, true,
                                                          MeetingDetectionSource::audioOutput)));
    QVERIFY(TestChildProcess::command(*player, "cork", "corked"));
    QDeadlineTimer deadline(20000);
    OptionalMeeting found = scan.detectMeeting(true);
    while (found && found->processID == pid && !deadline.hasExpired()) {
        QTest::qWait(20);
        found = scan.detectMeeting(true);
    }
    QVERIFY(!found || found->processID != pid);
    TestChildProcess::finish(*player);
}

KAVREL_TEST_MAIN_WITH_CHILDREN(tst_MeetingSignals, QCoreApplication)
#include "tst_MeetingSignals.moc"
