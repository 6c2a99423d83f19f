// Helpers for driving the varkel-host binary end to end: running it,
// scratch folders, and making and reading the sound files it works on.
#pragma once

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

inline double db(double ratio) { return 20.0 * std::log10(ratio); }
inline constexpr int kWavFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT;

struct RunResult {
    int status = -1;  // exit status; 128 + n when killed by signal n
    std::string out;
    std::string err;
    long maxResidentKb = 0;
};

// Runs varkel-host with args and waits for it to end.
RunResult runHost(const std::vector<std::string>& args);
// Runs a program (found on PATH unless a path) with args, with the
// environment's variables as given ("NAME=value") and the rest inherited.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& environment);
// The same, sending signal as soon as ready() holds (polled every
// millisecond, for at most ten seconds), and again repeatAfterMs later when
// that is 0 or more; killed (status 137) if still running 30 s on.
RunResult runHost(const std::vector<std::string>& args, int signal,
                  const std::function<bool()>& ready, int repeatAfterMs = -1);

// A refusal as the tool gives one: the status, one line on stderr holding
// message, nothing on stdout.
void expectRefusal(const RunResult& run, const std::string& message, int status);

// A fresh folder under /tmp, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string operator/(const std::string& name) const { return root + "/" + name; }
    const std::string& path() const { return root; }
    // Entries directly inside.
    std::size_t entryCount() const;
    // Every entry (recursively) with the bytes of each regular file.
    std::map<std::string, std::string> snapshot() const;

private:
    std::string root;
};

struct Sound {
    SF_INFO info{};
    std::vector<float> samples;  // interleaved
    float at(std::int64_t frame, int channel) const {
        return samples[static_cast<std::size_t>(frame * info.channels + channel)];
    }
};

using SampleFunction = std::function<float(std::int64_t frame, int channel)>;

void writeSound(const std::string& path, int format, int channels, int sampleRate,
                std::int64_t frames, const SampleFunction& sample);
Sound readSound(const std::string& path);
std::string fileBytes(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);

// Tones that differ per channel plus a little hashed noise, within +-0.7,
// so that swapped or mixed-up channels show.
float testSignal(std::int64_t frame, int channel);

// Varkel.so run directly through the host library in one block, on a
// thread of its own so that its noise generator starts afresh as it does in
// a new varkel-host process. A mono input feeds both inputs. Parameters are
// (index, value) pairs. Returns interleaved stereo.
std::vector<float> directRender(const Sound& input,
                                const std::vector<std::pair<int, float>>& parameters);

}  // namespace e2e
