#include "dsp/noise_tables.h"

#include <cmath>
#include <mutex>

namespace varkel {

namespace {
NoiseTables tables;
std::once_flag tablesBuilt;
}  // namespace

void computeNoiseTables(NoiseTables& out) {
    for (int r = 0; r < kDrawValues; ++r) {
        const float angle = static_cast<float>(r) * kAngleScale;
        out.cosine[r] = static_cast<float>(std::cos(static_cast<double>(angle)));
        const float u = static_cast<float>(r) * kUniformScale;
        out.radius[r] = r == 0 ? 0.0 : std::sqrt(-2.0 * std::log(static_cast<double>(u)));
    }
}

const NoiseTables& ensureNoiseTables() {
    std::call_once(tablesBuilt, [] { computeNoiseTables(tables); });
    return tables;
}

const NoiseTables& builtNoiseTables() { return tables; }

}  // namespace varkel
