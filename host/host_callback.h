// A host callback that answers what plug-ins commonly ask while they set
// themselves up or render: the host's identity, its sample rate and block
// size, and whether it is rendering offline or in real time.
#pragma once

#include <string>

#include "abi/aeffect.h"

namespace varkel::host {

// Answers to audioMasterGetCurrentProcessLevel.
enum : VstInt32 { kProcessLevelRealtime = 2, kProcessLevelOffline = 4 };
// Arguments of effSetProcessPrecision.
enum : VstInt32 { kProcessPrecision32 = 0, kProcessPrecision64 = 1 };

struct HostContext {
    float sampleRate = 44100.0f;
    VstInt32 blockSize = 512;
    VstInt32 processLevel = kProcessLevelOffline;
    std::string vendor = "Varkel";
    std::string product = "varkel-host";
    VstInt32 vendorVersion = 1000;
};

// Reads the context from the record's user field, which belongs to the host;
// before attachHostContext (for instance inside the entry point) it answers
// with a default context.
VstIntPtr contextHostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                              void* ptr, float opt);

// The context must outlive every call the effect makes.
inline void attachHostContext(AEffect* effect, HostContext* context) { effect->user = context; }

}  // namespace varkel::host
