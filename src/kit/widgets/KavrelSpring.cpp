#include "kit/widgets/KavrelSpring.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
// Settled once the swing's envelope is below a thousandth.
const double settledEnvelope = std::log(1000.0);
} // namespace

KavrelSpring::KavrelSpring(double response, double dampingFraction)
    : m_frequency(2 * std::numbers::pi / std::max(response, 0.001)), m_damping(std::max(dampingFraction, 0.01))
{
}

double KavrelSpring::settleSeconds() const
{
    // The slowest decaying part of the motion sets the time.
    const double decay = m_damping < 1 ? m_damping * m_frequency
                                       : m_frequency * (m_damping - std::sqrt(m_damping * m_damping - 1));
    return settledEnvelope / decay;
}

int KavrelSpring::durationMs() const
{
    return int(std::lround(settleSeconds() * 1000));
}

double KavrelSpring::position(double t) const
{
    const double w = m_frequency;
    const double z = m_damping;
    if (z < 1) {
        const double wd = w * std::sqrt(1 - z * z);
        return 1 - std::exp(-z * w * t) * (std::cos(wd * t) + z * w / wd * std::sin(wd * t));
    }
    if (z == 1)
        return 1 - std::exp(-w * t) * (1 + w * t);
    const double root = std::sqrt(z * z - 1);
    const double slow = -w * (z - root);
    const double fast = -w * (z + root);
    return 1 + (fast * std::exp(slow * t) - slow * std::exp(fast * t)) / (slow - fast);
}

double KavrelSpring::valueAt(double fraction) const
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (fraction == 1)
        return 1;
    const double seconds = settleSeconds();
    return position(fraction * seconds) / position(seconds);
}
