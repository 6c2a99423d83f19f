// Which of a plug-in's inputs are side-chains: those it marks (a label with
// "side" in it, or LV2's isSideChain); when it marks none but has more inputs
// than outputs, the inputs past the first as-many-as-its-outputs.
#pragma once

#include <vector>

#include "engine/plugins/plugin.h"

namespace varkel::engine {

// Fills in sideChain and reason; inputs already marked by property stay so.
std::vector<InputInfo> markSideChains(std::vector<InputInfo> inputs, int outputs);

// The inputs a file's channels feed: all but the side-chains.
int mainInputCount(const std::vector<InputInfo>& inputs);

}  // namespace varkel::engine
