#include "analysis/analysis_plan.h"

#include <algorithm>
#include <cmath>

namespace varkel::analysis {

const std::vector<std::string>& measurementNames() {
    static const std::vector<std::string> names{"response", "harmonics", "distortion", "transfer",
                                                "impulse",  "aliasing",  "imd"};
    return names;
}

std::optional<Measurement> measurementNamed(const std::string& name) {
    const auto& names = measurementNames();
    const auto found = std::find(names.begin(), names.end(), name);
    if (found == names.end()) return std::nullopt;
    return static_cast<Measurement>(found - names.begin());
}

const std::string& measurementName(Measurement m) {
    return measurementNames()[static_cast<std::size_t>(m)];
}

bool AnalysisPlan::includes(Measurement m) const {
    return std::find(what.begin(), what.end(), m) != what.end();
}

std::vector<double> sweepLevels(const AnalysisPlan& plan) {
    std::vector<double> levels;
    const int steps = static_cast<int>(
        std::floor((plan.sweepToDbfs - plan.sweepFromDbfs) / plan.sweepStepDb + 1e-9));
    for (int i = 0; i <= steps; ++i) levels.push_back(plan.sweepFromDbfs + i * plan.sweepStepDb);
    return levels;
}

}  // namespace varkel::analysis
