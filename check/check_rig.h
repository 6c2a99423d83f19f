// A plug-in instance as the check's tests drive it: opened and started at a
// rate, fed planar audio block by block in a chosen pattern of block sizes,
// in place or out of place, with a hook before each block (to change a
// parameter or queue MIDI).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/plugins/plugin.h"

namespace varkel::check {

// One vector per channel, all of one length.
using Audio = std::vector<std::vector<float>>;

inline constexpr int kLargestBlock = 4096;

// The block sizes a render is cut into: one size throughout, or sizes drawn
// at random from 1 to the largest (small ones more often) from a seed.
class BlockPattern {
public:
    static BlockPattern fixed(int frames) { return BlockPattern(frames, 0); }
    static BlockPattern random(std::uint32_t seed) { return BlockPattern(0, seed); }
    int next();
    std::string describe() const;

private:
    BlockPattern(int frames, std::uint32_t seed) : frames(frames), seed(seed), draw(seed) {}
    int frames;
    std::uint32_t seed;
    std::mt19937 draw;
};

// channels of a test signal: a tone per channel plus hashed noise, within
// +-0.5, so that each channel differs from the others.
Audio testSignal(int channels, std::size_t frames, double rate);
Audio silence(int channels, std::size_t frames);

// Where the first sample that is not finite is, as "output 2, frame 17".
std::optional<std::string> firstNonFinite(const Audio& audio);
// The largest |sample| in dBFS over frames [from, to) of every channel;
// -inf for silence.
double peakDbfs(const Audio& audio, std::size_t from, std::size_t to);
// The largest |a - b| in dB relative to full scale; -inf when equal.
double differenceDb(const Audio& a, const Audio& b);
bool sameBits(const Audio& a, const Audio& b);

class Rig {
public:
    // Opens and starts the plug-in; throws EngineError as openPlugin does.
    Rig(const std::string& plugin, double rate,
        engine::ProcessMode mode = engine::ProcessMode::Offline);
    ~Rig();

    engine::Plugin& plugin() { return *instance; }
    double rate() const { return sampleRate; }

    // Called with the frame a block starts at and its length, before it is
    // processed.
    using BeforeBlock = std::function<void(std::int64_t at, int frames)>;

    // input: one channel per plug-in input (or none for an instrument), as
    // long as frames. Returns one channel per output.
    Audio render(const Audio& input, std::size_t frames, BlockPattern pattern, bool inPlace = false,
                 const BeforeBlock& before = {});
    // Switched off and on again, as a host does between songs.
    void restart();

private:
    std::unique_ptr<engine::Plugin> instance;
    double sampleRate;
    Audio inputs, outputs;
    std::vector<float*> inputPointers, outputPointers;
};

}  // namespace varkel::check
