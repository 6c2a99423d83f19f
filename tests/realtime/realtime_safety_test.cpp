// The audio path as a host's real-time thread sees it: no heap allocation and
// no mutex while processing. This binary replaces the allocator (and counts
// mutex locks) for the whole process, so it is built apart from the other
// tests and not under the sanitizers, which bring allocators of their own.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "abi/aeffect.h"
#include "allocation_watch.h"

extern "C" AEffect* VSTPluginMain(audioMasterCallback audioMaster);

using namespace realtime;

namespace {

VstIntPtr host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

TEST(RealtimeSafety, ProcessingAllocatesAndLocksNothing) {
    AEffect* fx = VSTPluginMain(host);
    ASSERT_NE(fx, nullptr);
    fx->dispatcher(fx, effOpen, 0, 0, nullptr, 0.0f);
    fx->dispatcher(fx, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    fx->dispatcher(fx, effMainsChanged, 0, 1, nullptr, 0.0f);

    std::vector<float> left(4096), right(4096);
    std::vector<double> wideL(4096), wideR(4096);
    for (int i = 0; i < 4096; ++i) {
        left[i] = 4.0f * std::sin(0.01f * static_cast<float>(i));
        right[i] = left[4095 - i];
        wideL[i] = left[i];
        wideR[i] = right[i];
    }
    float* in[2] = {left.data(), right.data()};
    double* win[2] = {wideL.data(), wideR.data()};
    {
        Watch watch;
        for (int block = 0; block < 50; ++block) {
            fx->setParameter(fx, block % 3, 0.1f * static_cast<float>(block % 10));
            fx->getParameter(fx, block % 3);
            fx->processReplacing(fx, in, in, 4096);
            fx->processDoubleReplacing(fx, win, win, 4096);
        }
        EXPECT_EQ(allocations.load(), 0);
        EXPECT_EQ(locks.load(), 0);
    }
    fx->dispatcher(fx, effClose, 0, 0, nullptr, 0.0f);
}

// When the object or its processor cannot be made, the host gets null and
// nothing is left allocated.
TEST(RealtimeSafety, FailedCreationReturnsNullAndLeaksNothing) {
    for (long failing = 1; failing <= 2; ++failing) {
        AEffect* fx = nullptr;
        {
            Watch watch;
            failCountdown = failing;
            fx = VSTPluginMain(host);
            failCountdown = 0;
            EXPECT_EQ(fx, nullptr) << "allocation " << failing << " failed";
            EXPECT_GE(allocations.load(), failing);
            EXPECT_EQ(allocations.load() - 1, releases.load());  // all but the failed one freed
        }
    }
    AEffect* fx = VSTPluginMain(host);
    ASSERT_NE(fx, nullptr);
    fx->dispatcher(fx, effClose, 0, 0, nullptr, 0.0f);
}

}  // namespace
