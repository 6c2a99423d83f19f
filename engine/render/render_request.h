// What a render request may hold, checked in one place whichever face made
// it (the command line, Python, the cluster): each option's limits, the
// sample format names and automation times. Each failure is a RequestError
// naming its field, which the face words as its own flag or keyword. The
// settings and the automation values are checked against the plug-in's
// parameters once it is open (parameter_lookup.h), by the render itself.
//
// The options are also declared here as data, so that a face makes its own
// flags or keywords from them rather than declaring them again.
#pragma once

#include <string>
#include <vector>

#include "engine/engine_error.h"
#include "engine/plugins/parameter_lookup.h"
#include "engine/plugins/plugin.h"
#include "engine/render/automation.h"
#include "engine/sound/output_format.h"

namespace varkel::engine {

inline constexpr int kDefaultBlockFrames = 512;
// Block sizes beyond this gain nothing and only risk plug-ins that size
// their buffers from it.
inline constexpr int kMaxBlockFrames = 65536;
inline constexpr double kLongestTailSeconds = 3600.0;
// The rates a render may resample to, in Hz.
inline constexpr int kLowestRenderRate = 1000;
inline constexpr int kHighestRenderRate = 768000;
// Loudness targets, in LUFS: BS.1770's absolute gate up to full scale.
inline constexpr double kQuietestLoudness = -70.0;
inline constexpr double kLoudestLoudness = 0.0;
// True-peak ceilings, in dBTP: a float output may hold peaks over full scale.
inline constexpr double kLowestTruePeakCeiling = -70.0;
inline constexpr double kHighestTruePeakCeiling = 6.0;
// Seconds an isolated plug-in's call may take.
inline constexpr double kShortestPluginTimeout = 0.1;
inline constexpr double kLongestPluginTimeout = 86400.0;

void checkBlockFrames(long long frames);
void checkTailSeconds(double seconds);
void checkRenderRate(long long hertz);
void checkLoudnessTarget(double lufs);
void checkTruePeakCeiling(double dbtp);
void checkPluginTimeout(double seconds);
// 32 or 64.
Precision precisionOfBits(long long bits);
// "float", "pcm24", "pcm16", or "" for the input's own.
SampleFormat sampleFormatNamed(const std::string& name);
const std::vector<std::string>& sampleFormatNames();
// At least one point; times in seconds from 0 on, within any file's frames,
// never going back; values finite.
void checkAutomationLane(const AutomationLane& lane);
// The lane's parameter on the plug-in, its every value checked against that
// parameter's range and kind: the index.
int automatedParameter(const Plugin& plugin, const AutomationLane& lane);

// One render option as data: its name (the flag without dashes), the keyword
// the Python faces take, its kind, limits and help.
struct RenderOptionField {
    enum class Kind { Text, Flag, Integer, Number, Choice, Setting, Automation };
    std::string name;
    std::string keyword;
    Kind kind = Kind::Text;
    double minimum = 0.0;
    double maximum = 0.0;
    std::string defaultValue;  // as text; empty: none
    std::vector<std::string> choices;
    std::string metavar;
    std::string help;
};
const std::vector<RenderOptionField>& renderOptionFields();

// The option a request field is given by (its name, without dashes, and its
// keyword), for a face to word the field as its flag or keyword.
std::string optionName(RequestField field);
std::string keywordName(RequestField field);
// Whether the field is a switch, given without a value.
bool isSwitch(RequestField field);

}  // namespace varkel::engine
