#include <atomic>

#include "dsp/stereo_pipeline_avx2.h"

namespace varkel {
namespace {

bool processorRunsAvx2Pipeline() {
#if defined(VARKEL_HAVE_AVX2_PIPELINE)
    // Asked once as the module loads, before any audio thread runs.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

const bool processorHasAvx2Pipeline = processorRunsAvx2Pipeline();
std::atomic<bool> avx2PipelineAllowed{true};

}  // namespace

bool avx2PipelineEnabled() {
    return processorHasAvx2Pipeline && avx2PipelineAllowed.load(std::memory_order_relaxed);
}

void enableAvx2Pipeline(bool enabled) {
    avx2PipelineAllowed.store(enabled, std::memory_order_relaxed);
}

}  // namespace varkel
