// A plug-in instance as the engine drives it, whatever its format: its
// channels, its parameters (each in its own units: normalised 0..1 for
// VST 2.4, the port's range for LV2), switching it on and off, and
// processing one block.
#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/midi/midi_event.h"

namespace varkel::engine {

enum class Precision { Single, Double };

// How the plug-in is told it is run: faster than real time, or as a live
// host runs it (bench measures it so).
enum class ProcessMode { Offline, Realtime };

struct ParameterInfo {
    std::string name;
    std::string symbol;  // LV2's port symbol; empty for VST 2.4
    std::string unit;    // "dB", "Hz", ... or empty
    float minimum = 0.0f;
    float maximum = 1.0f;
    float defaultValue = 0.0f;
    bool toggled = false;
    bool integer = false;
    bool enumeration = false;
    bool logarithmic = false;
    std::vector<std::pair<float, std::string>> scalePoints;
};

// What a plug-in reports from each run (LV2's control outputs: meters, gain
// reduction, latency), as it stood after the latest one.
struct ControlOutput {
    std::string name;
    std::string symbol;
    std::string unit;
    float minimum = 0.0f;
    float maximum = 0.0f;
    float value = 0.0f;
};

// Why an input counts as a side-chain, for info to say.
enum class SideChainReason { None, Label, Property, Group, Count };

struct InputInfo {
    std::string label;
    bool sideChain = false;
    SideChainReason reason = SideChainReason::None;
};

// How a plug-in keeps what it sounds like: in its parameters alone, in an
// opaque chunk (VST 2.4's effFlagsProgramChunks), or through LV2's state
// interface (beside its ports).
enum class StateKind { Parameters, Chunks, Lv2State };

class Plugin {
public:
    virtual ~Plugin() = default;

    // "VST 2.4" or "LV2".
    virtual std::string format() const = 0;
    // The plug-in's name, or its file's when it reports none.
    virtual std::string name() const = 0;
    // Where it was loaded from: a module path or an LV2 URI.
    virtual std::string location() const = 0;

    virtual int inputs() const = 0;
    virtual int outputs() const = 0;

    // Whether it takes MIDI (VST 2.4: a synth, or one that says it receives
    // MIDI; LV2: an event input that supports MIDI).
    virtual bool takesMidi() const { return false; }
    // An instrument: it takes MIDI, makes sound, and has no audio inputs or
    // says it is one.
    virtual bool isInstrument() const { return takesMidi() && outputs() > 0 && inputs() == 0; }
    // MIDI for the next process call only, each event at its frame within
    // that call, in order. The bytes stay the caller's until that call
    // returns. Ignored by a plug-in that takes no MIDI.
    virtual void queueMidi(std::span<const MidiEvent> /*events*/) {}
    // What each input is; side-chains follow the main inputs' rule of the
    // format (see mainInputs).
    virtual std::vector<InputInfo> inputInfo() const = 0;

    virtual int parameterCount() const = 0;
    virtual ParameterInfo parameterInfo(int index) const = 0;
    std::string parameterName(int index) const { return parameterInfo(index).name; }
    std::string parameterLabel(int index) const { return parameterInfo(index).unit; }
    // The value as the plug-in shows it.
    virtual std::string parameterDisplay(int index) const = 0;
    virtual float parameter(int index) const = 0;
    virtual void setParameter(int index, float value) = 0;

    // The plug-in's presets (VST 2.4: its programs) by name.
    virtual std::vector<std::string> presets() const = 0;
    // By name, URI or number; throws UsageError listing the presets.
    virtual void loadPreset(const std::string& preset) = 0;

    virtual StateKind stateKind() const { return StateKind::Parameters; }
    // Loads a saved state: a .fxp or .fxb for VST 2.4, a state bundle folder
    // or its .ttl for LV2. Throws EngineError naming the file (as the
    // State field) for a file that is not the plug-in's or is damaged.
    virtual void loadState(const std::string& path);
    // Saves the state as it stands: .fxp (a program) or .fxb (a bank) for
    // VST 2.4, a bundle folder for LV2. Throws UsageError for a path the
    // format cannot take, EngineError when it cannot be written.
    virtual void saveState(const std::string& path);
    // The state as bytes and back: a VST 2.4 program's chunk, or its
    // parameters as an 'FxCk' lists them; an LV2 state's Turtle.
    virtual std::string stateBytes();
    virtual void setStateBytes(const std::string& bytes);

    // Frames the output lags the input, with the current settings.
    virtual int latency() = 0;

    virtual std::vector<ControlOutput> controlOutputs() const { return {}; }

    // What loading its presets and state found wrong but could go on past
    // (a preset naming a port it lacks), for a summary to warn about.
    const std::vector<std::string>& warnings() const { return noted; }

    // Ready to process at the precision; throws EngineError when the plug-in
    // cannot process at it.
    virtual void start(Precision precision) = 0;
    virtual void stop() = 0;

    virtual void process(float** inputs, float** outputs, int frames) = 0;
    virtual void process(double** inputs, double** outputs, int frames) = 0;

protected:
    void warn(std::string text) { noted.push_back(std::move(text)); }

private:
    std::vector<std::string> noted;
};

}  // namespace varkel::engine
