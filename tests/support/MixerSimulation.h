#pragma once

#include "audio/AudioCaptureTime.h"

#include <QByteArray>
#include <QMetaType>

#include <utility>
#include <vector>

// Two capture sources on a simulated clock, as the mixer meets them: each captures on its own
// schedule, stamps its fragments with a little jitter, and hands them over late by jitter of its
// own, never overtaking the one before.
namespace MixerSimulation {

// One capture source: it captures a fragment every `fragment` samples from `phase` seconds on,
// and each fragment reaches the mixer later by a jitter of its own. Fragments captured during a
// pause are never made; from `stopAt` on nothing is. A marker (a few samples of `markerValue`)
// sits at `markerAt`; every other sample is `value`.
struct SimulatedSource
{
    bool microphone = false;
    int fragment = 640;
    double phase = 0;
    double maximumDelay = 0.15;
    double stopAt = 1e9;
    std::pair<double, double> pause{-1, -1};
    // A pause is a shut gate that says how far its quiet reaches: an empty chunk in place of
    // each fragment.
    bool quietMarks = false;
    // Fragments captured in this stretch all reach the mixer at its end (a capture thread held up),
    // this many seconds apart for each second of audio (0: at once).
    std::pair<double, double> heldUp{-1, -1};
    double heldUpPace = 0;
    // Every fragment reaches the mixer this much later besides (its conversion waits its turn on a
    // busy machine).
    double lateBy = 0;
    // Every capture time says this much later than the fragment was captured.
    double stampedAhead = 0;
    double markerAt = -1;
    qint16 value = 0;
    qint16 markerValue = 1000;
};

struct Delivery
{
    double at = 0; // seconds on the simulated clock
    double end = 0; // when its last sample was captured, in truth
    bool microphone = false;
    QByteArray chunk;
    AudioCaptureTime capturedAt;
};

// The fragments of both sources in the order they reach the mixer.
std::vector<Delivery> simulate(const std::vector<SimulatedSource> &sources, double seconds, unsigned seed);

// Where the first sample of the value is, or -1.
qint64 indexOf(const std::vector<qint16> &samples, qint16 value);

} // namespace MixerSimulation

Q_DECLARE_METATYPE(MixerSimulation::SimulatedSource)
