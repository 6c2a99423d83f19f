#include "host/host_callback.h"

#include <cstring>
#include <string_view>

namespace varkel::host {

namespace {

// Host strings are limited to 64 characters by the interface.
void copyHostString(const std::string& text, void* ptr) {
    if (ptr == nullptr) return;
    char* out = static_cast<char*>(ptr);
    const std::size_t length = text.size() < 63 ? text.size() : 63;
    std::memcpy(out, text.data(), length);
    out[length] = 0;
}

// What plug-ins ask a host it can do; instruments ask before taking MIDI.
bool hostCanDo(const char* what) {
    if (what == nullptr) return false;
    const std::string_view asked(what);
    return asked == "sendVstEvents" || asked == "sendVstMidiEvent";
}

}  // namespace

VstIntPtr contextHostCallback(AEffect* effect, VstInt32 opcode, VstInt32 /*index*/,
                              VstIntPtr /*value*/, void* ptr, float /*opt*/) {
    static const HostContext defaults;
    const HostContext& context = (effect != nullptr && effect->user != nullptr)
                                     ? *static_cast<const HostContext*>(effect->user)
                                     : defaults;
    switch (opcode) {
        case audioMasterVersion:
            return 2400;
        case audioMasterGetSampleRate:
            return static_cast<VstIntPtr>(context.sampleRate);
        case audioMasterGetBlockSize:
            return context.blockSize;
        case audioMasterGetCurrentProcessLevel:
            return context.processLevel;
        case audioMasterGetAutomationState:
            return 1;  // off: nothing is automated here
        case audioMasterGetLanguage:
            return 1;  // English
        case audioMasterGetVendorVersion:
            return context.vendorVersion;
        case audioMasterGetVendorString:
            copyHostString(context.vendor, ptr);
            return 1;
        case audioMasterGetProductString:
            copyHostString(context.product, ptr);
            return 1;
        case audioMasterCanDo:
            return hostCanDo(static_cast<const char*>(ptr)) ? 1 : 0;
        default:
            return 0;
    }
}

}  // namespace varkel::host
