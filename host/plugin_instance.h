// One effect instance of a loaded module, driven only through its AEffect
// record, as a host drives it.
#pragma once

#include <memory>
#include <string>

#include "host/plugin_module.h"

namespace varkel::host {

// A minimal host: answers audioMasterVersion with 2400 and everything else with 0.
VstIntPtr basicHostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                            void* ptr, float opt);

class PluginInstance {
public:
    // Calls the entry point; on failure returns null and says why in error.
    static std::unique_ptr<PluginInstance> create(const PluginModule& module, std::string& error,
                                                  audioMasterCallback callback = basicHostCallback);
    // Sends effClose unless close() already did.
    ~PluginInstance();
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    AEffect* effect() const { return record; }
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0,
                       void* ptr = nullptr, float opt = 0.0f) const;

    void open() const { dispatch(effOpen); }
    VstIntPtr close();
    void setSampleRate(float rate) const { dispatch(effSetSampleRate, 0, 0, nullptr, rate); }
    void setBlockSize(VstInt32 frames) const { dispatch(effSetBlockSize, 0, frames); }
    void resume() const { dispatch(effMainsChanged, 0, 1); }
    void suspend() const { dispatch(effMainsChanged, 0, 0); }

    // open, rate, block size, switched on: ready to process.
    void start(float rate, VstInt32 blockFrames) const;

    void setParameter(VstInt32 index, float value) const {
        record->setParameter(record, index, value);
    }
    float getParameter(VstInt32 index) const { return record->getParameter(record, index); }
    std::string parameterName(VstInt32 index) const { return text(effGetParamName, index); }
    std::string parameterLabel(VstInt32 index) const { return text(effGetParamLabel, index); }
    std::string parameterDisplay(VstInt32 index) const { return text(effGetParamDisplay, index); }
    std::string programName() const { return text(effGetProgramName, 0); }
    std::string effectName() const { return text(effGetEffectName, 0); }
    std::string vendorString() const { return text(effGetVendorString, 0); }
    std::string productString() const { return text(effGetProductString, 0); }
    // Index of the parameter the plug-in calls name, or -1.
    VstInt32 findParameter(const std::string& name) const;
    // The name of program index without switching to it; false when the
    // plug-in does not answer effGetProgramNameIndexed.
    bool programNameIndexed(VstInt32 index, std::string& name) const;

    VstInt32 vendorVersion() const { return static_cast<VstInt32>(dispatch(effGetVendorVersion)); }
    VstInt32 vstVersion() const { return static_cast<VstInt32>(dispatch(effGetVstVersion)); }
    VstInt32 category() const { return static_cast<VstInt32>(dispatch(effGetPlugCategory)); }
    VstInt32 currentProgram() const { return static_cast<VstInt32>(dispatch(effGetProgram)); }
    void setProcessPrecision(VstInt32 precision) const {
        dispatch(effSetProcessPrecision, 0, precision);
    }
    void startProcess() const { dispatch(effStartProcess); }
    void stopProcess() const { dispatch(effStopProcess); }

    // effCanDo: the plug-in answers 1 for yes, -1 for no, 0 when it does not know.
    bool says(const char* capability) const {
        return dispatch(effCanDo, 0, 0, const_cast<char*>(capability)) > 0;
    }
    // It takes MIDI: a synth, or it says it receives events.
    bool takesMidi() const {
        return (record->flags & effFlagsIsSynth) != 0 || says("receiveVstEvents") ||
               says("receiveVstMidiEvent");
    }
    // It plays MIDI into sound: a synth, or one that takes MIDI and no audio
    // (a MIDI filter, with no audio outputs, is none).
    bool isInstrument() const {
        return takesMidi() && record->numOutputs > 0 &&
               ((record->flags & effFlagsIsSynth) != 0 || record->numInputs == 0);
    }

    bool canReplace() const { return (record->flags & effFlagsCanReplacing) != 0; }
    bool canDoubleReplace() const { return (record->flags & effFlagsCanDoubleReplacing) != 0; }
    void process(float** inputs, float** outputs, VstInt32 frames) const {
        record->processReplacing(record, inputs, outputs, frames);
    }
    void processDouble(double** inputs, double** outputs, VstInt32 frames) const {
        record->processDoubleReplacing(record, inputs, outputs, frames);
    }

private:
    explicit PluginInstance(AEffect* record) : record(record) {}
    // Reads a text answer into a generous zeroed buffer: plug-ins differ in
    // how closely they keep to the interface's length limits.
    std::string text(VstInt32 opcode, VstInt32 index) const;

    AEffect* record;
};

}  // namespace varkel::host
