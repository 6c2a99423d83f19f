// The block loop a plug-in runs: for each frame, the left sample through
// channel 0 and then the right through channel 1, each output written before
// the next input is read, so in-place buffers work. 64-bit samples are
// rounded to single precision on the way in and widened on the way out.
#pragma once

#include "dsp/denormal_flush.h"
#include "dsp/op_amp_chain.h"

namespace varkel {

template <typename Sample>
void processStereoBlock(VarkelState& state, Sample* const* inputs, Sample* const* outputs,
                        int sampleFrames) {
    if (sampleFrames <= 0) return;
    ScopedDenormalFlush flush;
    const NoiseTables& tables = builtNoiseTables();
    ChainCoefficients k(state);
    ChannelState left = ChannelState::load(state, 0);
    ChannelState right = ChannelState::load(state, 1);
    std::uint32_t rng = randomState;

    const Sample* inL = inputs[0];
    const Sample* inR = inputs[1];
    Sample* outL = outputs[0];
    Sample* outR = outputs[1];
    for (int i = 0; i < sampleFrames; ++i) {
        k.update(state);
        outL[i] = static_cast<Sample>(processSample(left, k, static_cast<float>(inL[i]), rng, tables));
        k.update(state);
        outR[i] = static_cast<Sample>(processSample(right, k, static_cast<float>(inR[i]), rng, tables));
    }

    randomState = rng;
    left.store(state, 0);
    right.store(state, 1);
}

}  // namespace varkel
