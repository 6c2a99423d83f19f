// An isolated plug-in against a child whose plug-in echoes what reached it
// (isolation_test_child.cpp): MIDI with its bytes, parameter changes in
// order, state larger than the region first holds, both precisions, and a
// failure in the plug-in raised here as the same kind, in this face's words.
#include <gtest/gtest.h>

#include <numeric>

#include "engine/engine_error.h"
#include "engine/plugins/isolated/isolated_plugin.h"

namespace {

using namespace varkel::engine;

std::unique_ptr<IsolatedPlugin> openEcho() {
    IsolationOptions options;
    options.timeout = std::chrono::seconds(10);
    options.program = ISOLATION_TEST_CHILD;
    return std::make_unique<IsolatedPlugin>("echo-here", 48000.0, 64, ProcessMode::Offline, options);
}

TEST(IsolatedPlugin, MidiAndSettingsReachThePluginForTheNextBlockOnly) {
    const auto plugin = openEcho();
    EXPECT_EQ(plugin->name(), "Echo");
    EXPECT_EQ(plugin->location(), "echo-here");
    EXPECT_TRUE(plugin->takesMidi());
    EXPECT_EQ(plugin->parameterInfo(0).name, "Gain");
    plugin->setParameter(0, 0.5f);
    plugin->setParameter(0, 0.25f);  // the later one stands
    EXPECT_EQ(plugin->latency(), 25);
    plugin->start(Precision::Single);

    const std::uint8_t noteOn[] = {0x90, 60, 100};
    const std::uint8_t sysex[] = {0xF0, 0x7E, 0x01, 0x02, 0xF7};
    const MidiEvent events[] = {{3, 3, noteOn}, {10, 5, sysex}};
    plugin->queueMidi(events);
    std::vector<float> input(64), output(64, 0.0f);
    std::iota(input.begin(), input.end(), 1.0f);
    float* in = input.data();
    float* out = output.data();
    plugin->process(&in, &out, 64);
    for (int f = 0; f < 64; ++f) {
        const float midi = f == 3 ? 3000.0f + 0x90 + 60 + 100
                           : f == 10 ? 5000.0f + 0xF0 + 0x7E + 1 + 2 + 0xF7
                                     : 0.0f;
        ASSERT_EQ(output[static_cast<std::size_t>(f)], input[static_cast<std::size_t>(f)] * 0.25f + midi) << f;
    }
    // The next block hears no MIDI; a part of a block, 64-bit, at the new gain.
    plugin->setParameter(0, 2.0f);
    std::vector<double> wide(64, 0.5), wideOut(64, -1.0);
    double* wideIn = wide.data();
    double* wideTarget = wideOut.data();
    plugin->process(&wideIn, &wideTarget, 40);
    EXPECT_EQ(std::count(wideOut.begin(), wideOut.begin() + 40, 1.0), 40);
    EXPECT_EQ(wideOut[40], -1.0);  // past the frames asked for, untouched
    EXPECT_EQ(plugin->parameter(0), 2.0f);
    EXPECT_EQ(plugin->parameterDisplay(0), "gain 2.000000");
}

TEST(IsolatedPlugin, StateLargerThanTheRegionGoesBothWays) {
    const auto plugin = openEcho();
    std::string state(5 << 20, '\0');
    for (std::size_t i = 0; i < state.size(); ++i) state[i] = static_cast<char>(i * 7 % 251);
    plugin->setStateBytes(state);
    EXPECT_TRUE(plugin->stateBytes() == state);
    plugin->setStateBytes("small");
    EXPECT_EQ(plugin->stateBytes(), "small");
}

TEST(IsolatedPlugin, AFailureInThePluginIsRaisedHereInThisFacesWords) {
    const auto plugin = openEcho();
    const FieldWordingScope words([](RequestField field, const std::string& given) {
        return field == RequestField::State ? "--state " + given : std::string("?");
    });
    try {
        plugin->loadState("gone.fxp");
        FAIL() << "no error";
    } catch (const FileNotFound& error) {
        EXPECT_STREQ(error.what(), "--state gone.fxp: no such file");
    }
    // The plug-in goes on after a failure of its own.
    EXPECT_EQ(plugin->stateBytes(), "");
}

}  // namespace
