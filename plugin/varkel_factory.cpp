#include <new>

#include "framework/plugin_entry.h"
#include "plugin/varkel_plugin.h"

// No half-made object reaches the host: if the object or its processor
// cannot be made, the host gets null.
AudioEffect* createEffectInstance(audioMasterCallback audioMaster) {
    auto* effect = new (std::nothrow) Varkel(audioMaster);
    if (effect == nullptr) return nullptr;
    if (!effect->isReady()) {
        delete effect;
        return nullptr;
    }
    return effect;
}
