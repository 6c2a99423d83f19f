#include "engine/vst_plugin.h"

#include <filesystem>
#include <system_error>

#include "engine/engine_error.h"

namespace varkel::engine {

namespace fs = std::filesystem;

namespace {

// Plug-ins that report absurd counts are broken; refusing them keeps the
// host from allocating or looping without bound on their word.
constexpr int kMaxChannels = 64;
constexpr int kMaxParameters = 100000;

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

void VstPlugin::start(Precision precision) {
    if (precision == Precision::Double && !instance->canDoubleReplace())
        throw EngineError(name() + " cannot process 64-bit audio; use --precision 32");
    if (precision == Precision::Single && !instance->canReplace())
        throw EngineError(name() + " has no 32-bit replacing process; use --precision 64");
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
