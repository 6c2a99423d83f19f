#include "tools/varkel-host/plugin_session.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <system_error>

#include "tools/varkel-host/tool_error.h"

#if !defined(VARKEL_BUILD_TREE_PLUGIN)
#define VARKEL_BUILD_TREE_PLUGIN ""
#endif

namespace varkel::tool {

namespace fs = std::filesystem;

namespace {

// Plug-ins that report absurd counts are broken; refusing them keeps the
// tool from allocating or looping without bound on their word.
constexpr int kMaxChannels = 64;
constexpr int kMaxParameters = 100000;

std::string trimmedLower(const std::string& text) {
    std::string result = text;
    while (!result.empty() && (result.back() == ' ' || result.back() == '\t')) result.pop_back();
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

bool isIndex(const std::string& text) {
    return !text.empty() && text.size() < 10 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

std::string defaultPluginPath() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    std::string installed;
    if (!error) {
        installed = (executable.parent_path().parent_path() / "lib" / "vst" / "Varkel.so").string();
        if (fs::is_regular_file(installed, error)) return installed;
    }
    const std::string built = VARKEL_BUILD_TREE_PLUGIN;
    if (!built.empty() && fs::is_regular_file(built, error)) return built;
    throw ToolError("no --plugin given and no Varkel.so found at " +
                    (installed.empty() ? std::string("<prefix>/lib/vst") : installed) +
                    (built.empty() ? std::string() : " or " + built));
}

PluginSession::PluginSession(const std::string& path, float sampleRate, int blockFrames,
                             VstInt32 processLevel)
    : modulePath(path.empty() ? defaultPluginPath() : path),
      context(std::make_unique<host::HostContext>()) {
    std::error_code fsError;
    if (!fs::exists(modulePath, fsError))
        throw ToolError("--plugin " + modulePath + ": no such file");
    if (fs::is_directory(modulePath, fsError))
        throw ToolError("--plugin " + modulePath + " is a folder, not a plug-in module");

    context->sampleRate = sampleRate;
    context->blockSize = blockFrames;
    context->processLevel = processLevel;

    std::string error;
    // A bare file name would make the loader search the library path.
    const std::string loadPath =
        modulePath.find('/') == std::string::npos ? "./" + modulePath : modulePath;
    module = host::PluginModule::load(loadPath, error);
    if (!module) throw ToolError("--plugin: " + error);
    instance = host::PluginInstance::create(*module, error, host::contextHostCallback);
    if (!instance) throw ToolError("--plugin: " + error);
    AEffect* record = instance->effect();
    host::attachHostContext(record, context.get());

    if (record->numInputs < 0 || record->numInputs > kMaxChannels || record->numOutputs < 0 ||
        record->numOutputs > kMaxChannels || record->numParams < 0 ||
        record->numParams > kMaxParameters)
        throw ToolError("--plugin " + modulePath +
                        " reports impossible channel or parameter counts");

    instance->open();
    instance->setSampleRate(sampleRate);
    instance->setBlockSize(blockFrames);
}

PluginSession::~PluginSession() {
    if (instance) {
        stop();
        instance->close();
    }
}

std::string PluginSession::displayName() const {
    std::string name = instance->effectName();
    if (name.empty()) name = fs::path(modulePath).filename().string();
    return name;
}

VstInt32 PluginSession::resolveParameter(const std::string& nameOrIndex,
                                         const std::string& option) const {
    const VstInt32 count = instance->effect()->numParams;
    if (isIndex(nameOrIndex)) {
        const long index = std::stol(nameOrIndex);
        if (index < count) return static_cast<VstInt32>(index);
    } else {
        const VstInt32 exact = instance->findParameter(nameOrIndex);
        if (exact >= 0) return exact;
        const std::string wanted = trimmedLower(nameOrIndex);
        for (VstInt32 i = 0; i < count; ++i)
            if (trimmedLower(instance->parameterName(i)) == wanted) return i;
    }
    std::string valid;
    for (VstInt32 i = 0; i < count; ++i) {
        if (i > 0) valid += ", ";
        valid += instance->parameterName(i);
    }
    if (count == 0)
        throw UsageError(option + " " + nameOrIndex + ": " + displayName() + " has no parameters");
    throw UsageError(option + " " + nameOrIndex + ": " + displayName() + " has no parameter " +
                     nameOrIndex + "; valid names: " + valid + " (or an index 0.." +
                     std::to_string(count - 1) + ")");
}

void PluginSession::apply(const std::vector<ParameterSetting>& settings) const {
    for (const ParameterSetting& setting : settings)
        instance->setParameter(resolveParameter(setting.parameter), setting.value);
}

void PluginSession::start(Precision precision) {
    if (precision == Precision::Double && !instance->canDoubleReplace())
        throw ToolError(displayName() + " cannot process 64-bit audio; use --precision 32");
    if (precision == Precision::Single && !instance->canReplace())
        throw ToolError(displayName() + " has no 32-bit replacing process; use --precision 64");
    instance->setProcessPrecision(precision == Precision::Double ? host::kProcessPrecision64
                                                                 : host::kProcessPrecision32);
    instance->resume();
    instance->startProcess();
    running = true;
}

void PluginSession::stop() {
    if (!running) return;
    instance->stopProcess();
    instance->suspend();
    running = false;
}

}  // namespace varkel::tool
