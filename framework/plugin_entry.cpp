// The exported entry points through which a host obtains an effect.
#include "framework/plugin_entry.h"

#include "framework/export.h"

extern "C" {

// The module-instance handle, set by DllMain.
VARKEL_EXPORT void* hInstance = nullptr;

VARKEL_EXPORT AEffect* VSTPluginMain(audioMasterCallback audioMaster) {
    if (audioMaster == nullptr) return nullptr;
    try {
        if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
        AudioEffect* effect = createEffectInstance(audioMaster);
        return effect != nullptr ? effect->getAeffect() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

VARKEL_EXPORT AEffect* MAIN(audioMasterCallback audioMaster) { return VSTPluginMain(audioMaster); }

}  // extern "C"
