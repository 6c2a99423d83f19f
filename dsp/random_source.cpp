#include "dsp/random_source.h"

namespace varkel {

constinit thread_local std::uint32_t randomState VARKEL_TLS_MODEL = 1;

void resetRandom(std::uint32_t state) { randomState = state; }

}  // namespace varkel
