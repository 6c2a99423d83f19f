// Loudness as ITU-R BS.1770-4 and EBU R 128 define it, through libebur128:
// integrated loudness (gated), loudness range and true peak, over every
// frame added. Channels weigh as libebur128 takes them by default: left,
// right, centre, LFE (left out), left and right surround.
#pragma once

#include <cstddef>

namespace varkel::engine {

struct Loudness {
    double integratedLufs = 0.0;  // -inf: silent, or gated out throughout
    double rangeLu = 0.0;
    double truePeakDbtp = 0.0;  // -inf: silent
};

class LoudnessMeter {
public:
    // range: also the loudness range, which costs memory as the file goes on.
    LoudnessMeter(int channels, int sampleRate, bool range);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Interleaved frames.
    void add(const float* frames, std::size_t count);
    void add(const double* frames, std::size_t count);

    double integratedLufs() const;
    double rangeLu() const;  // 0 unless made with range
    // The highest of the channels' true peaks, as a level (1: full scale).
    double truePeak() const;
    Loudness result() const;

private:
    struct State;  // libebur128's
    State* state = nullptr;
    int channelCount;
    bool withRange;
};

// As a level: 20 log10, -inf for 0.
double decibelsOf(double level);

}  // namespace varkel::engine
