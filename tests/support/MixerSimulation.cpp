#include "support/MixerSimulation.h"

#include "support/TestAudio.h"

#include <algorithm>
#include <random>

namespace MixerSimulation {

std::vector<Delivery> simulate(const std::vector<SimulatedSource> &sources, double seconds, unsigned seed)
{
    const AudioCaptureTime origin = AudioCaptureClock::now();
    std::mt19937 random(seed);
    std::vector<Delivery> deliveries;
    for (const SimulatedSource &source : sources) {
        std::uniform_real_distribution<double> delay(0.0, source.maximumDelay);
        std::uniform_real_distribution<double> stampJitter(0.0, 0.002);
        double lastArrival = 0;
        for (qint64 first = qint64(source.phase * 16000);; first += source.fragment) {
            const double start = double(first) / 16000.0;
            const double end = double(first + source.fragment) / 16000.0;
            if (end > seconds || start >= source.stopAt)
                break;
            const bool paused = start >= source.pause.first && start < source.pause.second;
            if (paused && !source.quietMarks)
                continue;
            std::vector<qint16> samples(std::size_t(paused ? 0 : source.fragment), source.value);
            const qint64 marker = qint64(source.markerAt * 16000) - first;
            for (qint64 i = std::max<qint64>(marker, 0); i < std::min<qint64>(marker + 8, qint64(samples.size())); ++i)
                samples[std::size_t(i)] = source.markerValue;
            double arrival = std::max(lastArrival, end + source.lateBy + delay(random));
            if (end > source.heldUp.first && end <= source.heldUp.second)
                arrival = std::max(arrival, source.heldUp.second + (end - source.heldUp.first) * source.heldUpPace);
            lastArrival = arrival;
            const double stamped = end + source.stampedAhead + stampJitter(random);
            const auto capturedAt = origin + std::chrono::nanoseconds(qint64(stamped * 1e9));
            deliveries.push_back(Delivery{arrival, end, source.microphone, TestAudio::chunkOf(samples), capturedAt});
        }
    }
    std::stable_sort(deliveries.begin(), deliveries.end(),
                     [](const Delivery &a, const Delivery &b) { return a.at < b.at; });
    return deliveries;
}

qint64 indexOf(const std::vector<qint16> &samples, qint16 value)
{
    const auto found = std::find(samples.begin(), samples.end(), value);
    return found == samples.end() ? -1 : qint64(found - samples.begin());
}

} // namespace MixerSimulation
