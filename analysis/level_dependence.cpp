#include "analysis/level_dependence.h"

#include <cmath>
#include <cstdio>

namespace varkel::analysis {

std::optional<LevelDependence> levelDependence(const ResponseResult& response) {
    std::optional<LevelDependence> largest;
    for (std::size_t c = 0; c < response.channels.size(); ++c) {
        const auto& change = response.channels[c].gainChangeDb;
        for (std::size_t i = 0; i < change.size(); ++i)
            if (std::fabs(change[i]) > kLevelDependenceDb &&
                (!largest || std::fabs(change[i]) > std::fabs(largest->changeDb)))
                largest = LevelDependence{static_cast<int>(c), response.frequencies[i], change[i]};
    }
    return largest;
}

std::string describeLevelDependence(const LevelDependence& dependence,
                                    const ResponseResult& response) {
    char text[160];
    const bool kilohertz = dependence.frequency >= 1000.0;
    std::snprintf(
        text, sizeof(text), "at %.*f %s the gain at %g dBFS is %.2f dB %s that at %g dBFS (out %d)",
        kilohertz ? 2 : 1, kilohertz ? dependence.frequency / 1000.0 : dependence.frequency,
        kilohertz ? "kHz" : "Hz", response.levelDbfs, std::fabs(dependence.changeDb),
        dependence.changeDb < 0.0 ? "below" : "above", response.levelDbfs - kQuieterByDb,
        dependence.channel + 1);
    return text;
}

}  // namespace varkel::analysis
