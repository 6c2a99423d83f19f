#include "tools/varkel-host/render/single_render.h"

#include <filesystem>

#include "engine/sound/temporary_files.h"
#include "tools/varkel-host/cli/command.h"
#include "tools/varkel-host/cli/interrupt.h"
#include "tools/varkel-host/cli/report.h"

namespace varkel::tool {

int renderSingle(const engine::RenderJob& job, bool quiet) {
    // What an earlier render that was killed left behind.
    const std::filesystem::path folder = std::filesystem::path(job.output).parent_path();
    engine::removeStaleTemporaries(folder.empty() ? "." : folder.string());
    RenderSummary summary;
    {
        const InterruptGuard interrupts;
        summary = renderWithProgress(job, !quiet);
    }
    if (!quiet) printSummary(summary);
    return kExitSuccess;
}

}  // namespace varkel::tool
