// Rendering a sound file through a plug-in as a stream, from a reader to an
// atomic writer, so that memory stays the same however long the file is and
// nothing is left at the output unless the render succeeds.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/render/automation.h"
#include "engine/render/render_request.h"
#include "engine/sound/level_meter.h"
#include "engine/sound/loudness_meter.h"
#include "engine/sound/output_format.h"
#include "engine/plugins/parameter_lookup.h"
#include "engine/plugins/plugin.h"
#include "engine/plugins/plugin_loader.h"

namespace varkel::engine {

// One file to render and how.
struct RenderJob {
    // A sound file, or a MIDI file (.mid, .midi) for an instrument to play.
    std::string input;
    std::string output;
    std::string plugin;  // empty: the Varkel module that came with the host
    // Applied in this order: the saved state, the preset, the settings; so
    // a preset or a setting changes a state, as it does in a workstation.
    std::string state;   // a saved state's file; empty: none
    std::string preset;  // empty: none
    std::vector<ParameterSetting> settings;
    std::vector<AutomationLane> automation;
    bool ramp = false;
    Precision precision = Precision::Single;
    int blockFrames = kDefaultBlockFrames;
    SampleFormat format = SampleFormat::SameAsInput;
    // Triangular dither before an 8-, 16- or 24-bit PCM output's rounding.
    bool dither = false;
    // Drop the plug-in's latency from the start and render as far past the
    // end, so that the output lines up with the input and is as long.
    bool compensateLatency = true;
    // Rendered past the input's end (silence in, for an effect); none: 0 s
    // after a sound file, and after a MIDI file until the output stays below
    // -96 dBFS for 100 ms, at most 30 s.
    std::optional<double> tailSeconds;
    // MIDI played into an effect alongside its audio, from its first frame.
    std::string midi;
    // The one channel (1-16) of the MIDI played; none: every channel.
    std::optional<int> midiChannel;
    // Feeds the plug-in's side-chain inputs; empty: they get silence.
    std::string sideChain;
    bool replaceExisting = true;
    // The rate the plug-in runs at and the output has, the input (and the
    // side-chain) resampled to it; none: the input's.
    std::optional<int> sampleRate;
    // The integrated loudness, in LUFS, each output is scaled to after the
    // plug-in.
    std::optional<double> loudness;
    // The true peak, in dBTP, no output may exceed: one that would is not
    // written.
    std::optional<double> truePeakMax;
    // The output's loudness, loudness range and true peak in the summary.
    bool measure = false;
    // Each instance in a child process of its own, whose crash or hang fails
    // this file only.
    PluginIsolation isolation;
};

struct RenderSummary {
    std::string input;
    std::string output;
    std::int64_t frames = 0;
    int sampleRate = 0;
    double elapsedSeconds = 0.0;
    bool integerOutput = false;
    std::string format;  // e.g. "16-bit PCM WAV", "lossy (Vorbis)"
    bool dithered = false;
    std::string channelMapping;  // empty for one instance taking the file as it is
    // Frames the input's header declares beyond those it holds: a cut-off file.
    std::int64_t missingFrames = 0;
    int latencyFrames = 0;        // compensated
    std::int64_t tailFrames = 0;  // rendered past the input's end
    // How a MIDI render's tail was decided: as asked, by the output falling
    // quiet, or by reaching the longest tail before it did.
    enum class Tail { Given, UntilQuiet, Longest };
    Tail tail = Tail::Given;
    bool fromMidi = false;  // the input was a MIDI file
    int automationPastEnd = 0;    // automation points after the last frame, never applied
    std::vector<std::string> pluginWarnings;  // from loading its preset
    LevelMeter levels;
    int resampledFrom = 0;  // the input's rate, when it was resampled
    std::optional<double> loudnessGainDb;  // the scaling to the loudness asked for
    std::optional<Loudness> loudness;      // as measured, when asked for
};

// Told the frames done so far after each stretch processed.
using RenderProgress = std::function<void(std::int64_t framesDone, std::int64_t totalFrames)>;
// Asked between stretches; true stops the render, which then throws
// EngineError with kExitInterrupted and leaves nothing behind.
using RenderCancelled = std::function<bool()>;

// The job's own limits (block, tail, automation times), before anything is
// opened; throws RequestError naming the field. The settings are checked
// against the plug-in once it is open.
void checkRenderJob(const RenderJob& job);

// Renders job.input into job.output, on a thread of its own, and returns what
// a summary reports. An existing output is replaced only with
// job.replaceExisting.
RenderSummary renderFile(const RenderJob& job, const RenderProgress& progress = {},
                         const RenderCancelled& cancelled = {});

}  // namespace varkel::engine
