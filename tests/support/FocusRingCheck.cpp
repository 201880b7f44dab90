#include "FocusRingCheck.h"

#include "kit/KavrelPalette.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>

namespace FocusRingCheck {

QImage grab(QWidget *window, const QRect &area)
{
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return screen->grabWindow(window->winId(), area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

QImage grab(QWidget *control)
{
    QWidget *window = control->window();
    return grab(window, QRect(control->mapTo(window, QPoint(0, 0)), control->size()));
}

QString problem(const QImage &before, const QImage &after)
{
    if (before.isNull() || before.size() != after.size())
        return QStringLiteral("the pictures do not match in size");
    int changed = 0;
    int standsOut = 0;
    double best = 1;
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x < before.width(); ++x) {
            const QColor was = before.pixelColor(x, y);
            const QColor is = after.pixelColor(x, y);
            if (was == is)
                continue;
            ++changed;
            const double ratio = kavrelContrastRatio(was, is);
            best = std::max(best, ratio);
            if (ratio >= 3)
                ++standsOut;
        }
    }
    const int wanted = before.width() + before.height();
    if (standsOut >= wanted)
        return {};
    if (changed == 0)
        return QStringLiteral("nothing changed on screen");
    return QStringLiteral("%1 pixels changed, %2 of them at 3:1 or more (%3 wanted), the best %4:1")
        .arg(changed)
        .arg(standsOut)
        .arg(wanted)
        .arg(best, 0, 'f', 2);
}

QString waitForRing(QWidget *window, const QRect &area, const QImage &before, QImage *after)
{
    QString last;
    QImage now;
    (void)QTest::qWaitFor(
        [&] {
            now = grab(window, area);
            last = problem(before, now);
            return last.isEmpty();
        },
        3000);
    if (after)
        *after = now;
    return last;
}

} // namespace FocusRingCheck
