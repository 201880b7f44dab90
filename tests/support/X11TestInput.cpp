#include "X11TestInput.h"

#include <QProcess>
#include <QTest>
#include <QWidget>

namespace X11TestInput {

namespace {

bool xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForStarted(5000))
        return false;
    // The program under test goes on handling its events meanwhile, as it would for a person.
    if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 10000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

bool click(QPoint global)
{
    return xdotool({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
                    QStringLiteral("click"), QStringLiteral("1")});
}

bool movePointer(QPoint global)
{
    return xdotool({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y())});
}

bool tap(QPoint global, int heldMs)
{
    QStringList arguments{QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
                          QStringLiteral("mousedown"), QStringLiteral("1")};
    if (heldMs > 0)
        arguments << QStringLiteral("sleep") << QString::number(heldMs / 1000.0, 'f', 3);
    arguments << QStringLiteral("mouseup") << QStringLiteral("1");
    return xdotool(arguments);
}

bool drag(QPoint from, QPoint to)
{
    QStringList arguments{QStringLiteral("mousemove"), QString::number(from.x()), QString::number(from.y()),
                          QStringLiteral("mousedown"), QStringLiteral("1")};
    constexpr int steps = 6;
    for (int step = 1; step <= steps; ++step) {
        const QPoint at = from + (to - from) * step / steps;
        arguments << QStringLiteral("sleep") << QStringLiteral("0.05") << QStringLiteral("mousemove")
                  << QString::number(at.x()) << QString::number(at.y());
    }
    arguments << QStringLiteral("sleep") << QStringLiteral("0.1") << QStringLiteral("mouseup") << QStringLiteral("1");
    return xdotool(arguments);
}

bool click(const QWidget *widget)
{
    return widget && widget->isVisible() && click(widget->mapToGlobal(widget->rect().center()));
}

bool keys(const QStringList &keys)
{
    return X11TestInput::keys(keys, 80);
}

bool keys(const QStringList &keys, int apartMs)
{
    // xdotool waits half the delay after each press and half after each release.
    return xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QString::number(apartMs)} + keys);
}

bool holdKey(const QString &key, int heldMs)
{
    return xdotool({QStringLiteral("keydown"), key, QStringLiteral("sleep"), QString::number(heldMs / 1000.0, 'f', 3),
                    QStringLiteral("keyup"), key});
}

} // namespace X11TestInput
