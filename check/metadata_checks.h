// What a plug-in says of itself, checked against its format's rules: the
// VST 2.4 record (magic, flags, counts, texts, unique ID) and an LV2
// plug-in's description (lilv's verification, ports' names, symbols and
// ranges), and VST 2.4's parameter display texts.
#pragma once

#include <string>
#include <vector>

#include "engine/plugins/plugin.h"

namespace varkel::check {

// Faults that fail the test, and oddities that only warn.
struct Findings {
    std::vector<std::string> faults;
    std::vector<std::string> warnings;
};

Findings metadataFindings(engine::Plugin& plugin);
// Every parameter's display text at values across its range.
Findings parameterTextFindings(engine::Plugin& plugin);

}  // namespace varkel::check
