// The block loop a plug-in runs: for each frame, the left sample through
// channel 0 and then the right through channel 1, each output written before
// the next input is read, so in-place buffers work. 64-bit samples are
// rounded to single precision on the way in and widened on the way out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/denormal_flush.h"
#include "dsp/op_amp_chain.h"
#include "dsp/stereo_pipeline_avx2.h"
#include "dsp/stereo_pipeline_sse.h"
#include "dsp/stereo_short_run.h"

namespace varkel {

// Out of line: only buffers that overlap awkwardly come here.
template <typename Sample>
[[gnu::noinline]] void processStereoBlockScalar(VarkelState& state, ChainCoefficients& k, Sample* const* inputs,
                              Sample* const* outputs, int sampleFrames, std::uint32_t& rng,
                              const NoiseTables& tables) {
    ChannelState left = ChannelState::load(state, 0);
    ChannelState right = ChannelState::load(state, 1);
    const Sample* inL = inputs[0];
    const Sample* inR = inputs[1];
    Sample* outL = outputs[0];
    Sample* outR = outputs[1];
    for (int i = 0; i < sampleFrames; ++i) {
        k.update(state);
        outL[i] =
            static_cast<Sample>(processSample(left, k, static_cast<float>(inL[i]), rng, tables));
        k.update(state);
        outR[i] =
            static_cast<Sample>(processSample(right, k, static_cast<float>(inR[i]), rng, tables));
    }
    left.store(state, 0);
    right.store(state, 1);
}

// True when [a, a + bytes) and [b, b + bytes) share a byte.
template <typename Sample>
bool sharesBytes(const Sample* a, const Sample* b, std::size_t bytes) {
    const auto at = [](const Sample* p) { return reinterpret_cast<std::uintptr_t>(p); };
    return at(a) < at(b) + bytes && at(b) < at(a) + bytes;
}

// True when no output channel overlaps an input channel other than in the
// plain in-place way (the same buffer for the same channel). Then no output
// overwrites an input sample before it is read, and a run of frames may be
// read before their outputs are written, as the SSE path does.
template <typename Sample>
bool outputsSpareTheInputs(Sample* const* inputs, Sample* const* outputs, std::size_t frames) {
    for (int o = 0; o < 2; ++o)
        for (int i = 0; i < 2; ++i)
            if (sharesBytes(outputs[o], inputs[i], frames * sizeof(Sample)) &&
                !(o == i && outputs[o] == inputs[i]))
                return false;
    return true;
}

// The same for one frame, where only the left output can meet an input that
// is still to be read: the right one.
template <typename Sample>
bool oneFrameSparesTheInputs(Sample* const* inputs, Sample* const* outputs) {
    return !sharesBytes(outputs[0], inputs[1], sizeof(Sample));
}

// Below this many frames the pipeline's set-up costs more than its overlap
// gains.
inline constexpr int kShortestPipelinedRun = 8;

#if VARKEL_HAVE_SSE2_PIPELINE
// Out of line, so that a short block does not pay for saving the registers
// the pipeline uses.
template <typename Sample>
[[gnu::noinline]] void processPipelinedSse2(VarkelState& state, ChainCoefficients& k,
                                            Sample* const* inputs, Sample* const* outputs,
                                            int frames, std::uint32_t& rng,
                                            const NoiseTables& tables) {
    sse::StereoPipeline<sse::PairMiddle> pipeline(state, k);
    pipeline.process(state, k, inputs, outputs, frames, rng, tables);
    pipeline.store(state);
}
#endif

// k is the instance's coefficient cache, kept from block to block.
template <typename Sample>
void processStereoBlock(VarkelState& state, ChainCoefficients& k, Sample* const* inputs,
                        Sample* const* outputs, int sampleFrames) {
    if (sampleFrames <= 0) return;
    ScopedDenormalFlush flush;
    const NoiseTables& tables = builtNoiseTables();
    k.followRate(state);
    k.update(state);
    std::uint32_t rng = loadRandomState();

#if VARKEL_HAVE_SSE2_PIPELINE
    if (sampleFrames == 1
            ? oneFrameSparesTheInputs(inputs, outputs)
            : outputsSpareTheInputs(inputs, outputs, static_cast<std::size_t>(sampleFrames))) {
        if (sampleFrames < kShortestPipelinedRun) {
            sse::processShortRun(state, k, inputs, outputs, sampleFrames, rng, tables);
#if defined(VARKEL_HAVE_AVX2_PIPELINE)
        } else if (avx2PipelineEnabled()) {
            processStereoPipelineAvx2(state, k, inputs, outputs, sampleFrames, rng, tables);
#endif
        } else {
            processPipelinedSse2(state, k, inputs, outputs, sampleFrames, rng, tables);
        }
        storeRandomState(rng);
        return;
    }
#endif
    processStereoBlockScalar(state, k, inputs, outputs, sampleFrames, rng, tables);
    storeRandomState(rng);
}

template <typename Sample>
void processStereoBlock(VarkelState& state, Sample* const* inputs, Sample* const* outputs,
                        int sampleFrames) {
    ChainCoefficients k(state);
    processStereoBlock(state, k, inputs, outputs, sampleFrames);
}

}  // namespace varkel
