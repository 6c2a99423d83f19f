#include "engine/render/batch_plan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "engine/engine_error.h"
#include "engine/midi/midi_file.h"
#include "engine/sound/output_format.h"
#include "engine/sound/sound_file.h"

namespace varkel::engine {

namespace fs = std::filesystem;

namespace {

bool hidden(const fs::path& path) { return path.filename().string().starts_with("."); }

std::string withoutDot(const std::string& extension) {
    return extension.empty() ? extension : extension.substr(1);
}

// The same text for two names of one file, as far as the names tell.
std::string comparable(const std::string& path) {
    std::error_code error;
    const fs::path full = fs::weakly_canonical(path, error);
    return error ? fs::path(path).lexically_normal().string() : full.string();
}

// A sound file, or a MIDI file for an instrument, by its extension.
bool renderable(const fs::path& path) {
    return hasSoundFileExtension(path.string()) || isMidiFileName(path.string());
}

void collectFolder(const fs::path& folder, bool recursive, const std::string& outputFolder,
                   std::vector<BatchInput>& inputs) {
    std::vector<fs::path> files;
    std::error_code error;
    if (recursive) {
        fs::recursive_directory_iterator it(folder, error), end;
        for (; !error && it != end; it.increment(error)) {
            const bool folderEntry = it->is_directory(error);
            if (hidden(it->path()) ||
                (folderEntry && !outputFolder.empty() &&
                 comparable(it->path().string()) == outputFolder)) {
                if (folderEntry) it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file(error) && renderable(it->path()))
                files.push_back(it->path());
        }
    } else {
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error))
            if (!hidden(it->path()) && it->is_regular_file(error) && renderable(it->path()))
                files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const fs::path relative = fs::relative(file.parent_path(), folder, error);
        inputs.push_back(
            {file.string(), relative == "." ? std::string() : relative.string(), true});
    }
}

}  // namespace

std::vector<BatchInput> expandInputs(const std::vector<std::string>& arguments, bool recursive,
                                     std::vector<std::string>& problems,
                                     const std::string& outputFolder) {
    const std::string output = outputFolder.empty() ? std::string() : comparable(outputFolder);
    std::vector<BatchInput> found;
    for (const std::string& argument : arguments) {
        std::error_code error;
        if (!fs::is_directory(argument, error)) {
            found.push_back({argument, {}, false});
            continue;
        }
        const std::size_t before = found.size();
        collectFolder(argument, recursive, output, found);
        if (found.size() == before)
            problems.push_back(argument + ": no sound files in this folder" +
                               (recursive ? "" : " (-r looks in the folders below it)"));
    }
    std::vector<BatchInput> inputs;
    std::set<std::string> seen;
    for (BatchInput& input : found)
        if (seen.insert(comparable(input.path)).second) inputs.push_back(std::move(input));
    return inputs;
}

std::string expandName(const std::string& pattern, const NameFields& fields) {
    const std::map<std::string, const std::string*> known = {
        {"stem", &fields.stem},     {"dir", &fields.dir},           {"ext", &fields.ext},
        {"inext", &fields.inputExt},
        {"plugin", &fields.plugin}, {"settings", &fields.settings},
    };
    if (pattern.find('/') != std::string::npos)
        throw UsageError(mention(RequestField::NamePattern, pattern) + ": a file name, without '/'");
    std::string name;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if ((c == '{' || c == '}') && i + 1 < pattern.size() && pattern[i + 1] == c) {
            name += c;
            ++i;
            continue;
        }
        if (c == '}')
            throw UsageError(mention(RequestField::NamePattern, pattern) + ": a '}' without its '{'");
        if (c != '{') {
            name += c;
            continue;
        }
        const std::size_t close = pattern.find('}', i);
        if (close == std::string::npos)
            throw UsageError(mention(RequestField::NamePattern, pattern) + ": a '{' without its '}'");
        const std::string field = pattern.substr(i + 1, close - i - 1);
        const auto found = known.find(field);
        if (found == known.end())
            throw UsageError(mention(RequestField::NamePattern, pattern) + ": no field {" + field +
                             "}; the fields are {stem}, {dir}, {ext}, {inext}, {plugin}, {settings}");
        name += *found->second;
        i = close;
    }
    return name;
}

std::string fileNameWord(const std::string& text) {
    std::string word;
    bool gap = false;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '.') {
            if (gap && !word.empty()) word += '-';
            word += static_cast<char>(std::tolower(c));
            gap = false;
        } else {
            gap = true;
        }
    }
    return word;
}

std::string settingsWord(const std::vector<ParameterSetting>& settings) {
    std::string word;
    for (const ParameterSetting& setting : settings) {
        char value[32];
        std::snprintf(value, sizeof(value), "%g", static_cast<double>(setting.value));
        if (!word.empty()) word += '_';
        word += fileNameWord(setting.parameter) + "-" + value;
    }
    return word;
}

namespace {

NameFields fieldsFor(const BatchInput& input, const BatchNaming& naming) {
    const fs::path path(input.path);
    NameFields fields;
    fields.stem = path.stem().string();
    // A name the file system cannot resolve (a link loop, a name too long)
    // is that file's failure when it is rendered, not the batch's.
    std::error_code error;
    const fs::path full = fs::weakly_canonical(path, error);
    fields.dir = (error ? fs::absolute(path, error).lexically_normal() : full)
                     .parent_path()
                     .filename()
                     .string();
    fields.inputExt = withoutDot(path.extension().string());
    // A MIDI file's render is sound: WAV unless asked otherwise.
    const std::string ownExt = isMidiFileName(input.path) ? "wav" : fields.inputExt;
    fields.ext = naming.extension.empty()            ? ownExt
                 : naming.extension.starts_with(".") ? naming.extension.substr(1)
                                                     : naming.extension;
    fields.plugin = naming.plugin;
    fields.settings = naming.settings;
    return fields;
}

std::string outputFor(const BatchInput& input, const BatchNaming& naming) {
    const NameFields fields = fieldsFor(input, naming);
    std::string name = expandName(naming.pattern, fields);
    // An input without an extension gives an output without one, which keeps
    // the input's container, as a single render does.
    if (fields.ext.empty() && name.ends_with(".")) name.pop_back();
    if (name.empty() || name.starts_with("."))
        throw UsageError(mention(RequestField::NamePattern, naming.pattern) + " makes " +
                         (name.empty() ? std::string("an empty name")
                                       : "the hidden name '" + name + "'") +
                         " for " + input.path + "; choose a pattern that names every file");
    return (fs::path(naming.outputFolder) / input.relativeFolder / name).lexically_normal().string();
}

// Why an existing output is no finished render: empty, or not a sound file
// libsndfile reads (a render cut off by a crash of the whole machine, a
// file of another kind); empty when it reads.
std::string unreadableOutput(const std::string& output) {
    try {
        SoundFileReader file(output);
        return {};
    } catch (const EngineError& error) {
        return error.what();
    }
}

// How to tell apart two inputs that would write the same output.
std::string namingHint(const BatchInput& a, const std::string& other) {
    if (fs::path(a.path).extension() != fs::path(other).extension())
        return mention(RequestField::NamePattern) + " with {inext} tells them apart";
    return mention(RequestField::NamePattern) + " with {dir} tells them apart, or " +
           mention(RequestField::Recursive) + " keeps their folders";
}

}  // namespace

std::vector<BatchItem> planBatch(const std::vector<BatchInput>& inputs, const BatchNaming& naming) {
    std::vector<std::string> outputs;
    std::map<std::string, std::size_t> outputPaths;  // output -> the input writing it
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        outputs.push_back(outputFor(inputs[i], naming));
        outputPaths.emplace(comparable(outputs.back()), i);
    }
    // A file found in a folder that another input would write is an earlier
    // run's output.
    std::vector<bool> earlierOutput(inputs.size(), false);
    std::set<std::string> inputPaths;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string path = comparable(inputs[i].path);
        const auto producer = outputPaths.find(path);
        earlierOutput[i] =
            inputs[i].foundInFolder && producer != outputPaths.end() && producer->second != i;
        if (!earlierOutput[i]) inputPaths.insert(path);
    }
    std::vector<BatchItem> items;
    std::map<std::string, std::string> writers;  // output -> the input writing it
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const BatchInput& input = inputs[i];
        if (earlierOutput[i]) continue;
        BatchItem item;
        item.input = input.path;
        item.output = outputs[i];
        std::error_code error;
        const auto earlier = writers.find(item.output);
        if (earlier != writers.end())
            item.problem = item.input + ": its output " + item.output + " is also the output of " +
                           earlier->second + " (" + namingHint(input, earlier->second) + ")";
        else if (fs::exists(item.output, error) && fs::equivalent(item.input, item.output, error))
            item.problem = item.input + ": its output would be the input itself";
        else if (inputPaths.contains(comparable(item.output)))
            item.problem =
                item.input + ": its output " + item.output + " is another input of this batch";
        else if (naming.skipExisting && fs::exists(item.output, error)) {
            const std::string unreadable = unreadableOutput(item.output);
            item.skip = unreadable.empty();
            item.replace = !item.skip;
            if (item.replace) item.warning = unreadable + "; rendering it again";
        }
        else if (!naming.overwrite && fs::exists(item.output, error))
            item.problem = item.output +
                           " already exists (" + mention(RequestField::Overwrite) + " replaces it, " +
                           mention(RequestField::SkipExisting) + " skips it)";
        writers.emplace(item.output, item.input);
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace varkel::engine
