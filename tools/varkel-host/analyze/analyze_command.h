// Measures a plug-in (and optionally a second one, or the same one set
// otherwise) and writes plots, the numbers behind them as JSON, and a short
// summary on the terminal.
#pragma once

#include "tools/varkel-host/command_line.h"

namespace varkel::tool {

int runAnalyze(const AnalyzeOptions& options);

}  // namespace varkel::tool
