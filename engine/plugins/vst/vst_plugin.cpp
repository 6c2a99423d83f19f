#include "engine/plugins/vst/vst_plugin.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "engine/engine_error.h"
#include "engine/plugins/side_chain.h"

namespace varkel::engine {

namespace fs = std::filesystem;

namespace {

// Plug-ins that report absurd counts are broken; refusing them keeps the
// host from allocating or looping without bound on their word.
constexpr int kMaxChannels = 64;
constexpr int kMaxParameters = 100000;
// Programs listed; a plug-in may claim millions.
constexpr int kMaxListedPrograms = 1000;

}  // namespace

VstPlugin::VstPlugin(const std::string& path, double sampleRate, int blockFrames,
                     ProcessMode mode)
    : modulePath(path), context(std::make_unique<host::HostContext>()) {
    std::error_code fsError;
    if (!fs::exists(modulePath, fsError)) throw FileNotFound(modulePath + ": no such file");
    if (fs::is_directory(modulePath, fsError))
        throw EngineError(modulePath + " is a folder, not a plug-in module");

    const auto rate = static_cast<float>(sampleRate);
    context->sampleRate = rate;
    context->blockSize = blockFrames;
    context->processLevel =
        mode == ProcessMode::Realtime ? host::kProcessLevelRealtime : host::kProcessLevelOffline;

    std::string error;
    // A bare file name would make the loader search the library path.
    const std::string loadPath =
        modulePath.find('/') == std::string::npos ? "./" + modulePath : modulePath;
    module = host::PluginModule::load(loadPath, error);
    if (!module) throw EngineError(error);
    instance = host::PluginInstance::create(*module, error, host::contextHostCallback);
    if (!instance) throw EngineError(error);
    AEffect* record = instance->effect();
    host::attachHostContext(record, context.get());

    if (record->numInputs < 0 || record->numInputs > kMaxChannels || record->numOutputs < 0 ||
        record->numOutputs > kMaxChannels || record->numParams < 0 ||
        record->numParams > kMaxParameters)
        throw EngineError(modulePath + " reports impossible channel or parameter counts");

    instance->open();
    instance->setSampleRate(rate);
    instance->setBlockSize(blockFrames);
    for (int i = 0; i < record->numParams; ++i) defaults.push_back(instance->getParameter(i));
}

VstPlugin::~VstPlugin() {
    if (instance) {
        stop();
        instance->close();
    }
}

std::string VstPlugin::name() const {
    std::string name = instance->effectName();
    if (name.empty()) name = fs::path(modulePath).filename().string();
    return name;
}

std::vector<InputInfo> VstPlugin::inputInfo() const {
    std::vector<InputInfo> inputs(static_cast<std::size_t>(this->inputs()));
    for (int i = 0; i < this->inputs(); ++i) {
        VstPinProperties pin{};
        if (instance->dispatch(effGetInputProperties, i, 0, &pin) == 0) continue;
        pin.label[sizeof(pin.label) - 1] = 0;
        inputs[static_cast<std::size_t>(i)].label = pin.label;
    }
    return markSideChains(std::move(inputs), outputs());
}

ParameterInfo VstPlugin::parameterInfo(int index) const {
    ParameterInfo info;
    info.name = instance->parameterName(index);
    info.unit = instance->parameterLabel(index);
    if (index >= 0 && static_cast<std::size_t>(index) < defaults.size())
        info.defaultValue = defaults[static_cast<std::size_t>(index)];
    return info;
}

std::vector<std::string> VstPlugin::presets() const {
    std::vector<std::string> names;
    const int count = std::min(instance->effect()->numPrograms, kMaxListedPrograms);
    const int current = instance->currentProgram();
    for (int i = 0; i < count; ++i) {
        std::string name;
        // Without indexed names only the current program's name is known;
        // switching programs to read the others would change the effect.
        if (!instance->programNameIndexed(i, name) && i == current) name = instance->programName();
        names.push_back(name);
    }
    return names;
}

void VstPlugin::loadPreset(const std::string& preset) {
    const std::vector<std::string> names = presets();
    int chosen = -1;
    for (std::size_t i = 0; i < names.size() && chosen < 0; ++i)
        if (!names[i].empty() && names[i] == preset) chosen = static_cast<int>(i);
    if (chosen < 0 && !preset.empty() &&
        std::all_of(preset.begin(), preset.end(), [](unsigned char c) { return std::isdigit(c); }) &&
        preset.size() < 7 && std::stoi(preset) < instance->effect()->numPrograms)
        chosen = std::stoi(preset);
    if (chosen < 0) {
        std::string known;
        for (std::size_t i = 0; i < names.size(); ++i)
            known += (i ? ", " : "") + std::to_string(i) + (names[i].empty() ? "" : " " + names[i]);
        throw UsageError(mention(RequestField::Preset, preset) + ": " + name() + " has no such program" +
                         (known.empty() ? std::string(" (it has none)") : "; its programs: " + known));
    }
    instance->dispatch(effSetProgram, 0, chosen);
}

void VstPlugin::start(Precision precision) {
    if (precision == Precision::Double && !instance->canDoubleReplace())
        throw EngineError(name() + " cannot process 64-bit audio; use " +
                          mention(RequestField::Precision, "32"));
    if (precision == Precision::Single && !instance->canReplace())
        throw EngineError(name() + " has no 32-bit replacing process; use " +
                          mention(RequestField::Precision, "64"));
    instance->setProcessPrecision(precision == Precision::Double ? host::kProcessPrecision64
                                                                 : host::kProcessPrecision32);
    instance->resume();
    instance->startProcess();
    running = true;
}

void VstPlugin::stop() {
    if (!running) return;
    instance->stopProcess();
    instance->suspend();
    running = false;
}

}  // namespace varkel::engine
