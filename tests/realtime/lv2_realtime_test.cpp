// The LV2 plug-in's run as a host's real-time thread sees it: no heap
// allocation and no mutex; and an instance that cannot be made is null with
// nothing left allocated. The binary is loaded as LV2 hosts load it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

#include <array>
#include <cmath>
#include <vector>

#include "allocation_watch.h"

using namespace realtime;

namespace {

const LV2_Descriptor* descriptor() {
    static const LV2_Descriptor* const found = [] {
        void* library = dlopen(VARKEL_LV2_BINARY, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return static_cast<const LV2_Descriptor*>(nullptr);
        auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(library, "lv2_descriptor"));
        return entry != nullptr ? entry(0) : nullptr;
    }();
    return found;
}

const LV2_Feature* const kNoFeatures[] = {nullptr};

TEST(Lv2RealtimeSafety, RunAllocatesAndLocksNothing) {
    const LV2_Descriptor* d = descriptor();
    ASSERT_NE(d, nullptr) << dlerror();
    LV2_Handle fx = d->instantiate(d, 48000.0, "", kNoFeatures);
    ASSERT_NE(fx, nullptr);
    std::vector<float> left(4096), right(4096);
    for (int i = 0; i < 4096; ++i) {
        left[i] = 4.0f * std::sin(0.01f * static_cast<float>(i));
        right[i] = left[4095 - i];
    }
    std::array<float, 3> controls = {0.25f, 1.0f, 0.25f};
    for (std::uint32_t p = 0; p < 3; ++p) d->connect_port(fx, p, &controls[p]);
    d->connect_port(fx, 3, left.data());
    d->connect_port(fx, 4, right.data());
    d->activate(fx);
    {
        Watch watch;
        for (int block = 0; block < 50; ++block) {
            // In place, then crossed (outputs on the other channel's input).
            d->connect_port(fx, 5, block % 2 ? right.data() : left.data());
            d->connect_port(fx, 6, block % 2 ? left.data() : right.data());
            controls[block % 3] = block == 7 ? NAN : 0.1f * static_cast<float>(block % 10);
            d->run(fx, block == 3 ? 0 : 4096);
        }
        EXPECT_EQ(allocations.load(), 0);
        EXPECT_EQ(locks.load(), 0);
    }
    d->cleanup(fx);
}

TEST(Lv2RealtimeSafety, FailedInstantiationReturnsNullAndLeaksNothing) {
    const LV2_Descriptor* d = descriptor();
    ASSERT_NE(d, nullptr) << dlerror();
    d->cleanup(
        d->instantiate(d, 44100.0, "", kNoFeatures));  // the shared tables are made once, here
    for (long failing = 1; failing <= 2; ++failing) {
        Watch watch;
        failCountdown = failing;
        LV2_Handle fx = d->instantiate(d, 44100.0, "", kNoFeatures);
        failCountdown = 0;
        EXPECT_EQ(fx, nullptr) << "allocation " << failing << " failed";
        EXPECT_EQ(allocations.load(), failing);
        EXPECT_EQ(allocations.load() - 1, releases.load());  // all but the failed one freed
    }
}

}  // namespace
