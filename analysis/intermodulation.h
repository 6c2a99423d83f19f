// Intermodulation distortion against level by IEC 60268-3's two methods.
// Modulation distortion (SMPTE/DIN): 60 Hz and 7 kHz at 4:1; the two
// sidebands f2 - n f1 and f2 + n f1 of each order n = 1..3 added
// arithmetically, then the RMS sum over the orders, relative to f2.
// Difference-frequency distortion (CCIF): 19 and 20 kHz at 1:1; d2 the
// product at f2 - f1, d3 the sum of those at 2 f1 - f2 and 2 f2 - f1, each
// relative to 2 U(f2). The level is the pair's peak (the sum of their
// amplitudes at the input). Every tone and product sits on an FFT bin.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "analysis/analysis_plan.h"
#include "analysis/rendering.h"

namespace varkel::analysis {

// Products below this, relative to their reference, are reported as below
// the floor: an odd-order device makes no d2, which is not an error.
inline constexpr double kImdFloorDb = -130.0;

inline constexpr int kSmpteOrders = 3;

struct ImdChannel {
    std::optional<double> smpteDb;
    // Each sideband f2 - n f1 and f2 + n f1 (n = 1..3) relative to f2.
    std::vector<double> smpteLowerDb, smpteUpperDb;
    std::optional<double> d2Db;  // f2 - f1, re 2 U(f2)
    std::optional<double> d3Db;  // 2 f1 - f2 and 2 f2 - f1 summed, re 2 U(f2)
    // Each d3 product on its own, relative to the sum of the two tones.
    std::optional<double> d3LowDb;   // 2 f1 - f2
    std::optional<double> d3HighDb;  // 2 f2 - f1
};

struct ImdPoint {
    double levelDbfs = 0.0;
    std::vector<ImdChannel> channels;
};

struct TonePair {
    double f1 = 0.0;  // bin-exact
    double f2 = 0.0;
    double ratio = 1.0;  // amplitude of f1 over that of f2
};

struct ImdResult {
    std::size_t fftLength = 0;
    // Empty where the rate is too low for the method's tones and products.
    std::optional<TonePair> smpte;
    std::optional<TonePair> ccif;
    std::vector<ImdPoint> points;
};

int imdRenderCount(const AnalysisPlan& plan);
ImdResult measureImd(const Device& device, const AnalysisPlan& plan, Renderer& render);

}  // namespace varkel::analysis
