// The noise tables of a cross-built module: compiled in rather than computed
// at first use. MinGW's log rounds some radii differently in the last place
// from glibc's, so the target's own maths library would change the noise;
// the build machine computes them instead (noise_tables_generator.cpp).
#include "dsp/noise_tables.h"

namespace varkel {

extern const NoiseTables kPrebuiltNoiseTables;  // generated source

const NoiseTables& ensureNoiseTables() { return kPrebuiltNoiseTables; }

const NoiseTables& builtNoiseTables() { return kPrebuiltNoiseTables; }

void computeNoiseTables(NoiseTables& out) { out = kPrebuiltNoiseTables; }

}  // namespace varkel
