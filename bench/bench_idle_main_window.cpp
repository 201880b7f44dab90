// What the program costs while nothing happens and its main window is open on the workspace
// (signed in, the sidebar beside it): at 1240 × 707 (the window a 1280 × 732 screen, or 2560 ×
// 1440 at 200 %, leaves under a title bar), at 1240 × 720 and at 1600 × 1000, each left alone
// for a while, offscreen. The baseline, measured in the same run, is the same program with no
// window open, as it idles in the tray. Target: below 1 % of a core at each size.
//
// Reported per size: the main thread's CPU and its wake-ups (voluntary context switches) a
// second, the whole process's CPU, and how often the sidebar changed its form meanwhile.
//
// Usage: bench_idle_main_window [--seconds N]

#include "app/ProgramOverTheSession.h"

#include "localization/KavrelLocalizationStore.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

namespace {

// The offscreen platform draws a 2-px frame around each window.
constexpr int frame = 2;

const std::vector<QSize> sizes{{1240, 707}, {1240, 720}, {1600, 1000}};

double cpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

long mainThreadWakeUps()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

// Counts the sidebar's changes of form: its application mark shows only in the roomy one.
class FormChanges final : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show || event->type() == QEvent::Hide)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

struct Idle
{
    double mainThreadPercent = 0;
    double processPercent = 0;
    double wakeUpsPerSecond = 0;
    std::optional<int> formChanges;
};

// Runs the event loop alone for `seconds`: it sleeps until something wakes it.
Idle measure(double seconds, FormChanges *changes)
{
    const double thread = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const double process = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const long wakeUps = mainThreadWakeUps();
    if (changes)
        changes->count = 0;
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    Idle idle;
    idle.mainThreadPercent = 100 * (cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread) / seconds;
    idle.processPercent = 100 * (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process) / seconds;
    idle.wakeUpsPerSecond = double(mainThreadWakeUps() - wakeUps) / seconds;
    if (changes)
        idle.formChanges = changes->count;
    return idle;
}

void waitFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// The program with its main window of `size` on the screen made for it; none: no window.
Idle idleProgram(std::optional<qsizetype> screenIndex, double seconds)
{
    AppTest::ProgramOverTheSession program;
    FormChanges changes;
    if (screenIndex) {
        QScreen *screen = QGuiApplication::screens().at(*screenIndex);
        program.app->openWindow(QString::fromLatin1(KavrelApp::mainWindowIdentifier));
        QWidget *window = program.mainWindow();
        window->hide();
        window->setScreen(screen);
        window->setGeometry(QRect(screen->geometry().topLeft() + QPoint(frame, frame), sizes.at(size_t(*screenIndex))));
        window->show();
        waitFor(500);
        if (QWidget *mark = window->findChild<QWidget *>(QStringLiteral("appMark")))
            mark->installEventFilter(&changes);
        if (window->size() != sizes.at(size_t(*screenIndex)))
            std::printf("  (the window came up %d × %d)\n", window->width(), window->height());
    }
    // Start-up, the first layouts and paints, and the sign-in's own requests are over by then.
    waitFor(2000);
    return measure(seconds, screenIndex ? &changes : nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = 10;
    for (int i = 1; i + 1 < argc; ++i) {
        if (QByteArray(argv[i]) == "--seconds")
            seconds = std::max(1.0, QByteArray(argv[i + 1]).toDouble());
    }
    // One screen for each size, side by side, that holds the window and its frame exactly: on a
    // larger screen the window's least height (820) would not let it be as short.
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    QByteArray screens;
    int x = 0;
    for (const QSize &size : sizes) {
        if (!screens.isEmpty())
            screens += ", ";
        screens += QStringLiteral(R"({"name": "screen-%1", "x": %2, "y": 0, "width": %3, "height": %4, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1})")
                       .arg(x).arg(x).arg(size.width() + 2 * frame).arg(size.height() + 2 * frame)
                       .toUtf8();
        x += size.width() + 2 * frame;
    }
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(R"({"windowFrameMargins": true, "screens": [)" + screens + "]}");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    KavrelLocalizationStore::shared().setLanguage(KavrelAppLanguage::russian);

    std::printf("the program idle for %.0f s at each size (offscreen, Russian interface; target below 1 %% of a core)\n", seconds);
    std::printf("%-22s %18s %14s %20s %14s\n", "main window", "main thread CPU %", "process CPU %", "main wake-ups a s", "form changes");
    const Idle baseline = idleProgram(std::nullopt, seconds);
    std::printf("%-22s %18.3f %14.3f %20.1f %14s\n", "none (in the tray)", baseline.mainThreadPercent, baseline.processPercent,
                baseline.wakeUpsPerSecond, "-");
    for (qsizetype i = 0; i < qsizetype(sizes.size()); ++i) {
        const Idle idle = idleProgram(i, seconds);
        const QByteArray name = QStringLiteral("%1 × %2").arg(sizes.at(size_t(i)).width()).arg(sizes.at(size_t(i)).height()).toUtf8();
        std::printf("%-23s %18.3f %14.3f %20.1f %14d   %+.3f %% against the baseline%s\n", name.constData(), idle.mainThreadPercent,
                    idle.processPercent, idle.wakeUpsPerSecond, idle.formChanges.value_or(0),
                    idle.processPercent - baseline.processPercent, idle.processPercent < 1 ? "" : "  (target missed)");
    }
    return 0;
}
