#include "tools/varkel-host/demo.h"

#include <sndfile.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

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

// Plug-ins may keep per-thread state (Varkel's noise generator does); a
// thread of its own gives each render the start a new process gives it, so
// every demo file is exactly what the render command makes.
RenderSummary renderOnFreshThread(const RenderOptions& job) {
    RenderSummary summary;
    std::exception_ptr failure;
    std::thread([&] {
        try {
            summary = renderFile(job);
        } catch (...) {
            failure = std::current_exception();
        }
    }).join();
    if (failure) std::rethrow_exception(failure);
    return summary;
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
        std::printf("%s: %lld frames, %.3f s, peak %s, RMS %s (drums, bass line, sine sweep)\n",
                    source.c_str(), static_cast<long long>(DemoProgram().frames()),
                    static_cast<double>(DemoProgram().frames()) / DemoProgram::kSampleRate,
                    dbfs(sourceLevels.peakLevel()).c_str(), dbfs(sourceLevels.rmsLevel()).c_str());

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
        const RenderSummary summary = renderOnFreshThread(job);
        if (!options.quiet) printSummary(summary);
    }
    return kExitSuccess;
}

}  // namespace varkel::tool
