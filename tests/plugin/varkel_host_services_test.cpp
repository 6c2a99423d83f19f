// Varkel as an effect object meets its host: what the host hears of a
// parameter change, that switching on asks nothing of the host, and that a
// rate learnt from the host re-tunes the processor.
#include <gtest/gtest.h>

#include <vector>

#include "dsp/random_source.h"
#include "dsp/varkel.h"
#include "plugin/varkel_plugin.h"
#include "recording_host.h"

namespace {

using recording::HostCall;
using recording::recordingCallback;
using VarkelHostServices = recording::HostServices;

TEST_F(VarkelHostServices, VarkelHasItsNewValueInForceWhenTheHostHearsOfIt) {
    Varkel fx(recordingCallback);
    float valueSeenByHost = -1.0f;
    host.onCall = [&](const HostCall& call) { valueSeenByHost = fx.getParameter(call.index); };
    fx.setParameterAutomated(2, 0.25f);
    ASSERT_EQ(host.calls.size(), 1u);
    const HostCall& call = host.calls[0];
    EXPECT_EQ(call.effect, fx.getAeffect());
    EXPECT_EQ(call.opcode, audioMasterAutomate);
    EXPECT_EQ(call.index, 2);
    EXPECT_EQ(call.value, 0);
    EXPECT_EQ(call.ptr, nullptr);
    EXPECT_EQ(call.opt, 0.25f);
    EXPECT_EQ(valueSeenByHost, 0.25f);
}

TEST_F(VarkelHostServices, VarkelSwitchedOnMakesNoHostCall) {
    Varkel fx(recordingCallback);
    fx.getAeffect()->dispatcher(fx.getAeffect(), effMainsChanged, 0, 1, nullptr, 0.0f);
    fx.resume();
    EXPECT_TRUE(host.calls.empty());
}

// --- re-tuning to a rate learnt from the host ---

constexpr int kRetuneFrames = 256;

// A plain reference: a processor made for the rate, run sample by sample,
// left then right, from the same generator state.
std::vector<float> referenceRender(int rate, float preGain, float cutOff, float postGain) {
    VarkelState* state = Varkel_new(rate);
    state->preGain = preGain;
    state->cutOff = cutOff;
    state->postGain = postGain;
    varkel::resetRandom();
    std::vector<float> out;
    for (int i = 0; i < kRetuneFrames; ++i) {
        const float x = 0.9f * static_cast<float>((i * 37) % 64 - 32) / 32.0f;
        out.push_back(Varkel_process(0, state, x));
        out.push_back(Varkel_process(1, state, -x));
    }
    Varkel_delete(state);
    return out;
}

std::vector<float> render(Varkel& fx) {
    std::vector<float> left(kRetuneFrames), right(kRetuneFrames), outLeft(kRetuneFrames), outRight(kRetuneFrames);
    for (int i = 0; i < kRetuneFrames; ++i) {
        left[i] = 0.9f * static_cast<float>((i * 37) % 64 - 32) / 32.0f;
        right[i] = -left[i];
    }
    float* inputs[] = {left.data(), right.data()};
    float* outputs[] = {outLeft.data(), outRight.data()};
    varkel::resetRandom();
    fx.processReplacing(inputs, outputs, kRetuneFrames);
    std::vector<float> out;
    for (int i = 0; i < kRetuneFrames; ++i) {
        out.push_back(outLeft[i]);
        out.push_back(outRight[i]);
    }
    return out;
}

TEST_F(VarkelHostServices, VarkelRetunesToTheRateTheHostReports) {
    const float pre = 0.7f, cut = 0.3f, post = 0.5f;
    const auto at44100 = referenceRender(44100, pre, cut, post);
    const auto at48000 = referenceRender(48000, pre, cut, post);
    ASSERT_NE(at44100, at48000);

    host.answer = 48000;
    Varkel fx(recordingCallback);
    fx.setParameter(0, pre);
    fx.setParameter(1, cut);
    fx.setParameter(2, post);
    EXPECT_EQ(fx.updateSampleRate(), 48000.0);
    EXPECT_EQ(fx.getSampleRate(), 48000.0f);
    EXPECT_EQ(fx.getParameter(0), pre);
    EXPECT_EQ(fx.getParameter(1), cut);
    EXPECT_EQ(fx.getParameter(2), post);
    EXPECT_EQ(render(fx), at48000);
}

TEST_F(VarkelHostServices, VarkelKeepsItsProcessorWhenTheHostReportsNoRate) {
    host.answer = 0;
    Varkel fx(recordingCallback);
    fx.setParameter(0, 0.7f);
    EXPECT_EQ(fx.updateSampleRate(), 44100.0);
    EXPECT_EQ(render(fx), referenceRender(44100, 0.7f, 1.0f, 0.25118864f));
}

TEST_F(VarkelHostServices, VarkelRetunesOnTheOldCombinedSetter) {
    Varkel fx(nullptr);
    fx.__setBlockSizeAndSampleRateDeprecated(256, 48000.0f);
    EXPECT_EQ(fx.getBlockSize(), 256);
    EXPECT_EQ(fx.getSampleRate(), 48000.0f);
    EXPECT_EQ(render(fx), referenceRender(48000, 0.25118864f, 1.0f, 0.25118864f));
}

}  // namespace
