// Blocks too short to fill the pipeline's stages (a host splitting its cycle
// at automation points gives runs of a few frames): each frame through the
// whole chain at once, both channels side by side, with no run to set up.
// Each frame's inputs are read before its outputs are written, so this suits
// buffers that spare the inputs (see outputsSpareTheInputs).
#pragma once

#include "dsp/sse_lanes.h"

#if VARKEL_HAVE_SSE2_LANES

#include <cstdint>

#include "dsp/chain_stages.h"
#include "dsp/op_amp_chain.h"
#include "dsp/stereo_pipeline_sse.h"

namespace varkel::sse {

// Left and right in lanes 0, 1, repeated in lanes 2, 3 so that the spare
// lanes never take the dead zone's knee on their own.
inline __m128 stereoLanes(float left, float right) {
    const __m128 pair = _mm_unpacklo_ps(_mm_set_ss(left), _mm_set_ss(right));
    return _mm_movelh_ps(pair, pair);
}

// k holds the coefficients of the first frame; the parameters are read again
// at every later one.
template <typename Sample>
void processShortRun(VarkelState& state, ChainCoefficients& k, Sample* const* inputs,
                     Sample* const* outputs, int frames, std::uint32_t& rng,
                     const NoiseTables& tables) {
    Lanes low = pairOf(state.lowState), band = pairOf(state.bandState);
    Lanes slew = pairOf(state.slewPrev), dcIn = pairOf(state.dcPrevIn);
    Lanes dcOut = pairOf(state.dcPrevOut);
    const Lanes lowCoefficient(_mm_load_ps(k.quads.lowCoefficient));
    const Lanes maxSlew(_mm_load_ps(k.quads.maxSlew)), minSlew(_mm_load_ps(k.quads.minSlew));
    const Lanes dcPole(_mm_load_ps(k.quads.dcPole));
    RunCoefficients c;
    c.set(k);
    const Sample* inL = inputs[0];
    const Sample* inR = inputs[1];
    Sample* outL = outputs[0];
    Sample* outR = outputs[1];
    for (int i = 0; i < frames; ++i) {
        if (i > 0 && k.update(state)) c.set(k);
        const Lanes x = stereoLanes(static_cast<float>(inL[i]), static_cast<float>(inR[i]));
        const Lanes b =
            stage::front<true, Lanes>(x, low, band, c.gIn, lowCoefficient, c.bandCoefficient);
        const float zLeft = gaussianDeviate(rng, tables);
        const float zRight = gaussianDeviate(rng, tables);
        const Lanes v = stage::middle<Lanes>(b, stereoLanes(zLeft, zRight), c.deadZone,
                                             c.deadZoneKnee, c.noiseLevel);
        const Lanes y =
            stage::back<Lanes>(v, slew, dcIn, dcOut, maxSlew, minSlew, dcPole, c.gOut);
        outL[i] = static_cast<Sample>(_mm_cvtss_f32(y.v));
        outR[i] = static_cast<Sample>(_mm_cvtss_f32(_mm_shuffle_ps(y.v, y.v, _MM_SHUFFLE(1, 1, 1, 1))));
    }
    storePair(low.v, state.lowState);
    storePair(band.v, state.bandState);
    storePair(slew.v, state.slewPrev);
    storePair(dcIn.v, state.dcPrevIn);
    storePair(dcOut.v, state.dcPrevOut);
}

}  // namespace varkel::sse

#endif
