#include "analysis/oversampled_device.h"

#include <soxr.h>

#include <cmath>

#include "analysis/measurements.h"

namespace varkel::analysis {

Signal resample(const Signal& signal, double factor) {
    Signal out(static_cast<std::size_t>(std::llround(static_cast<double>(signal.size()) * factor)));
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    std::size_t done = 0;
    const soxr_error_t error = soxr_oneshot(1.0, factor, 1, signal.data(), signal.size(), nullptr,
                                            out.data(), out.size(), &done, nullptr, &quality,
                                            nullptr);
    if (error != nullptr) throw AnalysisError(std::string("libsoxr could not resample: ") + error);
    // The last frames of the filter's reach stay silent.
    return out;
}

std::string OversampledDevice::description() const {
    return inner.description() + ", " + std::to_string(factor) + "x oversampled";
}

std::vector<Signal> OversampledDevice::render(const Signal& input) const {
    std::vector<Signal> outputs = inner.render(resample(input, factor));
    for (Signal& output : outputs) output = resample(output, 1.0 / factor);
    return outputs;
}

}  // namespace varkel::analysis
