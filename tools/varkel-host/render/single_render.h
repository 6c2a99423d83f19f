// Rendering a sound file through a plug-in, block by block, so that memory
// stays the same however long the file is.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/varkel-host/automation.h"
#include "tools/varkel-host/command_line.h"
#include "tools/varkel-host/report.h"

namespace varkel::tool {

// One file to render and how.
struct RenderJob {
    std::string input;
    std::string output;
    std::string plugin;  // empty: the Varkel.so that came with the tool
    std::vector<ParameterSetting> settings;
    std::vector<AutomationLane> automation;
    bool ramp = false;
    Precision precision = Precision::Single;
    int blockFrames = kDefaultBlockFrames;
    SampleFormat format = SampleFormat::SameAsInput;
    bool replaceExisting = true;
};

// Told the frames done so far after each stretch written.
using RenderProgress = std::function<void(std::int64_t framesDone, std::int64_t totalFrames)>;

// Renders job.input into job.output and returns what the summary reports.
// Nothing is left at job.output unless it succeeds; an existing output is
// replaced only with job.replaceExisting.
RenderSummary renderFile(const RenderJob& job, const RenderProgress& progress = {});

// What the render command's options ask of each file.
RenderJob renderJobFor(const RenderOptions& options);

// The same for the single-file command, with a progress bar unless quiet.
RenderSummary renderFile(const RenderOptions& options);

// The render subcommand: renders, then prints the summary.
int runRender(const RenderOptions& options);

}  // namespace varkel::tool
