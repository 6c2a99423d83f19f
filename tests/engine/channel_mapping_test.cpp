// How file channels are shared among plug-in instances, worked out by hand
// for the layouts workstations meet.
#include "engine/render/channel_mapping.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/engine_error.h"
#include "engine/plugins/side_chain.h"

namespace varkel::engine {
namespace {

struct MappingCase {
    int fileChannels, inputs, outputs;
    int instances, outputsPerInstance, outputChannels;
    bool monoFeed;
    const char* description;
};

TEST(ChannelMapping, LayoutsThatWork) {
    const MappingCase cases[] = {
        {2, 2, 2, 1, 2, 2, false, ""},                     // stereo effect, stereo file
        {1, 2, 2, 1, 2, 2, true, "mono fed to 2 inputs"},  // mono file feeds both inputs
        {1, 1, 1, 1, 1, 1, true, ""},                      // mono effect, mono file
        {1, 1, 2, 1, 2, 2, true, ""},                      // mono in, stereo out: all outputs
        {2, 1, 1, 2, 1, 2, false, "2 instances, 1 channel each"},
        {2, 1, 2, 2, 1, 2, false, "2 instances, 1 channel each"},  // first output of each
        {4, 2, 2, 2, 2, 4, false, "2 instances, 2 channels each"},
        {6, 2, 1, 3, 1, 3, false, "3 instances, 2 channels each"},  // fewer outputs than inputs
        {2, 2, 6, 1, 6, 6, false, ""},  // one instance keeps every output
    };
    for (const MappingCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fileChannels << " channels, " << c.inputs << " in, "
                                        << c.outputs << " out");
        const ChannelMapping m = mapChannels(c.fileChannels, c.inputs, c.outputs);
        EXPECT_EQ(m.instances, c.instances);
        EXPECT_EQ(m.outputsPerInstance, c.outputsPerInstance);
        EXPECT_EQ(m.outputChannels(), c.outputChannels);
        EXPECT_EQ(m.monoFeed, c.monoFeed);
        EXPECT_EQ(m.description(), c.description);
    }
}

TEST(ChannelMapping, GroupsTakeConsecutiveChannelsAndKeepTheirPlaces) {
    struct Places {
        int fileChannels, inputs, outputs;
        std::vector<std::vector<int>> sources, targets;  // per instance
    };
    const Places cases[] = {
        {4, 2, 2, {{0, 1}, {2, 3}}, {{0, 1}, {2, 3}}},
        {6, 2, 1, {{0, 1}, {2, 3}, {4, 5}}, {{0}, {1}, {2}}},  // reads by inputs, not outputs
        {6, 3, 2, {{0, 1, 2}, {3, 4, 5}}, {{0, 1}, {2, 3}}},
        {2, 1, 2, {{0}, {1}}, {{0}, {1}}},
        {1, 2, 2, {{0, 0}}, {{0, 1}}},  // mono feeds every input
    };
    for (const Places& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fileChannels << " channels, " << c.inputs << " in, "
                                        << c.outputs << " out");
        const ChannelMapping m = mapChannels(c.fileChannels, c.inputs, c.outputs);
        ASSERT_EQ(m.instances, static_cast<int>(c.sources.size()));
        for (int instance = 0; instance < m.instances; ++instance) {
            const auto& sources = c.sources[static_cast<std::size_t>(instance)];
            const auto& targets = c.targets[static_cast<std::size_t>(instance)];
            ASSERT_EQ(m.outputsPerInstance, static_cast<int>(targets.size()));
            for (int input = 0; input < c.inputs; ++input)
                EXPECT_EQ(m.sourceChannel(instance, input),
                          sources[static_cast<std::size_t>(input)]);
            for (int output = 0; output < m.outputsPerInstance; ++output)
                EXPECT_EQ(m.targetChannel(instance, output),
                          targets[static_cast<std::size_t>(output)]);
        }
    }
}

// A stereo compressor with a side-chain third: the file feeds the main
// inputs only, unless it has a channel for every input.
TEST(ChannelMapping, SideChainsAreFedApart) {
    std::vector<InputInfo> inputs(3);
    inputs[2].sideChain = true;
    struct Case {
        int fileChannels, sideChainChannels;
        int instances;
        std::vector<int> mainInputs;
        const char* description;
    };
    const Case cases[] = {
        {1, 0, 1, {0, 1}, "mono fed to 2 inputs; side-chain silent"},
        {2, 0, 1, {0, 1}, "side-chain silent"},
        {3, 0, 1, {0, 1, 2}, ""},  // every input from the file
        {4, 1, 2, {0, 1}, "2 instances, 2 channels each; side-chain from file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileChannels);
        const ChannelMapping m = mapChannels(c.fileChannels, inputs, 2, c.sideChainChannels);
        EXPECT_EQ(m.instances, c.instances);
        EXPECT_EQ(m.mainInputs, c.mainInputs);
        EXPECT_EQ(m.description(), c.description);
        EXPECT_EQ(m.sourceChannel(m.instances - 1, 1), c.fileChannels == 1 ? 0 : 2 * m.instances - 1);
    }
    EXPECT_EQ(mapChannels(2, inputs, 2, 1).sideChainSource(0), 0);
    EXPECT_THROW(mapChannels(2, inputs, 2, 2), EngineError);  // two channels, one side-chain
    EXPECT_THROW(mapChannels(2, std::vector<InputInfo>(2), 2, 1), EngineError);  // none to feed

    // Which inputs are side-chains: a label saying so wins over the count.
    const auto marks = [](std::vector<std::string> labels, int outputs) {
        std::vector<InputInfo> pins;
        for (const std::string& label : labels) pins.push_back({label, false, SideChainReason::None});
        std::vector<SideChainReason> reasons;
        for (const InputInfo& pin : markSideChains(pins, outputs)) reasons.push_back(pin.reason);
        return reasons;
    };
    using R = SideChainReason;
    EXPECT_EQ(marks({"", "", ""}, 2), (std::vector{R::None, R::None, R::Count}));
    EXPECT_EQ(marks({"Left", "Right", "Key"}, 2), (std::vector{R::None, R::None, R::Count}));
    EXPECT_EQ(marks({"SideChain L", "In", "In"}, 2), (std::vector{R::Label, R::None, R::None}));
    EXPECT_EQ(marks({"", ""}, 2), (std::vector{R::None, R::None}));
}

// A mono compressor with a named side-chain takes a stereo file as two
// instances; one whose second input is a side-chain only by count (more
// inputs than outputs, a stereo-to-mono mixer perhaps) takes it whole.
TEST(ChannelMapping, NamedSideChainsSplitAFileAmongTheMainInputs) {
    struct Case {
        SideChainReason reason;
        int instances, outputChannels;
        const char* description;
    };
    const Case cases[] = {
        {SideChainReason::Property, 2, 2, "2 instances, 1 channel each; side-chain silent"},
        {SideChainReason::Label, 2, 2, "2 instances, 1 channel each; side-chain silent"},
        {SideChainReason::Group, 2, 2, "2 instances, 1 channel each; side-chain silent"},
        {SideChainReason::Count, 1, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.reason));
        std::vector<InputInfo> inputs(2);
        inputs[1] = {"side", true, c.reason};
        const ChannelMapping m = mapChannels(2, inputs, 1);
        EXPECT_EQ(m.instances, c.instances);
        EXPECT_EQ(m.outputChannels(), c.outputChannels);
        EXPECT_EQ(m.description(), c.description);
    }
}

TEST(ChannelMapping, ImpossibleLayoutsAreErrorsThatSayWhy) {
    struct Bad {
        int fileChannels, inputs, outputs;
        const char* says;
    };
    const Bad cases[] = {
        {2, 3, 2, "a 2 channels file cannot feed a plug-in with 3 inputs"},
        {3, 2, 2, "a 3-channel file does not split into groups of 2"},
        {2, 0, 2, "has 0 inputs and 2 outputs"},
        {2, 2, 0, "has 2 inputs and 0 outputs"},
    };
    for (const Bad& c : cases) {
        try {
            mapChannels(c.fileChannels, c.inputs, c.outputs);
            ADD_FAILURE() << c.says;
        } catch (const EngineError& error) {
            EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos) << error.what();
        }
    }
}

}  // namespace
}  // namespace varkel::engine
