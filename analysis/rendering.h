// What the measurements share: test tones, and the renderer that runs a
// device, checks what it returns and reports progress.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "analysis/device.h"

namespace varkel::analysis {

// Long enough for the filters of an effect to forget the tone's onset (a
// 30 Hz DC blocker's transient is below -140 dB after 0.1 s).
inline constexpr double kSettleSeconds = 0.25;

double amplitudeOf(double dbfs);
std::size_t powerOfTwoAtLeast(double samples);
// "a 1000.0 Hz sine at -6.0 dBFS"
std::string describeTone(double frequency, double dbfs);
// amplitude sin(2 pi frequency n / rate), n = 0 .. length - 1.
Signal sine(double frequency, double amplitude, double rate, std::size_t length);

class Renderer {
public:
    Renderer(const Device& device, int total, const std::function<void(double)>& progress)
        : device(device), total(total < 1 ? 1 : total), progress(progress) {}

    // A fresh instance on a fresh thread; every output finite and as long as
    // the input, else AnalysisError naming what was played.
    std::vector<Signal> operator()(const Signal& input, const std::string& what) {
        return with(device, input, what);
    }
    // The same of another device (the first one oversampled), counted in the
    // same progress.
    std::vector<Signal> with(const Device& other, const Signal& input, const std::string& what);

private:
    const Device& device;
    int total;
    int done = 0;
    const std::function<void(double)>& progress;
};

}  // namespace varkel::analysis
