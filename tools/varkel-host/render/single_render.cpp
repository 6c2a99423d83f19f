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
    // A symbolic link's file is written beside the file it leads to.
    std::vector<std::string> folders{folder.string()};
    std::error_code error;
    if (std::filesystem::is_symlink(job.output, error))
        folders.push_back(
            std::filesystem::weakly_canonical(job.output, error).parent_path().string());
    RenderSummary summary;
    {
        const InterruptGuard interrupts(folders);
        summary = renderWithProgress(job, !quiet);
    }
    if (!quiet) printSummary(summary);
    return kExitSuccess;
}

}  // namespace varkel::tool
