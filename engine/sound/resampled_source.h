// Frames from another source at another sample rate, resampled as they are
// read through libsoxr at its very high quality (band-limited, linear
// phase, its own delay taken out, so the first frame lines up with the
// source's first), a stretch at a time: memory stays the same however long
// the source is.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/sound/frame_source.h"

struct soxr;

namespace varkel::engine {

class ResampledSource : public FrameSource {
public:
    // doubles: the frames are read as doubles, else as floats; the other
    // kind is refused.
    ResampledSource(FrameSource& source, double fromRate, double toRate, bool doubles);
    ~ResampledSource() override;
    ResampledSource(const ResampledSource&) = delete;
    ResampledSource& operator=(const ResampledSource&) = delete;

    int channels() const override { return source.channels(); }
    sf_count_t read(float* frames, sf_count_t count) override;
    sf_count_t read(double* frames, sf_count_t count) override;
    void checkReadError() const override { source.checkReadError(); }

    // How many frames a source of sourceFrames becomes.
    static std::int64_t framesFor(std::int64_t sourceFrames, double fromRate, double toRate);

private:
    template <typename Sample>
    sf_count_t fill(Sample* frames, sf_count_t count, std::vector<Sample>& pending);

    FrameSource& source;
    soxr* resampler = nullptr;
    bool doubles;
    std::vector<float> floatsIn;
    std::vector<double> doublesIn;
    std::size_t pendingStart = 0;  // frames
    std::size_t pendingFrames = 0;
    bool sourceEnded = false;
    bool drained = false;
};

}  // namespace varkel::engine
