#pragma once

// A damped spring's step response, given as the time one undamped swing takes (`response`,
// in seconds) and the damping fraction (below 1 it overshoots a little and settles, 1 and
// above it creeps up without overshoot). The motion runs until it has settled to within
// a thousandth of its target and is stretched to end exactly on it, so an animation using
// it stops where it would have jumped to. KavrelSpringAnimation runs it.
class KavrelSpring final
{
public:
    KavrelSpring(double response, double dampingFraction);

    // How long the motion runs, in milliseconds.
    int durationMs() const;
    // Where the motion is after `fraction` of its run: 0 at 0, exactly 1 at 1.
    double valueAt(double fraction) const;

private:
    // The motion from 0 towards 1 after `seconds`, before the stretch.
    double position(double seconds) const;
    double settleSeconds() const;

    double m_frequency;
    double m_damping;
};
