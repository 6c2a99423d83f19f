// Whether a measured response is the linear one: a device that compresses,
// clips or has a dead zone at the measuring level gives a gain that changes
// with level, and its curve is then only what happened at that level.
#pragma once

#include <optional>
#include <string>

#include "analysis/measurements.h"

namespace varkel::analysis {

// More change than this between the level and kQuieterByDb below it is
// reported.
inline constexpr double kLevelDependenceDb = 0.1;

struct LevelDependence {
    int channel = 0;
    double frequency = 0.0;
    double changeDb = 0.0;  // the gain at the level minus the gain kQuieterByDb lower
};

// The largest change of gain with level over every output and frequency,
// when it exceeds kLevelDependenceDb.
std::optional<LevelDependence> levelDependence(const ResponseResult& response);

// "at 18.0 kHz the gain at -30 dBFS is 2.70 dB below that at -40 dBFS (out 1)"
std::string describeLevelDependence(const LevelDependence& dependence,
                                    const ResponseResult& response);

}  // namespace varkel::analysis
