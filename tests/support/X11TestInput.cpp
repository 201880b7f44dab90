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

bool click(const QWidget *widget)
{
    return widget && widget->isVisible() && click(widget->mapToGlobal(widget->rect().center()));
}

bool keys(const QStringList &keys)
{
    return xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("80")} + keys);
}

} // namespace X11TestInput
