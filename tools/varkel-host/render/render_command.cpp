#include "tools/varkel-host/render/render_command.h"

#include <filesystem>
#include <system_error>

#include "engine/midi/midi_input.h"
#include "engine/render/automation.h"
#include "engine/render/render_job.h"
#include "tools/varkel-host/cli/options.h"
#include "tools/varkel-host/render/batch_render.h"
#include "tools/varkel-host/render/single_render.h"

namespace varkel::tool {

namespace {

class RenderCommand : public Command {
public:
    std::string name() const override { return "render"; }
    std::string summary() const override {
        return "Renders IN through the plug-in into OUT, or many files into a folder";
    }

    void declare(CLI::App& command) override {
        command
            .add_option("FILES", files,
                        "IN OUT: the sound file (or, for an instrument, the MIDI file: .mid, "
                        ".midi, with --rate) to render and the file to write (its extension "
                        "chooses the container; float WAV by default after MIDI). OUT as a symbolic link stays one: the file it "
                        "leads to is replaced. OUT as a device, FIFO or socket (also through a "
                        "link, e.g. /dev/null, /dev/stdout) is refused. With --out-dir: the files "
                        "and folders to render")
            ->type_name("")
            ->required();
        addPlugin(command, job.plugin);
        addState(command, job.state);
        addPreset(command, job.preset);
        addSettings(command, "--set", job.settings,
                    kSettingHelp);
        command
            .add_option_function<std::vector<std::string>>(
                "--automate",
                [this](const std::vector<std::string>& texts) {
                    for (const std::string& text : texts) {
                        try {
                            job.automation.push_back(engine::parseAutomation(text));
                        } catch (const UsageError& error) {
                            throw CLI::ValidationError("--automate", error.what());
                        }
                    }
                },
                "Sets a parameter at each TIME (seconds, or with s or ms) and holds it; "
                "repeatable")
            ->type_name("NAME=TIME:VALUE,...")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        command.add_flag("--ramp", job.ramp,
                         "With --automate: move linearly between the points, in steps of 32 "
                         "frames");
        addPrecision(command, job.precision);
        addBlock(command, job.blockFrames);
        addChoice(command, "--format", job.format,
                  {{"float", engine::SampleFormat::Float},
                   {"pcm24", engine::SampleFormat::Pcm24},
                   {"pcm16", engine::SampleFormat::Pcm16}},
                  "The output's sample format (default: the input's, if the container holds it)");
        command.add_flag("--dither", job.dither,
                         "Triangular dither of one step either way before rounding to 8-, 16- "
                         "or 24-bit PCM, the same on every run (default: none)");
        command
            .add_option("--sidechain", job.sideChain,
                        "Feeds the plug-in's side-chain inputs from FILE (default: silence); a "
                        "mono FILE feeds them all")
            ->type_name("FILE")
            ->check(notEmpty());
        command.add_flag("!--no-latency-compensation", job.compensateLatency,
                         "Keep the plug-in's latency: no frames dropped at the start");
        command
            .add_option_function<double>(
                "--tail", [this](double seconds) { job.tailSeconds = seconds; },
                "Seconds rendered past the end (default: none; after a MIDI IN, until the output "
                "stays below -96 dBFS for 100 ms, at most 30 s)")
            ->type_name("S")
            ->check(numberBetween(0.0, engine::kLongestTailSeconds, "s"));
        command
            .add_option("--midi", job.midi,
                        "Plays the MIDI file FILE into the plug-in alongside IN, from its first "
                        "frame (vocoders, MIDI-gated effects)")
            ->type_name("FILE")
            ->check(notEmpty());
        command
            .add_option_function<int>(
                "--midi-channel", [this](int channel) { job.midiChannel = channel; },
                "Plays only channel N (1-16) of the MIDI (default: every channel)")
            ->type_name("N")
            ->check(wholeNumberBetween(engine::kLowestMidiChannel, engine::kHighestMidiChannel));
        addRateAndLoudness(command, job.sampleRate, job.loudness, job.truePeakMax, job.measure);
        addVerbose(command);
        addIsolation(command, job.isolation);
        command.add_flag("--quiet", quiet, "No progress display and no summary");
        declareBatch(command);

        // Two files without --out-dir, as many as given with it.
        command.parse_complete_callback([this] {
            if (!batch.request.outputFolder.empty()) {
                batch.request.inputs = files;
                return;
            }
            if (files.size() < 2) throw CLI::RequiredError("OUT");
            if (files.size() > 2)
                // Reversed, as CLI11 lists its own leftovers.
                throw CLI::ExtrasError({files.rbegin(), files.rend() - 2});
            job.input = files[0];
            job.output = files[1];
        });
        command.footer(
            "NAME is a parameter name as the plug-in reports it, or its index. A mono IN feeds\n"
            "every input of the plug-in; a file with more channels than the plug-in has inputs\n"
            "runs through one instance per group of channels. PATTERN fields: {stem} (IN's name\n"
            "without extension), {dir} (the name of IN's folder), {ext} (the output's extension),\n"
            "{inext} (IN's), {plugin} (the plug-in's name, lower case), {settings} (the --set\n"
            "values). A signal stops the render at its next block; a second one, or 2 s\n"
            "without the render returning, removes the unfinished files and exits at once.");
    }

    int run() override {
        if (batch.request.outputFolder.empty()) {
            std::error_code error;
            if (std::filesystem::is_directory(job.input, error))
                throw UsageError("render " + job.input + " " + job.output + ": " + job.input +
                                     " is a folder; --out-dir renders the files in it (render " +
                                     job.input + " --out-dir " + job.output + ")",
                                 "varkel-host render --help");
            return renderSingle(job, quiet);
        }
        batch.quiet = quiet;
        return runBatch(batch, job);
    }

private:
    void declareBatch(CLI::App& command) {
        CLI::Option* outDir =
            command.add_option("--out-dir", batch.request.outputFolder, "Render every IN into DIR")
                ->type_name("DIR")
                ->check(notEmpty());
        const auto batchOnly = [outDir](CLI::Option* option) {
            option->needs(outDir)->group("Batch");
        };
        outDir->group("Batch");
        batchOnly(command.add_flag("-r,--recursive", batch.request.recursive,
                                   "Also the sound files in the folders below a folder IN, "
                                   "keeping their relative folders"));
        batchOnly(command
                      .add_option("--name", batch.request.namePattern,
                                  "Output names (default {stem}-{plugin}.{ext})")
                      ->type_name("PATTERN")
                      ->check(notEmpty()));
        batchOnly(command
                      .add_option("--ext", batch.request.extension,
                                  "Every output's extension, which chooses its container "
                                  "(default: each input's)")
                      ->type_name("EXT")
                      ->check(notEmpty()));
        batchOnly(
            command.add_option("-j,--jobs", batch.jobs, "Files rendered at once (default: cores)")
                ->type_name("N")
                ->check(wholeNumberBetween(1, 1024)));
        CLI::Option* overwrite =
            command.add_flag("--overwrite", batch.request.overwrite, "Replace existing outputs");
        batchOnly(overwrite);
        batchOnly(command
                      .add_flag("--skip-existing", batch.request.skipExisting,
                                "Skip the files whose outputs exist (or appear meanwhile), as when resuming "
                                "a batch; an empty or unreadable output is rendered again")
                      ->excludes(overwrite));
    }

    std::vector<std::string> files;
    engine::RenderJob job;
    BatchOptions batch;
    bool quiet = false;
};

}  // namespace

std::unique_ptr<Command> makeRenderCommand() { return std::make_unique<RenderCommand>(); }

}  // namespace varkel::tool
