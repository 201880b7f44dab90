#include "kit/KavrelSplitGeometry.h"

#include <algorithm>
#include <cmath>

KavrelSplitGeometry KavrelSplitGeometry::compute(double total, double fraction, double minimumPane, double dividerExtent)
{
    const double usable = total - dividerExtent;
    // A stored fraction that is not finite is broken: it leaves the first panel at its
    // smallest, infinity included, rather than handing it everything.
    double first = std::isfinite(fraction) ? total * fraction : minimumPane;
    if (first >= usable - minimumPane)
        first = usable - minimumPane;
    // Written so that a NaN fails the comparison and ends as the minimum.
    if (!(minimumPane <= first))
        first = minimumPane;
    double second = usable - first;
    if (!(minimumPane <= second))
        second = minimumPane;
    return KavrelSplitGeometry{first, second};
}

double KavrelSplitGeometry::fractionForDrag(double position, double available, double lowest, double highest, double current)
{
    double fraction = available >= 1 ? position / available : position;
    if (std::isnan(fraction))
        return current;
    fraction = std::min(fraction, highest);
    fraction = std::max(fraction, lowest);
    return fraction;
}
