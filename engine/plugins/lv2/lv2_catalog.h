// The LV2 plug-ins lilv finds (LV2_PATH, else its default path), read from
// their descriptions only: nothing is instantiated.
#pragma once

#include <vector>

#include "engine/plugins/plugin_catalog.h"

namespace varkel::engine {

std::vector<CatalogEntry> lv2Catalog();

}  // namespace varkel::engine
