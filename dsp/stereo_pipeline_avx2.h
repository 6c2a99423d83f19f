// The stereo pipeline with its stateless middle (soft clipper, dead zone,
// rail clamp and noise) four frames at a time on AVX2, for processors that
// have it. Its output is the bits of the SSE2 pipeline: the same IEEE
// operations lane by lane, and the same draws in the same order.
#pragma once

#include <cstdint>

#include "dsp/noise_tables.h"
#include "dsp/op_amp_chain.h"
#include "dsp/varkel.h"

namespace varkel {

// True when this build has the AVX2 pipeline and the processor runs it,
// unless a test has turned it off.
bool avx2PipelineEnabled();

// Test seam: runs the SSE2 pipeline on a processor with AVX2 too.
void enableAvx2Pipeline(bool enabled);

// Only after avx2PipelineEnabled() has said yes, in builds that define
// VARKEL_HAVE_AVX2_PIPELINE. As the SSE2 pipeline's process and store.
void processStereoPipelineAvx2(VarkelState& state, ChainCoefficients& k, float* const* inputs,
                               float* const* outputs, int frames, std::uint32_t& rng,
                               const NoiseTables& tables);
void processStereoPipelineAvx2(VarkelState& state, ChainCoefficients& k, double* const* inputs,
                               double* const* outputs, int frames, std::uint32_t& rng,
                               const NoiseTables& tables);

}  // namespace varkel
