#include "engine/plugins/vst/vst_plugin.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
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
    midi = instance->takesMidi();
    instrument = instance->isInstrument();
}

void VstPlugin::queueMidi(std::span<const MidiEvent> events) {
    if (!midi || events.empty()) return;
    const std::size_t count = events.size();
    eventList.resize((vstEventsBytes(static_cast<VstInt32>(count)) + 7) / 8);
    // Reserved ahead, so that the records do not move while pointed to.
    midiRecords.clear();
    midiRecords.reserve(count);
    sysexRecords.clear();
    sysexRecords.reserve(count);
    auto* list = reinterpret_cast<VstEvents*>(eventList.data());
    list->numEvents = static_cast<VstInt32>(count);
    list->reserved = 0;
    VstEvent** slots = list->events;
    for (std::size_t i = 0; i < count; ++i) {
        const MidiEvent& e = events[i];
        if (e.size <= 3 && e.bytes[0] != 0xF0) {
            VstMidiEvent& m = midiRecords.emplace_back();
            m = VstMidiEvent{};
            m.type = kVstMidiType;
            m.byteSize = sizeof(VstMidiEvent);
            m.deltaFrames = e.frame;
            std::memcpy(m.midiData, e.bytes, e.size);
            slots[i] = reinterpret_cast<VstEvent*>(&m);
        } else {
            VstMidiSysexEvent& x = sysexRecords.emplace_back();
            x = VstMidiSysexEvent{};
            x.type = kVstSysExType;
            x.byteSize = sizeof(VstMidiSysexEvent);
            x.deltaFrames = e.frame;
            x.dumpBytes = static_cast<VstInt32>(e.size);
            x.sysexDump = reinterpret_cast<char*>(const_cast<std::uint8_t*>(e.bytes));
            slots[i] = reinterpret_cast<VstEvent*>(&x);
        }
    }
    instance->dispatch(effProcessEvents, 0, 0, list);
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

StateKind VstPlugin::stateKind() const {
    return (instance->effect()->flags & effFlagsProgramChunks) != 0 ? StateKind::Chunks
                                                                     : StateKind::Parameters;
}

std::string VstPlugin::chunk(bool bank) const {
    void* data = nullptr;
    const VstIntPtr size = instance->dispatch(effGetChunk, bank ? 0 : 1, 0, &data);
    if (size < 0 || static_cast<std::size_t>(size) > kMaxStateBytes || (size > 0 && data == nullptr))
        throw EngineError(name() + " gave a chunk of " + std::to_string(size) +
                          " bytes, which no state can be");
    return size == 0 ? std::string() : std::string(static_cast<const char*>(data),
                                                   static_cast<std::size_t>(size));
}

void VstPlugin::setChunk(const std::string& bytes, bool bank) const {
    // The plug-in may keep the pointer only for the call; a copy spares the
    // caller's bytes any writing it does.
    std::string copy = bytes;
    instance->dispatch(effSetChunk, bank ? 0 : 1, static_cast<VstIntPtr>(copy.size()), copy.data());
}

std::vector<float> VstPlugin::parameters() const {
    std::vector<float> values;
    for (int i = 0; i < parameterCount(); ++i) values.push_back(parameter(i));
    return values;
}

void VstPlugin::setParameters(const std::vector<float>& values, const std::string& what) {
    const std::size_t count = std::min(values.size(), static_cast<std::size_t>(parameterCount()));
    for (std::size_t i = 0; i < count; ++i) setParameter(static_cast<int>(i), values[i]);
    if (values.size() != static_cast<std::size_t>(parameterCount()))
        warn(what + " holds " + std::to_string(values.size()) + " parameters, " + name() + " has " +
             std::to_string(parameterCount()) + "; the first " + std::to_string(count) + " set");
}

void VstPlugin::loadState(const std::string& path) {
    const std::string what = mention(RequestField::State, path);
    const VstStateFile file = readVstStateFile(path, what);
    const AEffect& record = *instance->effect();
    if (file.pluginId != record.uniqueID)
        throw EngineError(what + ": made for the plug-in with ID " + pluginIdText(file.pluginId) +
                          ", not " + name() + " (ID " + pluginIdText(record.uniqueID) + ")");
    if (file.isChunk() && !keepsChunks())
        throw EngineError(what + ": holds a chunk, but " + name() +
                          " keeps its state in its parameters");
    if (file.form == VstStateFile::Form::Programs && record.numPrograms < 1 &&
        file.programs.size() > 1)
        throw EngineError(what + ": a bank of " + std::to_string(file.programs.size()) +
                          " programs, but " + name() + " has none");
    // Told first, as workstations do, so that a plug-in may refuse a file of
    // a version it cannot read.
    VstPatchChunkInfo info{1, file.pluginId, file.pluginVersion, file.elements, {}};
    if (instance->dispatch(file.isBank() ? effBeginLoadBank : effBeginLoadProgram, 0, 0, &info) == -1)
        throw EngineError(what + ": " + name() + " refuses it (made by version " +
                          std::to_string(file.pluginVersion) + ")");
    switch (file.form) {
        case VstStateFile::Form::Parameters:
            setParameters(file.parameters, what);
            break;
        case VstStateFile::Form::ProgramChunk:
            setChunk(file.chunk, false);
            break;
        case VstStateFile::Form::BankChunk:
            setChunk(file.chunk, true);
            break;
        case VstStateFile::Form::Programs: {
            const auto programs = std::min<std::size_t>(
                file.programs.size(), static_cast<std::size_t>(std::max(record.numPrograms, 1)));
            for (std::size_t i = 0; i < programs; ++i) {
                if (record.numPrograms > 0) {
                    instance->dispatch(effSetProgram, 0, static_cast<VstIntPtr>(i));
                    std::string programName = file.programs[i].name;
                    programName.resize(kVstMaxProgNameLen, '\0');
                    instance->dispatch(effSetProgramName, 0, 0, programName.data());
                }
                setParameters(file.programs[i].parameters,
                              what + ", program " + std::to_string(i));
            }
            if (file.programs.size() > programs)
                warn(what + " holds " + std::to_string(file.programs.size()) + " programs, " +
                     name() + " " + std::to_string(record.numPrograms) + "; the rest left out");
            break;
        }
    }
    if (file.isBank() && record.numPrograms > 0 && file.currentProgram >= 0 &&
        file.currentProgram < record.numPrograms)
        instance->dispatch(effSetProgram, 0, file.currentProgram);
}

void VstPlugin::saveState(const std::string& path) {
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != ".fxp" && extension != ".fxb")
        throw UsageError(path + ": a VST 2.4 state is saved as .fxp (a program) or .fxb (a bank)");
    const AEffect& record = *instance->effect();
    VstStateFile file;
    file.pluginId = record.uniqueID;
    file.pluginVersion = record.version;
    file.currentProgram = std::max(instance->currentProgram(), 0);
    if (extension == ".fxp") {
        file.programName = instance->programName();
        file.elements = record.numParams;
        if (keepsChunks()) {
            file.form = VstStateFile::Form::ProgramChunk;
            file.chunk = chunk(false);
        } else {
            file.parameters = parameters();
        }
    } else if (keepsChunks()) {
        file.form = VstStateFile::Form::BankChunk;
        file.version = 2;
        file.elements = record.numPrograms;
        file.chunk = chunk(true);
    } else {
        file.form = VstStateFile::Form::Programs;
        file.version = 2;
        // Every program is visited to read it, then the current one is
        // chosen again; a plug-in without programs is a bank of its one.
        const int programs = std::min(std::max(record.numPrograms, 1), kMaxListedPrograms);
        for (int i = 0; i < programs; ++i) {
            if (record.numPrograms > 0) instance->dispatch(effSetProgram, 0, i);
            file.programs.push_back({instance->programName(), parameters()});
        }
        if (record.numPrograms > 0) instance->dispatch(effSetProgram, 0, file.currentProgram);
        file.elements = programs;
    }
    writeVstStateFile(path, file);
}

std::string VstPlugin::stateBytes() {
    if (keepsChunks()) return chunk(false);
    std::string bytes;
    for (const float value : parameters()) {
        const auto bits = std::bit_cast<std::uint32_t>(value);
        for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((bits >> shift) & 0xff);
    }
    return bytes;
}

void VstPlugin::setStateBytes(const std::string& bytes) {
    if (keepsChunks()) return setChunk(bytes, false);
    const std::string what = mention(RequestField::State);
    if (bytes.size() != static_cast<std::size_t>(parameterCount()) * 4)
        throw UsageError(what + ": " + std::to_string(bytes.size()) + " bytes, but " + name() +
                         "'s " + std::to_string(parameterCount()) + " parameters take " +
                         std::to_string(parameterCount() * 4));
    std::vector<float> values;
    for (std::size_t at = 0; at < bytes.size(); at += 4) {
        std::uint32_t bits = 0;
        for (std::size_t i = 0; i < 4; ++i) bits = (bits << 8) | static_cast<unsigned char>(bytes[at + i]);
        values.push_back(std::bit_cast<float>(bits));
    }
    setParameters(values, what);
}

}  // namespace varkel::engine
