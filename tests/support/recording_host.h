// A host that records every call an effect makes to it and gives one answer
// to all, for tests of the services through which an effect calls its host.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "abi/aeffect.h"

namespace recording {

struct HostCall {
    AEffect* effect;
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

struct RecordingHost {
    std::vector<HostCall> calls;
    VstIntPtr answer = 0;
    std::function<void(const HostCall&)> onCall;
};

// The callback has no context pointer of its own, so the host in use is global.
inline RecordingHost* currentHost = nullptr;

inline VstIntPtr recordingCallback(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                   VstIntPtr value, void* ptr, float opt) {
    const HostCall call{effect, opcode, index, value, ptr, opt};
    currentHost->calls.push_back(call);
    if (currentHost->onCall) currentHost->onCall(call);
    return currentHost->answer;
}

// Each test gets a fresh host, in force for the test's duration.
class HostServices : public testing::Test {
protected:
    void SetUp() override { currentHost = &host; }
    void TearDown() override { currentHost = nullptr; }
    RecordingHost host;
};

}  // namespace recording
