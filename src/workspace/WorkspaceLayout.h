#pragma once

#include "kit/KavrelSplitGeometry.h"

#include <QString>

// The two arrangements of the transcript and translation panels and the arithmetic of the
// split between them. "rows" puts them one above the other; every other stored value
// (including "columns") side by side.
struct WorkspaceLayout
{
    static constexpr const char *layoutDefaultsKey = "kavrel.workspaceLayout";
    static constexpr const char *splitDefaultsKey = "kavrel.workspaceSplit";
    static constexpr const char *focusModeDefaultsKey = "kavrel.focusModeEnabled";
    static constexpr double defaultSplitFraction = 0.5;
    static constexpr double dividerExtent = 8;
    static constexpr double lowestDragFraction = 0.25;
    static constexpr double highestDragFraction = 0.75;

    bool rows = false;

    static WorkspaceLayout fromRawValue(const QString &raw);
    QString rawValue() const;

    double minimumWorkspaceWidth() const { return rows ? 620 : 800; }
    double minimumPane() const { return rows ? 240 : 360; }

    // The panes' lengths along the split axis for a container of `total`. The divider's
    // extent is the only gap between the panes, so both always fit in `total` unless their
    // minimums do not. A fraction that is not finite gives the first pane its minimum.
    KavrelSplitGeometry split(double total, double fraction) const;
    // The stored fraction as the split container takes it: a non-finite value becomes NaN,
    // which the arithmetic turns into the first pane's minimum.
    static double usableFraction(double stored);
    // The fraction a divider drag at `position` (along the split axis) stores.
    static double fractionForDrag(double position, double available, double current);
};
