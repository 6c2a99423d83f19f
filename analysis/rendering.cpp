#include "analysis/rendering.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "analysis/measurements.h"
#include "host/fresh_thread.h"

namespace varkel::analysis {

double amplitudeOf(double dbfs) { return std::pow(10.0, dbfs / 20.0); }

std::size_t powerOfTwoAtLeast(double samples) {
    std::size_t n = 1024;
    while (static_cast<double>(n) < samples) n *= 2;
    return n;
}

std::string describeTone(double frequency, double dbfs) {
    char text[96];
    std::snprintf(text, sizeof(text), "a %.1f Hz sine at %.1f dBFS", frequency, dbfs);
    return text;
}

Signal sine(double frequency, double amplitude, double rate, std::size_t length) {
    Signal signal(length);
    const double omega = 2.0 * std::numbers::pi * frequency / rate;
    for (std::size_t n = 0; n < length; ++n)
        signal[n] = static_cast<float>(amplitude * std::sin(omega * static_cast<double>(n)));
    return signal;
}

std::vector<Signal> Renderer::with(const Device& other, const Signal& input,
                                   const std::string& what) {
    std::vector<Signal> outputs;
    host::onFreshThread([&] { outputs = other.render(input); });
    if (static_cast<int>(outputs.size()) != other.outputs())
        throw AnalysisError(other.description() + " returned the wrong number of outputs");
    for (std::size_t c = 0; c < outputs.size(); ++c) {
        if (outputs[c].size() != input.size())
            throw AnalysisError(other.description() + " returned a short render");
        if (!std::all_of(outputs[c].begin(), outputs[c].end(),
                         [](float s) { return std::isfinite(s); }))
            throw AnalysisError(other.description() +
                                " produced non-finite samples (NaN or infinity) on output " +
                                std::to_string(c + 1) + " for " + what);
    }
    ++done;
    if (progress) progress(std::min(1.0, static_cast<double>(done) / total));
    return outputs;
}

}  // namespace varkel::analysis
