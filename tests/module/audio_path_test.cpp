// The built module as a host meets it: the record, the base dispatcher, the
// parameters and stereo processing, driven only through the entry point and
// the record.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "host/fresh_thread.h"
#include "loaded_module.h"
#include "stereo_render.h"

namespace {

using loaded::makeInstance;
using loaded::module;
using loaded::render;
using loaded::Stereo;
using loaded::testSignal;
using varkel::host::onFreshThread;
using varkel::host::PluginInstance;

template <typename T>
T fieldAt(const AEffect* record, std::size_t offset) {
    T value;
    std::memcpy(&value, reinterpret_cast<const unsigned char*>(record) + offset, sizeof(T));
    return value;
}

// A new instance, switched on at the rate, handed to work on a fresh thread.
void withFreshInstance(float rate, int block, const std::function<void(PluginInstance&)>& work) {
    onFreshThread([&] {
        auto fx = makeInstance();
        fx->start(rate, block);
        work(*fx);
    });
}

Stereo renderFresh(const Stereo& in, int block) {
    Stereo out;
    withFreshInstance(44100.0f, block, [&](PluginInstance& fx) { out = render(fx, in, block); });
    return out;
}

void expectSameBits(const std::vector<float>& a, const std::vector<float>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i)
        ASSERT_EQ(std::bit_cast<std::uint32_t>(a[i]), std::bit_cast<std::uint32_t>(b[i])) << i;
}

TEST(AudioPath, RecordHasTheEffectsValuesAtTheirOffsets) {
    auto fx = makeInstance();
    const AEffect* r = fx->effect();
    EXPECT_EQ(fieldAt<std::int32_t>(r, 0), 0x56737450);  // "VstP"
    for (std::size_t fn : {8u, 16u, 24u, 32u, 120u, 128u}) EXPECT_NE(fieldAt<void*>(r, fn), nullptr) << fn;
    EXPECT_EQ(fieldAt<std::int32_t>(r, 40), 1);       // programs
    EXPECT_EQ(fieldAt<std::int32_t>(r, 44), 3);       // parameters
    EXPECT_EQ(fieldAt<std::int32_t>(r, 48), 2);       // inputs
    EXPECT_EQ(fieldAt<std::int32_t>(r, 52), 2);       // outputs
    EXPECT_EQ(fieldAt<std::int32_t>(r, 56), 0x1010);  // replacing, double replacing
    EXPECT_EQ(fieldAt<std::int64_t>(r, 64), 0);
    EXPECT_EQ(fieldAt<std::int64_t>(r, 72), 0);
    EXPECT_EQ(fieldAt<std::int32_t>(r, 80), 0);       // initial delay
    EXPECT_EQ(fieldAt<float>(r, 92), 1.0f);           // ioRatio
    EXPECT_NE(fieldAt<void*>(r, 96), nullptr);        // object
    EXPECT_EQ(fieldAt<void*>(r, 104), nullptr);       // user
    EXPECT_EQ(fieldAt<std::int32_t>(r, 112), 0x56726B6C);  // "Vrkl"
    EXPECT_EQ(fieldAt<std::int32_t>(r, 116), 1);      // version
    for (std::size_t b = 136; b < 192; ++b) EXPECT_EQ(fieldAt<unsigned char>(r, b), 0) << b;
}

TEST(AudioPath, EntryPointsMakeIndependentInstances) {
    auto a = makeInstance();
    auto b = makeInstance();
    EXPECT_NE(a->effect(), b->effect());
    a->setParameter(0, 0.9f);
    EXPECT_EQ(a->getParameter(0), 0.9f);
    EXPECT_EQ(b->getParameter(0), 0.25118864f);
}

// Hosts of every age find an entry point under the name they know: the
// legacy names make the same record as VSTPluginMain.
TEST(AudioPath, EveryEntryNameMakesAVarkelRecord) {
    for (const char* name : {"VSTPluginMain", "MAIN", "main"}) {
        SCOPED_TRACE(name);
        auto entry = reinterpret_cast<varkel::host::EntryPoint>(module().symbol(name));
        ASSERT_NE(entry, nullptr);
        AEffect* record = entry(varkel::host::basicHostCallback);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(fieldAt<std::int32_t>(record, 0), 0x56737450);    // "VstP"
        EXPECT_EQ(fieldAt<std::int32_t>(record, 112), 0x56726B6C);  // "Vrkl"
        EXPECT_EQ(record->numParams, 3);
        EXPECT_EQ(record->getParameter(record, 0), 0.25118864f);
        EXPECT_EQ(record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f), 1);
    }
}

TEST(AudioPath, HostWithoutVersionGetsNoEffect) {
    auto entry = module().entryPoint();
    auto silentHost = [](AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) -> VstIntPtr { return 0; };
    EXPECT_EQ(entry(silentHost), nullptr);
    EXPECT_EQ(entry(nullptr), nullptr);
}

TEST(AudioPath, ModuleHandleIsRecordedAtLoad) {
    auto** handle = static_cast<void**>(module().symbol("hInstance"));
    ASSERT_NE(handle, nullptr);
    Dl_info info{};
    ASSERT_NE(dladdr(module().symbol("VSTPluginMain"), &info), 0);
    EXPECT_EQ(*handle, info.dli_fbase);
}

TEST(AudioPath, CloseAnswersOne) {
    auto fx = makeInstance();
    fx->open();
    EXPECT_EQ(fx->close(), 1);
}

TEST(AudioPath, BaseDispatcherAnswers) {
    auto fx = makeInstance();
    EXPECT_EQ(fx->dispatch(effGetProgram), 0);
    EXPECT_EQ(fx->dispatch(__effIdentifyDeprecated), 0x4E764566);
    for (VstInt32 op : std::initializer_list<VstInt32>{effOpen, __effGetVuDeprecated, effSetSampleRate, effSetBlockSize, effMainsChanged,
                        __effEditDrawDeprecated, __effEditMouseDeprecated, __effEditKeyDeprecated,
                        __effEditTopDeprecated, __effEditSleepDeprecated, 1000, -1})
        EXPECT_EQ(fx->dispatch(op, 0, 0, nullptr, 44100.0f), 0) << op;

    // No editor: the editor opcodes leave the host's pointer alone.
    ERect sentinel{};
    ERect* rect = &sentinel;
    EXPECT_EQ(fx->dispatch(effEditGetRect, 0, 0, &rect), 0);
    EXPECT_EQ(rect, &sentinel);
    for (VstInt32 op : std::initializer_list<VstInt32>{effEditOpen, effEditClose, effEditIdle}) EXPECT_EQ(fx->dispatch(op, 0, 0, &rect), 0);

    // No chunks.
    void* data = &sentinel;
    EXPECT_EQ(fx->dispatch(effGetChunk, 0, 0, &data), 0);
    EXPECT_EQ(data, &sentinel);
    EXPECT_EQ(fx->dispatch(effSetChunk, 0, 16, &sentinel), 0);
}

TEST(AudioPath, ProgramNameAndProgramSelection) {
    auto fx = makeInstance();
    char name[32];
    std::memset(name, 'x', sizeof name);
    fx->dispatch(effGetProgramName, 0, 0, name);
    EXPECT_STREQ(name, "Default");
    for (int i = 7; i < 25; ++i) EXPECT_EQ(name[i], 0) << i;
    EXPECT_EQ(name[25], 'x');

    char longName[] = "A very long program name over 24";
    fx->dispatch(effSetProgramName, 0, 0, longName);
    fx->dispatch(effGetProgramName, 0, 0, name);
    EXPECT_STREQ(name, "A very long program name");

    for (VstIntPtr program : std::initializer_list<VstIntPtr>{1, 2, -1, INT64_MIN}) {
        fx->dispatch(effSetProgram, 0, program);
        EXPECT_EQ(fx->dispatch(effGetProgram), 0) << program;
    }
    fx->dispatch(effSetProgram, 0, 0);
    EXPECT_EQ(fx->dispatch(effGetProgram), 0);
}

TEST(AudioPath, TextAndChunkOpcodesIgnoreNullPointers) {
    auto fx = makeInstance();
    for (VstInt32 op : std::initializer_list<VstInt32>{effSetProgramName, effGetProgramName, effGetParamLabel, effGetParamDisplay,
                        effGetParamName, effGetChunk, effSetChunk, effEditGetRect})
        EXPECT_EQ(fx->dispatch(op, 0, 8, nullptr), 0) << op;
}

TEST(AudioPath, ParametersStoreWhatTheHostSends) {
    auto fx = makeInstance();
    EXPECT_EQ(fx->getParameter(0), 0.25118864f);
    EXPECT_EQ(fx->getParameter(1), 1.0f);
    EXPECT_EQ(fx->getParameter(2), 0.25118864f);
    EXPECT_EQ(fx->getParameter(3), 0.0f);
    EXPECT_EQ(fx->getParameter(-1), 0.0f);

    fx->setParameter(1, 0.3f);
    fx->setParameter(2, 2.5f);  // outside 0..1: kept as it comes
    fx->setParameter(3, 0.7f);
    fx->setParameter(-1, 0.7f);
    EXPECT_EQ(fx->getParameter(1), 0.3f);
    EXPECT_EQ(fx->getParameter(2), 2.5f);
    EXPECT_EQ(fx->getParameter(0), 0.25118864f);

    // A non-finite value would silence the stage for good: it is ignored.
    for (float bad : {NAN, INFINITY, -INFINITY}) {
        fx->setParameter(1, bad);
        EXPECT_EQ(fx->getParameter(1), 0.3f);
    }
}

TEST(AudioPath, InPlaceEqualsSeparateBuffers) {
    const Stereo in = testSignal(3000);
    const Stereo separate = renderFresh(in, 512);
    Stereo inPlace = in;
    withFreshInstance(44100.0f, 512, [&](PluginInstance& fx) {
        for (int pos = 0; pos < 3000; pos += 512) {
            float* bufs[2] = {inPlace.left.data() + pos, inPlace.right.data() + pos};
            fx.process(bufs, bufs, std::min(512, 3000 - pos));
        }
    });
    expectSameBits(separate.left, inPlace.left);
    expectSameBits(separate.right, inPlace.right);
}

TEST(AudioPath, DoublePrecisionEqualsSinglePrecision) {
    const Stereo in = testSignal(2048);
    const Stereo single = renderFresh(in, 256);
    std::vector<double> wideL(2048), wideR(2048);
    withFreshInstance(44100.0f, 256, [&](PluginInstance& fx) {
        std::vector<double> inL(in.left.begin(), in.left.end()), inR(in.right.begin(), in.right.end());
        for (int pos = 0; pos < 2048; pos += 256) {
            double* ins[2] = {inL.data() + pos, inR.data() + pos};
            double* outs[2] = {wideL.data() + pos, wideR.data() + pos};
            fx.processDouble(ins, outs, 256);
        }
    });
    for (int i = 0; i < 2048; ++i) {
        ASSERT_EQ(wideL[i], static_cast<double>(single.left[i])) << i;
        ASSERT_EQ(wideR[i], static_cast<double>(single.right[i])) << i;
    }
}

TEST(AudioPath, BlockSizeDoesNotChangeTheResult) {
    const Stereo in = testSignal(4100);
    const Stereo whole = renderFresh(in, 4100), small = renderFresh(in, 13);
    expectSameBits(whole.left, small.left);
    expectSameBits(whole.right, small.right);
}

TEST(AudioPath, EmptyBlocksReadNoBuffers) {
    auto fx = makeInstance();
    fx->start(44100.0f, 512);
    fx->process(nullptr, nullptr, 0);
    fx->process(nullptr, nullptr, -5);
    fx->processDouble(nullptr, nullptr, 0);
    fx->processDouble(nullptr, nullptr, INT32_MIN);
}

// At a new host rate the processor is made anew for that rate, keeping the
// parameters: the plug-in then sounds like a processor built for the rate.
TEST(AudioPath, NewSampleRateRetunesTheProcessor) {
    using NewFn = void* (*)(int);
    using ProcessFn = float (*)(int, void*, float);
    using DeleteFn = void (*)(void*);
    auto newState = reinterpret_cast<NewFn>(module().symbol("Varkel_new"));
    auto process = reinterpret_cast<ProcessFn>(module().symbol("Varkel_process"));
    auto deleteState = reinterpret_cast<DeleteFn>(module().symbol("Varkel_delete"));
    ASSERT_TRUE(newState && process && deleteState);

    const Stereo in = testSignal(1000);
    for (float rate : {48000.0f, 96000.0f, 22050.4f}) {
        Stereo viaPlugin, expected{std::vector<float>(1000), std::vector<float>(1000)};
        onFreshThread([&] {
            auto fx = makeInstance();
            fx->setParameter(0, 0.6f);
            fx->start(rate, 1000);
            viaPlugin = render(*fx, in, 1000);
        });
        onFreshThread([&] {
            void* state = newState(static_cast<int>(std::nearbyint(rate)));
            // preGain lies at byte 44 of the record.
            const float pre = 0.6f;
            std::memcpy(static_cast<unsigned char*>(state) + 44, &pre, sizeof pre);
            for (int i = 0; i < 1000; ++i) {
                expected.left[i] = process(0, state, in.left[i]);
                expected.right[i] = process(1, state, in.right[i]);
            }
            deleteState(state);
        });
        expectSameBits(viaPlugin.left, expected.left);
        expectSameBits(viaPlugin.right, expected.right);
    }
}

// Repeating the current rate, or sending a rate that is no rate at all,
// leaves the running filters untouched.
TEST(AudioPath, SameOrInvalidRateKeepsTheFilterState) {
    const Stereo first = testSignal(700), second = testSignal(900, 0.3f, 0.3f);
    const auto secondHalf = [&](std::optional<float> rate) {
        Stereo out;
        withFreshInstance(44100.0f, 1024, [&](PluginInstance& fx) {
            render(fx, first, 700);
            if (rate) fx.setSampleRate(*rate);
            out = render(fx, second, 900);
        });
        return out;
    };
    const Stereo reference = secondHalf(std::nullopt);
    for (float rate : {44100.0f, 44100.2f, 0.0f, -48000.0f, NAN, INFINITY, 1e30f, 50.0f}) {
        const Stereo after = secondHalf(rate);
        expectSameBits(reference.left, after.left);
        expectSameBits(reference.right, after.right);
    }
}

}  // namespace
