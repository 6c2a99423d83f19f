#include "engine/sound/loudness_meter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>

#include "engine/engine_error.h"

namespace varkel::engine {

struct LoudnessMeter::State {
    ebur128_state* meter;
};

namespace {

void check(int status) {
    if (status != EBUR128_SUCCESS)
        throw EngineError("libebur128 could not measure the loudness (error " +
                          std::to_string(status) + ")");
}

}  // namespace

double decibelsOf(double level) { return level > 0.0 ? 20.0 * std::log10(level) : -INFINITY; }

LoudnessMeter::LoudnessMeter(int channels, int sampleRate, bool range)
    : channelCount(channels), withRange(range) {
    const int mode = EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK | (range ? EBUR128_MODE_LRA : 0);
    ebur128_state* meter = ebur128_init(static_cast<unsigned>(channels),
                                        static_cast<unsigned long>(sampleRate), mode);
    if (meter == nullptr)
        throw EngineError("libebur128 cannot measure " + std::to_string(channels) +
                          " channels at " + std::to_string(sampleRate) + " Hz");
    state = new State{meter};
}

LoudnessMeter::~LoudnessMeter() {
    ebur128_destroy(&state->meter);
    delete state;
}

void LoudnessMeter::add(const float* frames, std::size_t count) {
    check(ebur128_add_frames_float(state->meter, frames, count));
}

void LoudnessMeter::add(const double* frames, std::size_t count) {
    check(ebur128_add_frames_double(state->meter, frames, count));
}

double LoudnessMeter::integratedLufs() const {
    double loudness = 0.0;
    check(ebur128_loudness_global(state->meter, &loudness));
    // libebur128 gives -HUGE_VAL where every block was gated out.
    return std::isfinite(loudness) ? loudness : -INFINITY;
}

double LoudnessMeter::rangeLu() const {
    if (!withRange) return 0.0;
    double range = 0.0;
    check(ebur128_loudness_range(state->meter, &range));
    return range;
}

double LoudnessMeter::truePeak() const {
    double highest = 0.0;
    for (int channel = 0; channel < channelCount; ++channel) {
        double peak = 0.0;
        check(ebur128_true_peak(state->meter, static_cast<unsigned>(channel), &peak));
        highest = std::max(highest, peak);
    }
    return highest;
}

Loudness LoudnessMeter::result() const {
    return {integratedLufs(), rangeLu(), decibelsOf(truePeak())};
}

}  // namespace varkel::engine
