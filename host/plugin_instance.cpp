#include "host/plugin_instance.h"

#include <cstring>

namespace varkel::host {

VstIntPtr basicHostCallback(AEffect* /*effect*/, VstInt32 opcode, VstInt32 /*index*/,
                            VstIntPtr /*value*/, void* /*ptr*/, float /*opt*/) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

std::unique_ptr<PluginInstance> PluginInstance::create(const PluginModule& module,
                                                       std::string& error,
                                                       audioMasterCallback callback) {
    EntryPoint entry = module.entryPoint();
    if (entry == nullptr) {
        error = module.path() + " has no VST 2.4 entry point (VSTPluginMain, MAIN or main)";
        return nullptr;
    }
    AEffect* record = entry(callback);
    if (record == nullptr) {
        error = module.path() + ": the entry point returned no effect";
        return nullptr;
    }
    if (record->magic != kEffectMagic) {
        error = module.path() + ": the effect record has the wrong magic number";
        return nullptr;
    }
    return std::unique_ptr<PluginInstance>(new PluginInstance(record));
}

PluginInstance::~PluginInstance() { close(); }

VstIntPtr PluginInstance::close() {
    if (record == nullptr) return 0;
    const VstIntPtr result = record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
    record = nullptr;
    return result;
}

VstIntPtr PluginInstance::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                   float opt) const {
    return record->dispatcher(record, opcode, index, value, ptr, opt);
}

void PluginInstance::start(float rate, VstInt32 blockFrames) const {
    open();
    setSampleRate(rate);
    setBlockSize(blockFrames);
    resume();
}

bool PluginInstance::programNameIndexed(VstInt32 index, std::string& name) const {
    char buffer[256] = {};
    // The category argument -1 asks for the name whatever the category.
    if (dispatch(effGetProgramNameIndexed, index, -1, buffer) == 0) return false;
    buffer[sizeof(buffer) - 1] = 0;
    name = buffer;
    return true;
}

std::string PluginInstance::text(VstInt32 opcode, VstInt32 index) const {
    char buffer[256] = {};
    dispatch(opcode, index, 0, buffer);
    buffer[sizeof(buffer) - 1] = 0;
    return buffer;
}

VstInt32 PluginInstance::findParameter(const std::string& name) const {
    for (VstInt32 i = 0; i < record->numParams; ++i)
        if (parameterName(i) == name) return i;
    return -1;
}

}  // namespace varkel::host
