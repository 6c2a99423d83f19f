// Planning a batch: the sound files named on the command line or found in
// the folders named there, and the output each gets in the output folder.
#pragma once

#include <string>
#include <vector>

#include "engine/plugins/parameter_lookup.h"

namespace varkel::engine {

// The default --name: "take.wav" through Varkel becomes "take-varkel.wav".
inline constexpr const char* kDefaultNamePattern = "{stem}-{plugin}.{ext}";

struct BatchInput {
    std::string path;
    std::string relativeFolder;  // under the output folder; empty for its top
    bool foundInFolder = false;  // found by a folder scan rather than named
};

// Files as given (whatever their name); folders as the sound files directly
// in them, or with recursive in every folder below, keeping their relative
// folders. Hidden entries are skipped. Sorted within each folder, so the
// plan does not depend on the order the file system lists them in. A folder
// holding no sound files adds a line to problems. A file named twice (or
// named and found in a folder) counts once. A scan leaves out the output
// folder and what is below it, so that earlier outputs are not taken in.
std::vector<BatchInput> expandInputs(const std::vector<std::string>& arguments, bool recursive,
                                     std::vector<std::string>& problems,
                                     const std::string& outputFolder = {});

// What a --name pattern can use.
struct NameFields {
    std::string stem;      // the input's file name without its extension
    std::string ext;       // the output's extension, without the dot
    std::string inputExt;  // the input's extension, without the dot
    std::string plugin;    // the plug-in's name, lower case, e.g. "varkel"
    std::string settings;  // the --set values, e.g. "pregain-1_lpcutoff-0.3"
    std::string dir;       // the name of the folder holding the input
};

// Replaces {stem}, {dir}, {ext}, {inext}, {plugin} and {settings}; "{{" and "}}"
// stand for braces. Throws UsageError for an unknown field, a lone brace or
// a '/'.
std::string expandName(const std::string& pattern, const NameFields& fields);

// A name as a file-name-friendly word: lower case letters, digits, '.' and
// '-' ("Zam Auto Sat" becomes "zam-auto-sat").
std::string fileNameWord(const std::string& text);
// The {settings} field for these --set values.
std::string settingsWord(const std::vector<ParameterSetting>& settings);

struct BatchItem {
    std::string input;
    std::string output;
    std::string problem;  // set when the file cannot be rendered as planned
    bool skip = false;    // its output exists and the batch skips existing outputs
    // Its output exists but holds no sound, so it is rendered again,
    // replacing it; the warning says so.
    bool replace = false;
    std::string warning;
};

struct BatchNaming {
    std::string outputFolder;
    std::string pattern = kDefaultNamePattern;
    std::string extension;  // empty: each input's own
    std::string plugin;     // for {plugin}
    std::string settings;   // for {settings}
    bool overwrite = false;
    bool skipExisting = false;
};

// One item per input, in order. An output that already exists (without
// overwrite), that is the input itself or another input, or that an earlier
// item already writes gets a problem naming it; one that exists with
// skipExisting is skipped, unless it is empty or not a sound file
// libsndfile reads, which is rendered again with a warning. A file found in a folder that another input's
// output would be is left out: it is an earlier run's output. Throws
// UsageError, before anything is rendered, for a pattern that makes an
// empty or hidden name.
std::vector<BatchItem> planBatch(const std::vector<BatchInput>& inputs, const BatchNaming& naming);

}  // namespace varkel::engine
