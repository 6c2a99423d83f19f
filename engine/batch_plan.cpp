#include "engine/batch_plan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "engine/output_format.h"
#include "engine/engine_error.h"

namespace varkel::engine {

namespace fs = std::filesystem;

namespace {

bool hidden(const fs::path& path) { return path.filename().string().starts_with("."); }

std::string withoutDot(const std::string& extension) {
    return extension.empty() ? extension : extension.substr(1);
}

void collectFolder(const fs::path& folder, bool recursive, std::vector<BatchInput>& inputs) {
    std::vector<fs::path> files;
    std::error_code error;
    if (recursive) {
        fs::recursive_directory_iterator it(folder, error), end;
        for (; !error && it != end; it.increment(error)) {
            if (hidden(it->path())) {
                if (it->is_directory(error)) it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file(error) && hasSoundFileExtension(it->path().string()))
                files.push_back(it->path());
        }
    } else {
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error))
            if (!hidden(it->path()) && it->is_regular_file(error) &&
                hasSoundFileExtension(it->path().string()))
                files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const fs::path relative = fs::relative(file.parent_path(), folder, error);
        inputs.push_back({file.string(), relative == "." ? std::string() : relative.string()});
    }
}

// The same text for two names of one file, as far as the names tell.
std::string comparable(const std::string& path) {
    std::error_code error;
    const fs::path full = fs::weakly_canonical(path, error);
    return error ? fs::path(path).lexically_normal().string() : full.string();
}

}  // namespace

std::vector<BatchInput> expandInputs(const std::vector<std::string>& arguments, bool recursive,
                                     std::vector<std::string>& problems) {
    std::vector<BatchInput> inputs;
    for (const std::string& argument : arguments) {
        std::error_code error;
        if (!fs::is_directory(argument, error)) {
            inputs.push_back({argument, {}});
            continue;
        }
        const std::size_t before = inputs.size();
        collectFolder(argument, recursive, inputs);
        if (inputs.size() == before)
            problems.push_back(argument + ": no sound files in this folder" +
                               (recursive ? "" : " (-r looks in the folders below it)"));
    }
    return inputs;
}

std::string expandName(const std::string& pattern, const NameFields& fields) {
    const std::map<std::string, const std::string*> known = {
        {"stem", &fields.stem},     {"ext", &fields.ext},           {"inext", &fields.inputExt},
        {"plugin", &fields.plugin}, {"settings", &fields.settings},
    };
    if (pattern.find('/') != std::string::npos)
        throw UsageError("--name " + pattern + ": a file name, without '/'");
    std::string name;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if ((c == '{' || c == '}') && i + 1 < pattern.size() && pattern[i + 1] == c) {
            name += c;
            ++i;
            continue;
        }
        if (c == '}') throw UsageError("--name " + pattern + ": a '}' without its '{'");
        if (c != '{') {
            name += c;
            continue;
        }
        const std::size_t close = pattern.find('}', i);
        if (close == std::string::npos)
            throw UsageError("--name " + pattern + ": a '{' without its '}'");
        const std::string field = pattern.substr(i + 1, close - i - 1);
        const auto found = known.find(field);
        if (found == known.end())
            throw UsageError("--name " + pattern + ": no field {" + field +
                             "}; the fields are {stem}, {ext}, {inext}, {plugin}, {settings}");
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

std::vector<BatchItem> planBatch(const std::vector<BatchInput>& inputs, const BatchNaming& naming) {
    std::vector<BatchItem> items;
    std::map<std::string, std::string> writers;  // output -> the input writing it
    std::set<std::string> inputPaths;
    for (const BatchInput& input : inputs) inputPaths.insert(comparable(input.path));
    for (const BatchInput& input : inputs) {
        const fs::path path(input.path);
        NameFields fields;
        fields.stem = path.stem().string();
        fields.inputExt = withoutDot(path.extension().string());
        fields.ext = naming.extension.empty()            ? fields.inputExt
                     : naming.extension.starts_with(".") ? naming.extension.substr(1)
                                                         : naming.extension;
        fields.plugin = naming.plugin;
        fields.settings = naming.settings;
        BatchItem item;
        item.input = input.path;
        item.output = (fs::path(naming.outputFolder) / input.relativeFolder /
                       expandName(naming.pattern, fields))
                          .lexically_normal()
                          .string();
        std::error_code error;
        const auto earlier = writers.find(item.output);
        if (earlier != writers.end())
            item.problem = item.input + ": its output " + item.output + " is also the output of " +
                           earlier->second + " (--name {inext} tells them apart)";
        else if (fs::exists(item.output, error) && fs::equivalent(item.input, item.output, error))
            item.problem = item.input + ": its output would be the input itself";
        else if (inputPaths.contains(comparable(item.output)))
            item.problem =
                item.input + ": its output " + item.output + " is another input of this batch";
        else if (!naming.overwrite && fs::exists(item.output, error))
            item.problem = item.output + " already exists (--overwrite replaces it)";
        writers.emplace(item.output, item.input);
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace varkel::engine
