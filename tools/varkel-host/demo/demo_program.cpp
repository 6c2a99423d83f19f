#include "tools/varkel-host/demo/demo_program.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace varkel::tool {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kStep = 0.125;  // a sixteenth at 120 beats per minute
constexpr double kBar = 16 * kStep;
constexpr double kDrumsEnd = 4 * kBar;  // drums alone for two bars, then with the bass
constexpr double kBassStart = 2 * kBar;
constexpr double kSweepStart = kDrumsEnd + 0.5;
constexpr double kSweepLength = 4.0;
constexpr double kSweepLow = 20.0;
constexpr double kSweepHigh = 20000.0;
constexpr double kProgramLength = kSweepStart + kSweepLength + 0.5;
constexpr double kLongestTail = 0.6;  // no voice sounds longer after its start
constexpr double kMasterGain = 0.75;  // peaks near -3.5 dBFS

// A stateless white noise: a 32-bit integer hash of the frame and a salt,
// mapped to -1..1.
double noise(std::int64_t index, std::uint32_t salt) {
    std::uint32_t x = static_cast<std::uint32_t>(index) * 0x9E3779B9u ^ salt;
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return static_cast<double>(x) / 2147483648.0 - 1.0;
}

double midiToHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

}  // namespace

DemoProgram::DemoProgram() {
    constexpr int kKickSteps[] = {0, 6, 8, 11};
    constexpr int kSnareSteps[] = {4, 12};
    for (int bar = 0; bar < 4; ++bar) {
        const double barStart = bar * kBar;
        for (const int step : kKickSteps)
            hits.push_back({barStart + step * kStep, Voice::Kick, 1.0, 0, 0});
        for (const int step : kSnareSteps)
            hits.push_back({barStart + step * kStep, Voice::Snare, 1.0, 0, 0});
        for (int step = 0; step < 16; ++step)
            hits.push_back(
                {barStart + step * kStep, Voice::HiHat, step % 2 == 0 ? 1.0 : 0.5, 0, 0});
    }
    // Eighth notes in E minor, two bars.
    constexpr int kBassNotes[] = {28, 28, 31, 28, 33, 28, 38, 35, 28, 28, 31, 33, 36, 35, 31, 38};
    for (int i = 0; i < 16; ++i)
        hits.push_back(
            {kBassStart + i * 2 * kStep, Voice::Bass, 1.0, midiToHz(kBassNotes[i]), 0.22});
    std::stable_sort(hits.begin(), hits.end(),
                     [](const Hit& a, const Hit& b) { return a.start < b.start; });
}

std::int64_t DemoProgram::frames() const {
    return static_cast<std::int64_t>(kProgramLength * kSampleRate);
}

double DemoProgram::voiceSample(const Hit& hit, double t, std::int64_t index) const {
    switch (hit.voice) {
        case Voice::Kick: {
            // A sine falling from 140 Hz to 45 Hz, and a click on top.
            const double phase = kTwoPi * (45.0 * t + 95.0 * 0.04 * (1.0 - std::exp(-t / 0.04)));
            return 0.5 * std::exp(-t / 0.28) * std::sin(phase) +
                   0.15 * std::exp(-t / 0.002) * noise(index, 1);
        }
        case Voice::Snare:
            return 0.25 * std::exp(-t / 0.07) * noise(index, 2) +
                   0.2 * std::exp(-t / 0.04) * std::sin(kTwoPi * 185.0 * t);
        case Voice::HiHat:
            if (t > 0.1) return 0.0;
            // Differenced noise: white noise tilted towards the top octaves.
            return 0.06 * hit.level * std::exp(-t / 0.015) *
                   (noise(index, 3) - noise(index - 1, 3));
        case Voice::Bass: {
            // A soft sawtooth: harmonics falling faster than 1/k, below Nyquist.
            double saw = 0.0;
            for (int k = 1; k <= 8 && k * hit.frequency < 0.45 * kSampleRate; ++k)
                saw += std::sin(kTwoPi * k * hit.frequency * t) / std::pow(k, 1.3);
            const double attack = std::min(1.0, t / 0.004);
            const double body = 0.6 + 0.4 * std::exp(-t / 0.15);
            const double release =
                t < hit.length ? 1.0 : std::max(0.0, 1.0 - (t - hit.length) / 0.03);
            return 0.16 * saw * attack * body * release;
        }
    }
    return 0.0;
}

void DemoProgram::frame(std::int64_t index, float& left, float& right) const {
    const double t = static_cast<double>(index) / kSampleRate;
    double mid = 0.0;
    double hat = 0.0;
    auto first = std::lower_bound(hits.begin(), hits.end(), t - kLongestTail,
                                  [](const Hit& hit, double time) { return hit.start < time; });
    for (auto hit = first; hit != hits.end() && hit->start <= t; ++hit) {
        const double sample = voiceSample(*hit, t - hit->start, index);
        (hit->voice == Voice::HiHat ? hat : mid) += sample;
    }
    if (t >= kSweepStart && t < kSweepStart + kSweepLength) {
        // Exponential sweep: equal time per octave. Short fades avoid clicks.
        const double s = t - kSweepStart;
        const double octaves = std::log(kSweepHigh / kSweepLow);
        const double phase = kTwoPi * kSweepLow * kSweepLength / octaves *
                             (std::exp(s * octaves / kSweepLength) - 1.0);
        const double fade = std::min({1.0, s / 0.01, (kSweepLength - s) / 0.01});
        mid += 0.4 * fade * std::sin(phase);
    }
    // Hi-hats sit right of centre.
    left = static_cast<float>(kMasterGain * (mid + 0.6 * hat));
    right = static_cast<float>(kMasterGain * (mid + hat));
}

void DemoProgram::render(float* interleaved, std::int64_t first, std::int64_t count) const {
    for (std::int64_t i = 0; i < count; ++i)
        frame(first + i, interleaved[2 * i], interleaved[2 * i + 1]);
}

}  // namespace varkel::tool
