// A device run at a multiple of the rate between two resamplers (libsoxr):
// the signal is resampled up before it and each output down after it, so
// that it can be measured as if at the rate, and what oversampling buys it
// seen: harmonics it makes above the rate's Nyquist frequency are filtered
// away instead of folding back.
#pragma once

#include "analysis/device.h"

namespace varkel::analysis {

class OversampledDevice : public Device {
public:
    // inner runs at factor times the rate the signals are given at.
    OversampledDevice(const Device& inner, int factor) : inner(inner), factor(factor) {}

    int outputs() const override { return inner.outputs(); }
    std::string description() const override;
    std::vector<Signal> render(const Signal& input) const override;
    int reportedLatency() const override { return inner.reportedLatency() / factor; }

private:
    const Device& inner;
    int factor;
};

// signal resampled by factor (up when above 1, down when below), delay
// compensated, at libsoxr's very high quality; length signal.size() x factor.
Signal resample(const Signal& signal, double factor);

}  // namespace varkel::analysis
