// An LV2 plug-in instantiated through lilv, with the host features real
// plug-ins require: URID map and unmap, options (rate and block lengths),
// bounded block length, log, a worker run synchronously (as offline hosts
// do), and the plug-in's default state. Its control inputs are its
// parameters, in their own units; its control outputs are read after each
// run; the first atom input that supports MIDI gets the queued MIDI as a
// sequence stamped in frames, other atom inputs empty sequences, atom
// outputs room to write, CV inputs silence.
#pragma once

#include <lilv/lilv.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/plugins/lv2/lv2_world.h"
#include "engine/plugins/plugin.h"

namespace varkel::engine {

class Lv2Plugin : public Plugin {
public:
    // uriOrBundle: a plug-in URI, or a bundle folder holding one. Throws
    // EngineError naming it, also for a host feature it requires that is not
    // provided.
    Lv2Plugin(const std::string& uriOrBundle, double sampleRate, int blockFrames);
    ~Lv2Plugin() override;
    Lv2Plugin(const Lv2Plugin&) = delete;
    Lv2Plugin& operator=(const Lv2Plugin&) = delete;

    std::string format() const override { return "LV2"; }
    std::string name() const override { return pluginName; }
    std::string location() const override { return uri; }
    int inputs() const override { return static_cast<int>(audioInputs.size()); }
    int outputs() const override { return static_cast<int>(audioOutputs.size()); }
    std::vector<InputInfo> inputInfo() const override;
    bool takesMidi() const override { return midiInput >= 0; }
    bool isInstrument() const override {
        return takesMidi() && outputs() > 0 && (inputs() == 0 || instrumentClass);
    }
    void queueMidi(std::span<const MidiEvent> events) override;

    int parameterCount() const override { return static_cast<int>(controls.size()); }
    ParameterInfo parameterInfo(int index) const override;
    std::string parameterDisplay(int index) const override;
    float parameter(int index) const override;
    void setParameter(int index, float value) override;

    std::vector<std::string> presets() const override;
    void loadPreset(const std::string& preset) override;
    int latency() override;
    std::vector<ControlOutput> controlOutputs() const override;

    // The state interface's where the plug-in has one; port values alone
    // otherwise, saved and loaded all the same.
    StateKind stateKind() const override;
    // A state bundle folder (the one .ttl in it besides manifest.ttl) or a
    // .ttl, as lilv and workstations write them.
    void loadState(const std::string& path) override;
    // A preset bundle: manifest.ttl, state.ttl and the files the state
    // refers to, copied in.
    void saveState(const std::string& path) override;
    // The state's Turtle; the files it refers to are not in it.
    std::string stateBytes() override;
    void setStateBytes(const std::string& bytes) override;

    void start(Precision precision) override;
    void stop() override;
    void process(float** inputs, float** outputs, int frames) override;
    void process(double** inputs, double** outputs, int frames) override;

    // The bundle folder it came from.
    std::string bundle() const;

private:
    struct Features;
    struct Control {
        std::uint32_t port = 0;
        ParameterInfo info;
    };
    struct OutputControl {
        std::uint32_t port = 0;
        ControlOutput info;
    };

    LilvInstance* instantiate();
    void connectFixedPorts(LilvInstance* target);
    void runOnce(LilvInstance* target, int frames);
    void setBySymbol(const std::string& symbol, float value);
    // Port values and the plug-in's own state from a preset or state.
    void restore(const LilvState* state);
    // The same, each port value checked first as a preset's (what names it
    // in messages); frees state.
    void restoreChecked(LilvState* state, const std::string& context, const std::string& what);
    // The instance's state and port values now, any files it refers to
    // kept in dir (empty: none kept). Call under the world's lock.
    LilvState* snapshot(const std::string& dir);
    void removeScratch();

    const LilvPlugin* plugin;
    std::string uri;
    std::string pluginName;
    double rate;
    int blockFrames;
    std::unique_ptr<Features> features;
    LilvInstance* instance = nullptr;
    bool active = false;
    bool everActive = false;

    std::vector<std::uint32_t> audioInputs, audioOutputs;
    std::vector<InputInfo> inputRoles;
    std::vector<Control> controls;
    std::vector<OutputControl> outputControls;  // the latency port among them
    std::vector<float> portValues;  // every control port, by port index
    int latencyPort = -1;
    std::vector<std::uint32_t> atomInputs, atomOutputs, cvInputs, cvOutputs;
    std::vector<std::vector<std::uint64_t>> atomBuffers;  // 8-byte aligned, per atom port
    std::uint32_t chunkType = 0;                          // atom:Chunk's URID
    std::uint32_t midiEventType = 0;                      // midi:MidiEvent's URID
    int midiInput = -1;        // into atomInputs and atomBuffers; -1: none
    bool midiQueued = false;   // the MIDI input's sequence holds events
    bool instrumentClass = false;  // lv2:InstrumentPlugin
    std::vector<std::vector<float>> cvBuffers;
    std::vector<std::vector<float>> floatInputs, floatOutputs;  // for 64-bit audio
    std::vector<float*> floatInputPointers, floatOutputPointers;
};

}  // namespace varkel::engine
