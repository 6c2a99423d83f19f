#include "engine/plugins/side_chain.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace varkel::engine {

namespace {

bool labelSaysSide(const std::string& label) {
    std::string lower(label);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("side") != std::string::npos;
}

}  // namespace

std::vector<InputInfo> markSideChains(std::vector<InputInfo> inputs, int outputs) {
    bool marked = false;
    for (InputInfo& input : inputs) {
        if (input.sideChain) {
            marked = true;
        } else if (labelSaysSide(input.label)) {
            input.sideChain = true;
            input.reason = SideChainReason::Label;
            marked = true;
        }
    }
    if (marked || static_cast<int>(inputs.size()) <= outputs) return inputs;
    for (std::size_t i = static_cast<std::size_t>(std::max(outputs, 0)); i < inputs.size(); ++i) {
        inputs[i].sideChain = true;
        inputs[i].reason = SideChainReason::Count;
    }
    return inputs;
}

int mainInputCount(const std::vector<InputInfo>& inputs) {
    return static_cast<int>(std::count_if(inputs.begin(), inputs.end(),
                                          [](const InputInfo& input) { return !input.sideChain; }));
}

}  // namespace varkel::engine
