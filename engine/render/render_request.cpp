#include "engine/render/render_request.h"

#include <cmath>

#include "engine/midi/midi_input.h"

namespace varkel::engine {

namespace {

std::string shown(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", value);
    return text;
}

}  // namespace

void checkBlockFrames(long long frames) {
    if (frames < 1 || frames > kMaxBlockFrames)
        throw RequestError(RequestField::Block, std::to_string(frames),
                           "must be 1 to " + std::to_string(kMaxBlockFrames) + " frames");
}

void checkTailSeconds(double seconds) {
    if (!(seconds >= 0.0 && seconds <= kLongestTailSeconds))
        throw RequestError(RequestField::Tail, shown(seconds),
                           "must be 0 to " + shown(kLongestTailSeconds) + " s");
}

void checkRenderRate(long long hertz) {
    if (hertz < kLowestRenderRate || hertz > kHighestRenderRate)
        throw RequestError(RequestField::SampleRate, std::to_string(hertz),
                           "must be " + std::to_string(kLowestRenderRate) + " to " +
                               std::to_string(kHighestRenderRate) + " Hz");
}

void checkLoudnessTarget(double lufs) {
    if (!(lufs >= kQuietestLoudness && lufs <= kLoudestLoudness))
        throw RequestError(RequestField::Loudness, shown(lufs),
                           "must be " + shown(kQuietestLoudness) + " to " +
                               shown(kLoudestLoudness) + " LUFS");
}

void checkTruePeakCeiling(double dbtp) {
    if (!(dbtp >= kLowestTruePeakCeiling && dbtp <= kHighestTruePeakCeiling))
        throw RequestError(RequestField::TruePeakMax, shown(dbtp),
                           "must be " + shown(kLowestTruePeakCeiling) + " to " +
                               shown(kHighestTruePeakCeiling) + " dBTP");
}

void checkPluginTimeout(double seconds) {
    if (!(seconds >= kShortestPluginTimeout && seconds <= kLongestPluginTimeout))
        throw RequestError(RequestField::PluginTimeout, shown(seconds),
                           "must be " + shown(kShortestPluginTimeout) + " to " +
                               shown(kLongestPluginTimeout) + " s");
}

Precision precisionOfBits(long long bits) {
    if (bits == 32) return Precision::Single;
    if (bits == 64) return Precision::Double;
    throw RequestError(RequestField::Precision, std::to_string(bits), "must be 32 or 64");
}

const std::vector<std::string>& sampleFormatNames() {
    static const std::vector<std::string> names = {"float", "pcm24", "pcm16"};
    return names;
}

SampleFormat sampleFormatNamed(const std::string& name) {
    if (name.empty()) return SampleFormat::SameAsInput;
    if (name == "float") return SampleFormat::Float;
    if (name == "pcm24") return SampleFormat::Pcm24;
    if (name == "pcm16") return SampleFormat::Pcm16;
    throw RequestError(RequestField::Format, name, "must be float, pcm24 or pcm16");
}

void checkAutomationLane(const AutomationLane& lane) {
    if (lane.points.empty())
        throw RequestError(RequestField::Automation, lane.parameter, "needs at least one point");
    for (std::size_t i = 0; i < lane.points.size(); ++i) {
        const AutomationPoint& point = lane.points[i];
        if (!(point.seconds >= 0.0 && point.seconds <= kLongestAutomationSeconds))
            throw RequestError(RequestField::Automation, lane.parameter,
                               "the time " + shown(point.seconds) +
                                   " s is not from 0 to " + shown(kLongestAutomationSeconds) +
                                   " s, the longest any sound file's frames reach");
        if (i > 0 && point.seconds < lane.points[i - 1].seconds)
            throw RequestError(RequestField::Automation, lane.parameter,
                               "the times must not go back");
        if (!std::isfinite(point.value))
            throw RequestError(RequestField::Automation, lane.parameter,
                               "the values must be numbers");
    }
}

int automatedParameter(const Plugin& plugin, const AutomationLane& lane) {
    const int index = findParameter(plugin, lane.parameter, RequestField::Automation);
    for (const AutomationPoint& point : lane.points)
        checkValue(plugin, index, point.value, mention(RequestField::Automation, lane.parameter));
    return index;
}

const std::vector<RenderOptionField>& renderOptionFields() {
    using Kind = RenderOptionField::Kind;
    static const std::vector<RenderOptionField> fields = {
        {"plugin", "plugin", Kind::Text, 0, 0, "", {}, "PLUGIN",
         "The plug-in: a VST 2.4 module or an LV2 URI or bundle (default: Varkel)"},
        {"state", "state", Kind::Text, 0, 0, "", {}, "FILE",
         "A saved state (VST 2.4: .fxp or .fxb; LV2: a state bundle or its .ttl), applied "
         "first, before the preset and the settings"},
        {"preset", "preset", Kind::Text, 0, 0, "", {}, "NAME",
         "An LV2 preset or a VST 2.4 program, applied after the state and before the settings"},
        {"set", "settings", Kind::Setting, 0, 0, "", {}, "NAME=VALUE",
         "Sets a parameter, in its own units and range; repeatable"},
        {"automate", "automation", Kind::Automation, 0, 0, "", {}, "NAME=TIME:VALUE,...",
         "Sets a parameter at each TIME (seconds, or with s or ms) and holds it; repeatable"},
        {"ramp", "ramp", Kind::Flag, 0, 0, "", {}, "",
         "With automation: move linearly between the points, in steps of 32 frames"},
        {"precision", "precision", Kind::Choice, 0, 0, "32", {"32", "64"}, "",
         "The plug-in's 32-bit or 64-bit process"},
        {"block", "block_size", Kind::Integer, 1, kMaxBlockFrames,
         std::to_string(kDefaultBlockFrames), {}, "N", "Frames per process call"},
        {"format", "format", Kind::Choice, 0, 0, "", sampleFormatNames(), "",
         "The output's sample format (default: the input's, if the container holds it)"},
        {"dither", "dither", Kind::Flag, 0, 0, "", {}, "",
         "Triangular dither before rounding to 8-, 16- or 24-bit PCM"},
        {"sidechain", "sidechain", Kind::Text, 0, 0, "", {}, "FILE",
         "Feeds the plug-in's side-chain inputs from FILE (default: silence)"},
        {"no-latency-compensation", "compensate_latency", Kind::Flag, 0, 0, "", {}, "",
         "Keep the plug-in's latency: no frames dropped at the start"},
        {"tail", "tail", Kind::Number, 0, kLongestTailSeconds, "", {}, "S",
         "Seconds of silence rendered past the end (default: none; after a MIDI file, until "
         "the output stays below -96 dBFS for 100 ms, at most 30 s)"},
        {"midi", "midi", Kind::Text, 0, 0, "", {}, "FILE",
         "Plays a MIDI file into the plug-in alongside its audio input, from the first frame"},
        {"midi-channel", "midi_channel", Kind::Integer, kLowestMidiChannel, kHighestMidiChannel,
         "", {}, "N", "Plays only this channel (1-16) of the MIDI (default: every channel)"},
        {"rate", "sample_rate", Kind::Integer, kLowestRenderRate, kHighestRenderRate, "", {}, "HZ",
         "Resamples the input (and the side-chain) to HZ before the plug-in (libsoxr, very high "
         "quality); the plug-in runs at HZ and the output is at HZ (default: the input's rate)"},
        {"loudness", "loudness", Kind::Number, kQuietestLoudness, kLoudestLoudness, "", {}, "LUFS",
         "Scales each output, after the plug-in, to this integrated loudness (ITU-R BS.1770-4, "
         "EBU R 128); a silent output fails"},
        {"true-peak-max", "true_peak_max", Kind::Number, kLowestTruePeakCeiling,
         kHighestTruePeakCeiling, "", {}, "DBTP",
         "Refuses to write an output whose true peak would exceed DBTP, saying by how much"},
        {"measure", "measure", Kind::Flag, 0, 0, "", {}, "",
         "Adds the output's integrated loudness, loudness range and true peak to the summary"},
        {"plugin-timeout", "plugin_timeout", Kind::Number, kShortestPluginTimeout,
         kLongestPluginTimeout, "10", {}, "S",
         "With the plug-in isolated: seconds each call to it may take before it counts as hung"},
    };
    return fields;
}

namespace {

struct FieldNames {
    RequestField field;
    const char* option;
    const char* keyword;
};

// The options of renderOptionFields, and those of a batch.
constexpr FieldNames kFieldNames[] = {
    {RequestField::Settings, "set", "settings"},
    {RequestField::Automation, "automate", "automation"},
    {RequestField::Parameter, "parameter", "parameter"},
    {RequestField::Preset, "preset", "preset"},
    {RequestField::State, "state", "state"},
    {RequestField::SideChain, "sidechain", "sidechain"},
    {RequestField::Format, "format", "format"},
    {RequestField::Precision, "precision", "precision"},
    {RequestField::Block, "block", "block_size"},
    {RequestField::Tail, "tail", "tail"},
    {RequestField::SampleRate, "rate", "sample_rate"},
    {RequestField::Loudness, "loudness", "loudness"},
    {RequestField::TruePeakMax, "true-peak-max", "true_peak_max"},
    {RequestField::PluginTimeout, "plugin-timeout", "plugin_timeout"},
    {RequestField::Overwrite, "overwrite", "overwrite"},
    {RequestField::SkipExisting, "skip-existing", "skip_existing"},
    {RequestField::Recursive, "recursive", "recursive"},
    {RequestField::NamePattern, "name", "name"},
    {RequestField::Extension, "ext", "ext"},
    {RequestField::Midi, "midi", "midi"},
    {RequestField::MidiChannel, "midi-channel", "midi_channel"},
};

const FieldNames& namesOf(RequestField field) {
    for (const FieldNames& names : kFieldNames)
        if (names.field == field) return names;
    return kFieldNames[0];
}

}  // namespace

std::string optionName(RequestField field) { return namesOf(field).option; }
std::string keywordName(RequestField field) { return namesOf(field).keyword; }

bool isSwitch(RequestField field) {
    return field == RequestField::Overwrite || field == RequestField::SkipExisting ||
           field == RequestField::Recursive;
}

}  // namespace varkel::engine
