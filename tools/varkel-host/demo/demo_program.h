// Test material for the demo: two bars of a drum pattern, two more with a
// bass line over it, then a sine sweep over the audible range. Every sample
// is a pure function of its frame index, so the program can be generated
// block by block and comes out the same every time.
#pragma once

#include <cstdint>
#include <vector>

namespace varkel::tool {

class DemoProgram {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;

    DemoProgram();

    std::int64_t frames() const;
    // Interleaved stereo frames first .. first + count - 1.
    void render(float* interleaved, std::int64_t first, std::int64_t count) const;

private:
    enum class Voice { Kick, Snare, HiHat, Bass };
    struct Hit {
        double start;  // seconds
        Voice voice;
        double level;      // 0..1
        double frequency;  // bass only
        double length;     // bass only, seconds
    };

    void frame(std::int64_t index, float& left, float& right) const;
    double voiceSample(const Hit& hit, double t, std::int64_t index) const;

    std::vector<Hit> hits;  // by start time
};

}  // namespace varkel::tool
