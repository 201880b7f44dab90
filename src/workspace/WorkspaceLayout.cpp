#include "workspace/WorkspaceLayout.h"

#include <cmath>

WorkspaceLayout WorkspaceLayout::fromRawValue(const QString &raw)
{
    return WorkspaceLayout{raw == QLatin1String("rows")};
}

QString WorkspaceLayout::rawValue() const
{
    return rows ? QStringLiteral("rows") : QStringLiteral("columns");
}

KavrelSplitGeometry WorkspaceLayout::split(double total, double fraction) const
{
    return KavrelSplitGeometry::compute(total, usableFraction(fraction), minimumPane(), dividerExtent);
}

double WorkspaceLayout::usableFraction(double stored)
{
    // Infinity would otherwise give the first pane everything but the second's minimum; a
    // broken stored value should leave the transcript at its smallest, as NaN does.
    return std::isfinite(stored) ? stored : std::nan("");
}

double WorkspaceLayout::fractionForDrag(double position, double available, double current)
{
    return KavrelSplitGeometry::fractionForDrag(position, available, lowestDragFraction, highestDragFraction, current);
}
