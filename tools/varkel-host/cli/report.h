// What the user sees while and after a file renders: a progress bar on a
// terminal, the level statistics of the output, and the one-line summary.
#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>

namespace varkel::tool {

// Peak, RMS and the samples an integer format cannot hold, over every
// sample of every channel written.
class LevelMeter {
public:
    void add(double sample) {
        if (!std::isfinite(sample)) {
            ++nonFinite;
            return;
        }
        const double magnitude = std::fabs(sample);
        if (magnitude > peak) peak = magnitude;
        if (magnitude > 1.0) ++overFullScale;
        sumOfSquares += sample * sample;
        ++count;
    }

    double peakLevel() const { return peak; }
    double rmsLevel() const {
        return count == 0 ? 0.0 : std::sqrt(sumOfSquares / static_cast<double>(count));
    }
    std::uint64_t samplesOverFullScale() const { return overFullScale; }
    std::uint64_t nonFiniteSamples() const { return nonFinite; }

private:
    double peak = 0.0;
    double sumOfSquares = 0.0;
    std::uint64_t count = 0;
    std::uint64_t overFullScale = 0;
    std::uint64_t nonFinite = 0;
};

class ProgressBar {
public:
    // Draws on stderr, and only when enabled and stderr is a terminal.
    ProgressBar(bool enabled, std::int64_t totalFrames);
    ~ProgressBar() { finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Redraws at most a few times a second.
    void update(std::int64_t framesDone);
    // The same, for a total first known while rendering.
    void update(std::int64_t framesDone, std::int64_t totalFrames) {
        total = totalFrames;
        update(framesDone);
    }
    // Clears the bar's line.
    void finish();

private:
    void draw(std::int64_t framesDone);

    bool active;
    std::int64_t total;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point lastDrawn;
};

struct RenderSummary {
    std::string output;
    std::int64_t frames = 0;
    int sampleRate = 0;
    double elapsedSeconds = 0.0;
    bool integerOutput = false;
    std::string channelMapping;  // empty for one instance taking the file as it is
    std::string lossyCodec;      // empty for a lossless output
    LevelMeter levels;
};

// "<file>: <frames> frames, <s> s, <x>x realtime, peak <dB> dBFS, RMS <dB> dBFS",
// then "; <mapping>" and "; lossy (<codec>)" where they apply.
std::string summaryLine(const RenderSummary& summary);
// Empty when every sample fitted the output format.
std::string levelWarning(const RenderSummary& summary);

// The summary line on stdout, then any warning on stderr.
void printSummary(const RenderSummary& summary);

// "m:ss", rounded to the second.
std::string clockText(double seconds);

// "-6.02 dBFS"; "-inf dBFS" for silence.
std::string dbfs(double level);

}  // namespace varkel::tool
