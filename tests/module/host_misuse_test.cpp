// What a careless host does to the module, and that each case stays defined
// and safe: processing before effOpen or after switching off, blocks larger
// than announced, absurd sample rates between blocks, closing straight after
// creation, texts asked for any index, and the entry point called with no
// callback or by a host that answers 0 to the version query.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "host/fresh_thread.h"
#include "loaded_module.h"
#include "stereo_render.h"

namespace {

using loaded::makeInstance;
using loaded::render;
using loaded::Stereo;
using loaded::testSignal;
using varkel::host::onFreshThread;
using varkel::host::PluginInstance;

void append(Stereo& to, const Stereo& more) {
    to.left.insert(to.left.end(), more.left.begin(), more.left.end());
    to.right.insert(to.right.end(), more.right.begin(), more.right.end());
}

bool sameBits(const Stereo& a, const Stereo& b) {
    return a.left.size() == b.left.size() && a.right.size() == b.right.size() &&
           std::memcmp(a.left.data(), b.left.data(), a.left.size() * sizeof(float)) == 0 &&
           std::memcmp(a.right.data(), b.right.data(), a.right.size() * sizeof(float)) == 0;
}

bool allFinite(const Stereo& s) {
    for (std::size_t i = 0; i < s.left.size(); ++i)
        if (!std::isfinite(s.left[i]) || !std::isfinite(s.right[i])) return false;
    return true;
}

constexpr int kBlock = 512;

// Two blocks from an instance opened, set up and switched on as hosts should.
Stereo wellBehavedRender(const Stereo& in) {
    Stereo out;
    onFreshThread([&] {
        auto fx = makeInstance();
        fx->start(44100.0f, kBlock);
        out = render(*fx, in, 0, 2 * kBlock, kBlock);
    });
    return out;
}

// Nothing about the effect depends on being opened or switched on: the sound
// is the same whether or not the host kept to the order.
TEST(HostMisuse, ProcessingOutOfOrderSoundsAsInOrder) {
    const Stereo in = testSignal(2 * kBlock, 0.8f, 0.6f);
    const Stereo expected = wellBehavedRender(in);
    ASSERT_TRUE(allFinite(expected));

    Stereo neverOpened, switchedOff, switchedOddly;
    onFreshThread([&] {
        auto fx = makeInstance();
        neverOpened = render(*fx, in, 0, 2 * kBlock, kBlock);
    });
    onFreshThread([&] {
        auto fx = makeInstance();
        fx->start(44100.0f, kBlock);
        switchedOff = render(*fx, in, 0, kBlock, kBlock);
        fx->suspend();
        append(switchedOff, render(*fx, in, kBlock, kBlock, kBlock));
    });
    onFreshThread([&] {
        auto fx = makeInstance();
        fx->suspend();  // switched off before ever being switched on
        fx->start(44100.0f, kBlock);
        fx->resume();   // and on twice
        switchedOddly = render(*fx, in, 0, 2 * kBlock, kBlock);
    });
    EXPECT_TRUE(sameBits(neverOpened, expected));
    EXPECT_TRUE(sameBits(switchedOff, expected));
    EXPECT_TRUE(sameBits(switchedOddly, expected));
}

// The announced block size is a promise the effect does not rely on.
TEST(HostMisuse, BlocksLargerThanAnnouncedAreProcessedWhole) {
    constexpr int kFrames = 4096;
    const Stereo in = testSignal(kFrames, 0.8f, 0.6f);
    Stereo expected;
    onFreshThread([&] {
        auto fx = makeInstance();
        fx->start(44100.0f, 64);
        expected = render(*fx, in, 0, kFrames, 64);
    });
    for (VstInt32 announced : {64, 1, 0, -1, std::numeric_limits<VstInt32>::min()}) {
        Stereo whole;
        onFreshThread([&] {
            auto fx = makeInstance();
            fx->start(44100.0f, announced);
            whole = render(*fx, in, 0, kFrames, kFrames);
        });
        EXPECT_TRUE(sameBits(whole, expected)) << "announced " << announced;
    }
}

// A frame count of zero or below asks for nothing: no sample is read or written.
TEST(HostMisuse, EmptyAndNegativeBlocksTouchNothing) {
    auto fx = makeInstance();
    fx->start(44100.0f, kBlock);
    for (VstInt32 frames : {0, -1, std::numeric_limits<VstInt32>::min()}) {
        float in[2] = {0.5f, -0.5f}, out[2] = {7.0f, 7.0f};
        double in64[2] = {0.5, -0.5}, out64[2] = {7.0, 7.0};
        float* inputs[2] = {&in[0], &in[1]};
        float* outputs[2] = {&out[0], &out[1]};
        double* inputs64[2] = {&in64[0], &in64[1]};
        double* outputs64[2] = {&out64[0], &out64[1]};
        fx->process(inputs, outputs, frames);
        fx->processDouble(inputs64, outputs64, frames);
        EXPECT_EQ(out[0], 7.0f) << frames;
        EXPECT_EQ(out[1], 7.0f) << frames;
        EXPECT_EQ(out64[0], 7.0) << frames;
        EXPECT_EQ(out64[1], 7.0) << frames;
    }
}

// Rates no processor can run at are ignored between two blocks, whichever
// opcode brings them: the second block sounds as if nothing had been sent.
// (2 and 999 Hz once re-tuned the DC blocker past stability: infinite output.)
TEST(HostMisuse, UnusableSampleRatesBetweenBlocksAreIgnored) {
    const Stereo in = testSignal(2 * kBlock, 0.8f, 0.6f);
    const Stereo expected = wellBehavedRender(in);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float rate : {0.0f, -0.0f, -44100.0f, nan, inf, -inf, 1e30f, 2.0f, 999.0f, 999.5f, 999.99f}) {
        for (VstInt32 opcode : {effSetSampleRate, __effSetBlockSizeAndSampleRateDeprecated}) {
            Stereo out;
            onFreshThread([&] {
                auto fx = makeInstance();
                fx->start(44100.0f, kBlock);
                out = render(*fx, in, 0, kBlock, kBlock);
                fx->dispatch(opcode, 0, kBlock, nullptr, rate);
                append(out, render(*fx, in, kBlock, kBlock, kBlock));
            });
            EXPECT_TRUE(sameBits(out, expected)) << "rate " << rate << " opcode " << opcode;
        }
    }
}

// A real rate between blocks re-tunes the processor; the output stays finite
// and the instance keeps working, through several changes in a row.
TEST(HostMisuse, RealSampleRateChangesBetweenBlocksStayFinite) {
    const Stereo in = testSignal(kBlock, 0.8f, 0.6f);
    auto fx = makeInstance();
    fx->start(44100.0f, kBlock);
    for (float rate : {48000.0f, 1000.0f, 192000.0f, 8000.0f, 2147483520.0f, 44100.0f}) {
        fx->setSampleRate(rate);
        EXPECT_TRUE(allFinite(render(*fx, in, 0, kBlock, kBlock))) << "rate " << rate;
    }
}

TEST(HostMisuse, CloseStraightAfterCreation) {
    for (int i = 0; i < 100; ++i) {
        auto fx = makeInstance();
        ASSERT_TRUE(fx);
        EXPECT_EQ(fx->close(), 1);
    }
    auto opened = makeInstance();
    opened->open();
    EXPECT_EQ(opened->close(), 1);
}

// Every text opcode with every index from -1000 to 1000: the three
// parameters answer within the 8-character field, every other index leaves
// the host's buffer exactly as it was, and nothing lands outside it.
TEST(HostMisuse, TextsForEveryIndex) {
    auto fx = makeInstance();
    constexpr std::size_t kGuard = 32;
    constexpr std::size_t kField = kVstMaxParamStrLen + 1;
    struct Asked {
        VstInt32 opcode;
        std::size_t field;
    };
    const Asked asked[] = {{effGetParamName, kField},
                           {effGetParamLabel, kField},
                           {effGetParamDisplay, kField},
                           {effGetProgramNameIndexed, kVstMaxProgNameLen + 1}};
    int failures = 0;
    for (const Asked& a : asked) {
        for (VstInt32 index = -1000; index <= 1000 && failures < 10; ++index) {
            unsigned char buffer[kGuard + kVstMaxProgNameLen + 1 + kGuard];
            std::memset(buffer, 'G', sizeof buffer);
            unsigned char* field = buffer + kGuard;
            std::memset(field, 'x', a.field);
            fx->dispatch(a.opcode, index, 0, field);

            bool guardsIntact = true;
            for (std::size_t i = 0; i < sizeof buffer; ++i)
                if (i < kGuard || i >= kGuard + a.field) guardsIntact = guardsIntact && buffer[i] == 'G';
            const bool answers = a.opcode != effGetProgramNameIndexed && index >= 0 && index < 3;
            bool fine = guardsIntact;
            if (answers) {
                fine = fine && field[0] != 0 && std::memchr(field, 0, a.field) != nullptr;
            } else {
                for (std::size_t i = 0; i < a.field; ++i) fine = fine && field[i] == 'x';
            }
            if (!fine) {
                ++failures;
                ADD_FAILURE() << "opcode " << a.opcode << " index " << index;
            }
        }
    }
}

TEST(HostMisuse, ParametersAtAnyIndex) {
    auto fx = makeInstance();
    const float defaults[3] = {fx->getParameter(0), fx->getParameter(1), fx->getParameter(2)};
    for (VstInt32 index = -1000; index <= 1000; ++index) {
        if (index >= 0 && index < 3) continue;
        fx->setParameter(index, 0.5f);
        EXPECT_EQ(fx->getParameter(index), 0.0f) << index;
    }
    for (VstInt32 index : {std::numeric_limits<VstInt32>::min(), std::numeric_limits<VstInt32>::max()}) {
        fx->setParameter(index, 0.5f);
        EXPECT_EQ(fx->getParameter(index), 0.0f) << index;
    }
    for (VstInt32 i = 0; i < 3; ++i) EXPECT_EQ(fx->getParameter(i), defaults[i]) << i;
}

int versionQueries = 0;
int otherQueries = 0;

VstIntPtr hostWithoutVersion(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    (opcode == audioMasterVersion ? versionQueries : otherQueries) += 1;
    return 0;
}

// A host that answers 0 to the version query gets no effect (and, under
// LeakSanitizer, none is left behind); with no callback at all there is
// nobody to ask, and the answer is the same instead of a crash.
TEST(HostMisuse, EntryPointRefusesHostsItCannotTalkTo) {
    for (const char* name : {"VSTPluginMain", "MAIN", "main"}) {
        SCOPED_TRACE(name);
        const auto entry = reinterpret_cast<varkel::host::EntryPoint>(loaded::module().symbol(name));
        ASSERT_NE(entry, nullptr);
        versionQueries = otherQueries = 0;
        EXPECT_EQ(entry(hostWithoutVersion), nullptr);
        EXPECT_EQ(versionQueries, 1);
        EXPECT_EQ(otherQueries, 0);
        EXPECT_EQ(entry(nullptr), nullptr);
    }
}

}  // namespace
