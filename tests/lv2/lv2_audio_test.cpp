// The LV2 plug-in's audio, run through lilv, against the VST 2.4 module fed
// the same signal at the same settings: the same bits.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include "host/fresh_thread.h"
#include "lv2_session.h"

namespace lv2test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Defaults, then driven and dark, then quiet and open: parameter changes
// between blocks, none of them on a block boundary of 37 or 512.
const std::vector<Segment> kChangingSettings = {
    {kDefaultSetting, 1000},
    {{0.9f, 0.35f, 0.6f}, 1200},
    {{0.05f, 0.8f, 1.0f}, 800},
};

int totalFrames(const std::vector<Segment>& segments) {
    int frames = 0;
    for (const Segment& s : segments) frames += s.frames;
    return frames;
}

void expectSameBits(const Stereo& lv2, const Stereo& vst) {
    EXPECT_EQ(firstDifference(lv2.left, vst.left), -1) << "left channel";
    EXPECT_EQ(firstDifference(lv2.right, vst.right), -1) << "right channel";
}

using MatchCase = std::tuple<double, int, Wiring>;  // rate, block, output buffers

// A host may connect an output to any input's buffer: each output must still
// be computed from the inputs as they were. Both outputs on one buffer is odd;
// the buffer then holds the right output, the one written last.
constexpr Wiring kWirings[] = {
    kSeparateBuffers,
    {OutputOn::kInLeft, OutputOn::kInRight, "in place"},
    {OutputOn::kInRight, OutputOn::kInLeft, "crossed"},
    {OutputOn::kInRight, OutputOn::kOwnRight, "left output on right input"},
    {OutputOn::kOwnLeft, OutputOn::kInLeft, "right output on left input"},
    {OutputOn::kInLeft, OutputOn::kInLeft, "both outputs on left input"},
    {OutputOn::kOwnRight, OutputOn::kOwnRight, "both outputs on one buffer"},
};

class MatchesVstModule : public testing::TestWithParam<MatchCase> {};

TEST_P(MatchesVstModule, SameBitsThroughParameterChanges) {
    const auto [rate, block, wiring] = GetParam();
    const Stereo in = testSignal(totalFrames(kChangingSettings), rate);
    const Stereo vst = renderVst(rate, in, kChangingSettings);
    const Stereo lv2 = renderLv2(rate, in, kChangingSettings, {.block = block, .wiring = wiring});
    if (wiring.left == wiring.right)
        EXPECT_EQ(firstDifference(lv2.left, vst.right), -1) << "the shared buffer";
    else
        expectSameBits(lv2, vst);
    // A render that ignored a change or the input would still be all bits
    // of something; make sure this one is sound, not silence.
    EXPECT_NE(vst.left, std::vector<float>(vst.left.size()));
}

INSTANTIATE_TEST_SUITE_P(RatesBlocksBuffers, MatchesVstModule,
                         testing::Combine(testing::Values(44100.0, 48000.0),
                                          testing::Values(1, 37, 512, 3000),
                                          testing::ValuesIn(kWirings)));

TEST(Lv2Audio, EmptyRunsChangeNothing) {
    const Stereo in = testSignal(totalFrames(kChangingSettings), 44100.0);
    expectSameBits(
        renderLv2(44100.0, in, kChangingSettings, {.block = 37, .emptyRunsBetween = true}),
        renderVst(44100.0, in, kChangingSettings));
}

// A host may pass a control value the processor cannot use; the parameter
// keeps its last usable value.
TEST(Lv2Audio, NonFiniteControlValuesAreIgnored) {
    const std::vector<Segment> withNonFinite = {
        {{0.9f, 0.35f, 0.6f}, 700},
        {{kNaN, 0.35f, kInf}, 600},
        {{0.9f, -kInf, 0.6f}, 600},
    };
    const std::vector<Segment> asKept = {{{0.9f, 0.35f, 0.6f}, 1900}};
    const Stereo in = testSignal(1900, 48000.0);
    expectSameBits(renderLv2(48000.0, in, withNonFinite, {.block = 100}),
                   renderVst(48000.0, in, asKept));
}

TEST(Lv2Audio, NeverConnectedControlsKeepTheDefaults) {
    const std::vector<Segment> defaults = {{kDefaultSetting, 1500}};
    const Stereo in = testSignal(1500, 44100.0);
    expectSameBits(renderLv2(44100.0, in, defaults, {.block = 64, .connectControls = false}),
                   renderVst(44100.0, in, defaults));
}

// The processor counts frames in an int, so long runs go through in pieces.
TEST(Lv2Audio, RunLongerThanAMillionFramesMatches) {
    const std::vector<Segment> longRun = {{{0.7f, 0.6f, 0.4f}, (1 << 20) + 300}};
    const Stereo in = testSignal(longRun[0].frames, 48000.0);
    expectSameBits(renderLv2(48000.0, in, longRun, {.block = longRun[0].frames}),
                   renderVst(48000.0, in, longRun));
}

TEST(Lv2Audio, RunWithoutConnectionsIsHarmless) {
    varkel::host::onFreshThread([] {
        const Instance instance = instantiate(44100.0);
        ASSERT_TRUE(instance);
        lilv_instance_connect_port(instance.get(), 7, nullptr);  // no such port
        lilv_instance_activate(instance.get());
        lilv_instance_run(instance.get(), 64);
        std::vector<float> left(64, 0.5f), right(64, 0.5f);
        lilv_instance_connect_port(instance.get(), kInLeftPort, left.data());
        lilv_instance_connect_port(instance.get(), kInRightPort, right.data());
        lilv_instance_run(instance.get(), 64);  // outputs still unconnected
        lilv_instance_deactivate(instance.get());
    });
}

TEST(Lv2Audio, UnusableRatesGiveNoInstance) {
    for (double rate : {0.0, -44100.0, 500.0, 999.4, 999.5, 999.999, std::nan(""),
                        std::numeric_limits<double>::infinity(), 1e300})
        EXPECT_FALSE(instantiate(rate)) << rate;
    for (double rate : {1000.0, 22050.0, 44100.4, 192000.0}) EXPECT_TRUE(instantiate(rate)) << rate;
}

// activate restarts the filters: after a loud passage, reactivated, the
// instance renders what a new one renders. Noise is per thread, so both
// renders run after the same amount of audio on threads of their own.
TEST(Lv2Audio, ActivateAfterLoudSignalRendersAsNew) {
    constexpr int kFrames = 2000;
    const Setting driven = {1.0f, 0.5f, 0.5f};
    Stereo loud = testSignal(kFrames, 44100.0);
    for (float& s : loud.left) s *= 8.0f;
    for (float& s : loud.right) s = s * 8.0f + 3.0f;
    Stereo quiet = testSignal(kFrames, 44100.0);
    for (float& s : quiet.left) s *= 0.01f;
    for (float& s : quiet.right) s *= 0.01f;

    auto render = [&](bool reuseLoudInstance) {
        Stereo out{std::vector<float>(kFrames), std::vector<float>(kFrames)};
        varkel::host::onFreshThread([&] {
            Setting controls = driven;
            const Instance first = instantiate(44100.0);
            const Instance second = instantiate(44100.0);
            ASSERT_TRUE(first && second);
            auto connect = [&](LilvInstance* fx, Stereo& from, Stereo& to) {
                for (unsigned p = 0; p < kControlPorts; ++p)
                    lilv_instance_connect_port(fx, p, &controls[p]);
                lilv_instance_connect_port(fx, kInLeftPort, from.left.data());
                lilv_instance_connect_port(fx, kInRightPort, from.right.data());
                lilv_instance_connect_port(fx, kOutLeftPort, to.left.data());
                lilv_instance_connect_port(fx, kOutRightPort, to.right.data());
            };
            Stereo scratch = loud;
            connect(first.get(), loud, scratch);
            lilv_instance_activate(first.get());
            lilv_instance_run(first.get(), kFrames);
            lilv_instance_deactivate(first.get());

            LilvInstance* fx = reuseLoudInstance ? first.get() : second.get();
            connect(fx, quiet, out);
            lilv_instance_activate(fx);
            lilv_instance_run(fx, kFrames);
            lilv_instance_deactivate(fx);
        });
        return out;
    };
    const Stereo reactivated = render(true);
    const Stereo fresh = render(false);
    expectSameBits(reactivated, fresh);
}

}  // namespace
}  // namespace lv2test
