#pragma once

// The arithmetic of a two-panel split with a divider between the panels. Lengths are along the
// split axis: widths side by side, heights one above the other.
struct KavrelSplitGeometry
{
    double first = 0;
    double second = 0;

    // The first panel takes `fraction` of the whole length (not of what the divider leaves),
    // limited so the second keeps its minimum; each panel keeps `minimumPane` even when both
    // then overflow the length. A fraction that is not finite gives the first its minimum.
    static KavrelSplitGeometry compute(double total, double fraction, double minimumPane, double dividerExtent);

    // The fraction a divider drag stores: the pointer's position over the length (the position
    // itself for a length below 1), clamped to lowest … highest. A non-finite result (a
    // position that is not a number) stays where `current` was.
    static double fractionForDrag(double position, double available, double lowest, double highest, double current);
};
