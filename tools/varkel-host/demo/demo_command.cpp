#include "tools/varkel-host/demo/demo_command.h"

#include <fmt/format.h>
#include <sndfile.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/report/summary_text.h"
#include "engine/render/render_job.h"
#include "engine/sound/sound_file.h"
#include "tools/varkel-host/cli/interrupt.h"
#include "tools/varkel-host/cli/options.h"
#include "tools/varkel-host/cli/report.h"
#include "tools/varkel-host/demo/demo_program.h"

namespace varkel::tool {

namespace fs = std::filesystem;

namespace {

struct DemoRender {
    const char* file;
    std::vector<engine::ParameterSetting> settings;
};

// Writes the program as 32-bit float WAV and returns its levels.
engine::LevelMeter writeSource(const std::string& path) {
    const DemoProgram program;
    engine::SoundFileWriter writer(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, DemoProgram::kChannels,
                           DemoProgram::kSampleRate);
    engine::LevelMeter levels;
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

class DemoCommand : public Command {
public:
    std::string name() const override { return "demo"; }
    std::string summary() const override {
        return "Writes test material and three renders of it through Varkel";
    }
    void declare(CLI::App& command) override {
        command.add_option("--out", outputFolder, "The folder to write into")
            ->type_name("DIR")
            ->capture_default_str()
            ->check(notEmpty());
        addPlugin(command, plugin);
        command.add_flag("--quiet", quiet, "Print nothing");
    }
    int run() override;

private:
    std::string outputFolder = "varkel-demo";
    std::string plugin;
    bool quiet = false;
};

int DemoCommand::run() {
    std::error_code error;
    fs::create_directories(outputFolder, error);
    if (error || !fs::is_directory(outputFolder))
        throw EngineError("cannot create the folder " + outputFolder +
                        (error ? " (" + error.message() + ")" : std::string()));

    const InterruptGuard interrupts({outputFolder});
    const std::string source = (fs::path(outputFolder) / "source.wav").string();
    const engine::LevelMeter sourceLevels = writeSource(source);
    if (!quiet)
        fmt::print("{}: {} frames, {:.3f} s, peak {}, RMS {} (drums, bass line, sine sweep)\n",
                   source, DemoProgram().frames(),
                   static_cast<double>(DemoProgram().frames()) / DemoProgram::kSampleRate,
                   engine::dbfs(sourceLevels.peakLevel()), engine::dbfs(sourceLevels.rmsLevel()));

    const DemoRender renders[] = {
        {"varkel-default.wav", {}},
        {"varkel-pregain-1.0.wav", {{"PreGain", 1.0f}}},
        {"varkel-lpcutoff-0.3.wav", {{"LPCutOff", 0.3f}}},
    };
    for (const DemoRender& render : renders) {
        engine::RenderJob job;
        job.input = source;
        job.output = (fs::path(outputFolder) / render.file).string();
        job.plugin = plugin;
        job.settings = render.settings;
        const RenderSummary summary = renderWithProgress(job, !quiet);
        if (!quiet) printSummary(summary);
    }
    return kExitSuccess;
}

}  // namespace

std::unique_ptr<Command> makeDemoCommand() { return std::make_unique<DemoCommand>(); }

}  // namespace varkel::tool
