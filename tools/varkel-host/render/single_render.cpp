#include "tools/varkel-host/render/single_render.h"

#include <filesystem>

#include "engine/temporary_files.h"
#include "tools/varkel-host/cli/command.h"
#include "tools/varkel-host/cli/interrupt.h"
#include "tools/varkel-host/cli/report.h"

namespace varkel::tool {

int renderSingle(const engine::RenderJob& job, bool quiet) {
    // What an earlier render that was killed left behind.
    engine::removeStaleTemporaries(
        std::filesystem::path(job.output).parent_path().lexically_normal().string().empty()
            ? "."
            : std::filesystem::path(job.output).parent_path().string());
    RenderSummary summary;
    {
        const InterruptGuard interrupts;
        ProgressBar bar(!quiet, 0);
        summary = engine::renderFile(
            job, [&](std::int64_t done, std::int64_t total) { bar.update(done, total); },
            interruptRequested);
    }
    if (!quiet) printSummary(summary);
    return kExitSuccess;
}

}  // namespace varkel::tool
