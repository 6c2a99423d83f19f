// A VST 2.4 plug-in module loaded and one effect instance of it opened, as a
// host does: created through the entry point, opened at a rate and block
// size, and switched on and off in the order hosts use.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/plugins/plugin.h"
#include "engine/plugins/vst/vst_state_file.h"
#include "host/host_callback.h"
#include "host/plugin_instance.h"
#include "host/plugin_module.h"

namespace varkel::engine {

class VstPlugin : public Plugin {
public:
    // Loads the module at path, creates the effect and opens it. Throws
    // EngineError starting with the path.
    VstPlugin(const std::string& path, double sampleRate, int blockFrames, ProcessMode mode);
    // Switches the effect off if running, then closes it before the module
    // is unloaded.
    ~VstPlugin() override;
    VstPlugin(const VstPlugin&) = delete;
    VstPlugin& operator=(const VstPlugin&) = delete;

    std::string format() const override { return "VST 2.4"; }
    std::string name() const override;
    std::string location() const override { return modulePath; }
    int inputs() const override { return instance->effect()->numInputs; }
    int outputs() const override { return instance->effect()->numOutputs; }
    std::vector<InputInfo> inputInfo() const override;
    bool takesMidi() const override { return midi; }
    bool isInstrument() const override { return instrument; }
    // Handed over at once through effProcessEvents, as hosts do just before
    // the process call; the records stay until the next events replace them.
    void queueMidi(std::span<const MidiEvent> events) override;

    int parameterCount() const override { return instance->effect()->numParams; }
    // Normalised 0..1; the default is the value the effect had when opened.
    ParameterInfo parameterInfo(int index) const override;
    std::string parameterDisplay(int index) const override {
        return instance->parameterDisplay(index);
    }
    float parameter(int index) const override { return instance->getParameter(index); }
    void setParameter(int index, float value) override { instance->setParameter(index, value); }

    // The effect's programs.
    std::vector<std::string> presets() const override;
    void loadPreset(const std::string& preset) override;
    int latency() override { return instance->effect()->initialDelay; }

    StateKind stateKind() const override;
    // .fxp or .fxb, the plug-in told what is coming first.
    void loadState(const std::string& path) override;
    void saveState(const std::string& path) override;
    // The program's chunk, or its parameters as big-endian floats.
    std::string stateBytes() override;
    void setStateBytes(const std::string& bytes) override;

    void start(Precision precision) override;
    void stop() override;

    void process(float** inputs, float** outputs, int frames) override {
        instance->process(inputs, outputs, frames);
    }
    void process(double** inputs, double** outputs, int frames) override {
        instance->processDouble(inputs, outputs, frames);
    }

    // The record, for what only VST 2.4 tells (flags, programs, identity).
    const host::PluginInstance& effect() const { return *instance; }

private:
    bool keepsChunks() const { return stateKind() == StateKind::Chunks; }
    // The program's or bank's chunk as the plug-in gives it.
    std::string chunk(bool bank) const;
    void setChunk(const std::string& bytes, bool bank) const;
    // Sets the parameters a file or bytes hold, what; more or fewer than the
    // plug-in has is noted as a warning.
    void setParameters(const std::vector<float>& values, const std::string& what);
    std::vector<float> parameters() const;

    std::string modulePath;
    std::unique_ptr<host::HostContext> context;  // its address is in the record
    std::unique_ptr<host::PluginModule> module;
    std::unique_ptr<host::PluginInstance> instance;  // destroyed before module
    std::vector<float> defaults;  // each parameter's value when opened
    bool running = false;
    bool midi = false;  // asked once: plug-ins may answer slowly
    bool instrument = false;
    // effProcessEvents' block: the list head and pointers, and the records
    // they point to, kept and reused from call to call.
    std::vector<std::uint64_t> eventList;
    std::vector<VstMidiEvent> midiRecords;
    std::vector<VstMidiSysexEvent> sysexRecords;
};

}  // namespace varkel::engine
