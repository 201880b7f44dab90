#include "app/KavrelWindowCoverage.h"

#include <algorithm>

namespace KavrelWindowCoverage {

namespace {

constexpr int columns = 12;
constexpr int rows = 8;
constexpr int requiredPoints = 91; // 94 % of 96
constexpr double minimumAlpha = 0.05;

// A window that can hide what lies behind it: normal layer, visible enough, with a known owner.
bool canCover(const X11Window &window)
{
    return window.layer == X11Window::normalLayer && window.processId && window.alpha > minimumAlpha;
}

} // namespace

bool isCovered(const QRectF &rect, const std::vector<QRectF> &rects)
{
    if (rects.empty())
        return false;
    int covered = 0;
    for (int column = 0; column < columns; ++column) {
        for (int row = 0; row < rows; ++row) {
            const QPointF sample(rect.left() + rect.width() / columns * (column + 0.5),
                                 rect.top() + rect.height() * 0.125 * (row + 0.5));
            const bool hit = std::any_of(rects.begin(), rects.end(), [&](const QRectF &r) { return r.contains(sample); });
            covered += hit ? 1 : 0;
        }
    }
    return covered >= requiredPoints;
}

std::optional<QRectF> boundsOfWindow(const std::optional<X11WindowListSnapshot> &list, quint32 windowId)
{
    if (!list)
        return std::nullopt;
    for (const X11Window &window : list->windows) {
        if (window.id == windowId)
            return window.bounds;
    }
    return std::nullopt;
}

bool isWindowFullyCoveredByOtherApps(const std::optional<X11WindowListSnapshot> &list, quint32 windowId,
                                     qint64 ownProcessId)
{
    if (!list)
        return false;
    if (list->windows.empty())
        return true;
    const auto target = std::find_if(list->windows.begin(), list->windows.end(),
                                     [&](const X11Window &window) { return window.id == windowId; });
    if (target == list->windows.end())
        return true;
    const QRectF bounds = target->bounds;
    if (!(bounds.width() > 0) || !(bounds.height() > 0))
        return false;
    std::vector<QRectF> covering;
    for (auto it = list->windows.begin(); it != target; ++it) {
        const QRectF frame = it->frameBounds();
        if (canCover(*it) && *it->processId != ownProcessId && frame.intersects(bounds))
            covering.push_back(frame);
    }
    return isCovered(bounds, covering);
}

std::optional<qint64> coveringProcess(const std::optional<X11WindowListSnapshot> &list, quint32 windowId,
                                      qint64 ownProcessId)
{
    if (!list)
        return std::nullopt;
    if (list->activeWindowProcessId && *list->activeWindowProcessId != ownProcessId)
        return list->activeWindowProcessId;
    const std::optional<QRectF> bounds = boundsOfWindow(list, windowId);
    if (!bounds)
        return std::nullopt;
    for (const X11Window &window : list->windows) {
        if (window.id == windowId)
            break;
        if (canCover(window) && *window.processId != ownProcessId && window.frameBounds().intersects(*bounds))
            return window.processId;
    }
    return std::nullopt;
}

bool isHiddenWindowStillCovered(const std::optional<X11WindowListSnapshot> &list,
                                const std::optional<QRectF> &hiddenBounds, qint64 ownProcessId,
                                std::optional<qint64> coveringProcessId)
{
    if (!hiddenBounds || !list)
        return false;
    std::optional<qint64> target = list->activeWindowProcessId;
    if (!target || *target == ownProcessId)
        target = coveringProcessId;
    if (target && *target == ownProcessId)
        target.reset();
    std::vector<QRectF> covering;
    for (const X11Window &window : list->windows) {
        if (!canCover(window))
            continue;
        const QRectF frame = window.frameBounds();
        const bool ofTarget = target ? *window.processId == *target : *window.processId != ownProcessId;
        if (ofTarget && frame.intersects(*hiddenBounds))
            covering.push_back(frame);
    }
    return isCovered(*hiddenBounds, covering);
}

} // namespace KavrelWindowCoverage
