#include "engine/sound/resampled_source.h"

#include <soxr.h>

#include <cmath>
#include <string>

#include "engine/engine_error.h"

namespace varkel::engine {

namespace {

// Source frames read at a time.
constexpr std::size_t kSourceChunk = 16384;

}  // namespace

ResampledSource::ResampledSource(FrameSource& source, double fromRate, double toRate,
                                 bool doubles)
    : source(source), doubles(doubles) {
    const soxr_datatype_t type = doubles ? SOXR_FLOAT64_I : SOXR_FLOAT32_I;
    const soxr_io_spec_t io = soxr_io_spec(type, type);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    // One thread: the render's own, and the same bits whatever the machine.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    resampler = soxr_create(fromRate, toRate, static_cast<unsigned>(source.channels()), &error,
                            &io, &quality, &runtime);
    if (error != nullptr)
        throw EngineError(std::string("libsoxr cannot resample from ") + std::to_string(fromRate) +
                          " Hz to " + std::to_string(toRate) + " Hz (" + error + ")");
}

ResampledSource::~ResampledSource() { soxr_delete(resampler); }

std::int64_t ResampledSource::framesFor(std::int64_t sourceFrames, double fromRate,
                                        double toRate) {
    return std::llround(static_cast<double>(sourceFrames) * toRate / fromRate);
}

sf_count_t ResampledSource::read(float* frames, sf_count_t count) {
    if (doubles) throw EngineError("the resampler was made for doubles, not floats");
    return fill(frames, count, floatsIn);
}

sf_count_t ResampledSource::read(double* frames, sf_count_t count) {
    if (!doubles) throw EngineError("the resampler was made for floats, not doubles");
    return fill(frames, count, doublesIn);
}

template <typename Sample>
sf_count_t ResampledSource::fill(Sample* frames, sf_count_t count, std::vector<Sample>& pending) {
    const auto channels = static_cast<std::size_t>(source.channels());
    const auto wanted = static_cast<std::size_t>(std::max<sf_count_t>(count, 0));
    std::size_t done = 0;
    while (done < wanted && !drained) {
        if (pendingFrames == 0 && !sourceEnded) {
            pending.resize(kSourceChunk * channels);
            const sf_count_t got = source.read(pending.data(), static_cast<sf_count_t>(kSourceChunk));
            pendingStart = 0;
            pendingFrames = got > 0 ? static_cast<std::size_t>(got) : 0;
            sourceEnded = pendingFrames == 0;
        }
        // No input: the end, which flushes what the filter holds.
        const Sample* in = sourceEnded ? nullptr : pending.data() + pendingStart * channels;
        std::size_t used = 0;
        std::size_t made = 0;
        const soxr_error_t error = soxr_process(resampler, in, pendingFrames, &used,
                                                frames + done * channels, wanted - done, &made);
        if (error != nullptr) throw EngineError(std::string("libsoxr failed: ") + error);
        pendingStart += used;
        pendingFrames -= used;
        done += made;
        if (sourceEnded && made == 0) drained = true;
    }
    return static_cast<sf_count_t>(done);
}

}  // namespace varkel::engine
