// The plug-ins found on this machine, VST 2.4 and LV2, as a table for
// people or as JSON for tools.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/plugins/plugin_catalog.h"
#include "tools/varkel-host/cli/command.h"

namespace varkel::tool {

// One line per plug-in in columns, grouped by format, then the count.
std::string catalogText(const std::vector<engine::CatalogEntry>& entries);
std::string catalogJson(const std::vector<engine::CatalogEntry>& entries);

std::unique_ptr<Command> makeListCommand();

}  // namespace varkel::tool
