#include "tools/varkel-host/demo.h"

#include <fmt/format.h>
#include <sndfile.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "host/fresh_thread.h"
#include "tools/varkel-host/interrupt.h"
#include "tools/varkel-host/render.h"
#include "tools/varkel-host/sound_file.h"
#include "tools/varkel-host/test_material.h"
#include "tools/varkel-host/tool_error.h"

namespace varkel::tool {

namespace fs = std::filesystem;

namespace {

struct DemoRender {
    const char* file;
    std::vector<ParameterSetting> settings;
};

// Writes the program as 32-bit float WAV and returns its levels.
LevelMeter writeSource(const std::string& path) {
    const DemoProgram program;
    SoundFileWriter writer(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, DemoProgram::kChannels,
                           DemoProgram::kSampleRate);
    LevelMeter levels;
    constexpr std::int64_t kBlock = 4096;
    std::vector<float> block(kBlock * DemoProgram::kChannels);
    for (std::int64_t first = 0; first < program.frames(); first += kBlock) {
        const std::int64_t count = std::min(kBlock, program.frames() - first);
        throwIfInterrupted();
        program.render(block.data(), first, count);
        for (std::int64_t i = 0; i < count * DemoProgram::kChannels; ++i) levels.add(block[i]);
        writer.write(block.data(), count);
    }
    writer.commit();
    return levels;
}

}  // namespace

int runDemo(const DemoOptions& options) {
    std::error_code error;
    fs::create_directories(options.outputFolder, error);
    if (error || !fs::is_directory(options.outputFolder))
        throw ToolError("cannot create the folder " + options.outputFolder +
                        (error ? " (" + error.message() + ")" : std::string()));

    const InterruptGuard interrupts;
    const std::string source = (fs::path(options.outputFolder) / "source.wav").string();
    const LevelMeter sourceLevels = writeSource(source);
    if (!options.quiet)
        fmt::print("{}: {} frames, {:.3f} s, peak {}, RMS {} (drums, bass line, sine sweep)\n",
                   source, DemoProgram().frames(),
                   static_cast<double>(DemoProgram().frames()) / DemoProgram::kSampleRate,
                   dbfs(sourceLevels.peakLevel()), dbfs(sourceLevels.rmsLevel()));

    const DemoRender renders[] = {
        {"varkel-default.wav", {}},
        {"varkel-pregain-1.0.wav", {{"PreGain", 1.0f}}},
        {"varkel-lpcutoff-0.3.wav", {{"LPCutOff", 0.3f}}},
    };
    for (const DemoRender& render : renders) {
        RenderOptions job;
        job.input = source;
        job.output = (fs::path(options.outputFolder) / render.file).string();
        job.plugin = options.plugin;
        job.settings = render.settings;
        job.quiet = options.quiet;
        // A thread of its own gives each render the start a new process
        // gives it, so every demo file is exactly what the render command makes.
        RenderSummary summary;
        host::onFreshThread([&] { summary = renderFile(job); });
        if (!options.quiet) printSummary(summary);
    }
    return kExitSuccess;
}

}  // namespace varkel::tool
