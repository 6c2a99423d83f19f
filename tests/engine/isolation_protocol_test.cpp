// What an isolated plug-in's parent and child pass each other: the plug-in's
// description arriving whole, a message's mentions worded by the parent's
// face, and a data area one side grows that the other then reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "engine/plugins/isolated/isolation_protocol.h"
#include "engine/plugins/isolated/shared_region.h"

namespace {

using namespace varkel::engine;
using namespace varkel::engine::isolated;

TEST(IsolationProtocol, ADescriptionArrivesWithEveryField) {
    PluginDescription sent;
    sent.format = "LV2";
    sent.name = "Gate \xc3\xa9";
    sent.location = "urn:x:gate";
    sent.inputs = 3;
    sent.outputs = 2;
    sent.takesMidi = true;
    sent.instrument = false;
    sent.stateKind = StateKind::Lv2State;
    sent.inputInfo = {{"In L", false, SideChainReason::None}, {"Key", true, SideChainReason::Property}};
    ParameterInfo threshold{"Threshold", "thr", "dB", -60.0f, 0.0f, -20.0f, false, false, true, true,
                            {{-60.0f, "off"}, {0.0f, ""}}};
    sent.parameters = {threshold, ParameterInfo{"Bypass", "", "", 0, 1, 0, true, true, false, false, {}}};
    sent.presets = {"Soft", ""};
    sent.warnings = {"preset Soft: no port x"};
    const std::string bytes = encodeDescription(sent);
    const PluginDescription got = decodeDescription(bytes.data(), bytes.size());
    EXPECT_EQ(got.format, "LV2");
    EXPECT_EQ(got.name, sent.name);
    EXPECT_EQ(got.location, sent.location);
    EXPECT_EQ(got.inputs, 3);
    EXPECT_EQ(got.outputs, 2);
    EXPECT_TRUE(got.takesMidi);
    EXPECT_FALSE(got.instrument);
    EXPECT_EQ(got.stateKind, StateKind::Lv2State);
    ASSERT_EQ(got.inputInfo.size(), 2u);
    EXPECT_EQ(got.inputInfo[1].label, "Key");
    EXPECT_TRUE(got.inputInfo[1].sideChain);
    EXPECT_EQ(got.inputInfo[1].reason, SideChainReason::Property);
    ASSERT_EQ(got.parameters.size(), 2u);
    const ParameterInfo& p = got.parameters[0];
    EXPECT_EQ(p.name + "|" + p.symbol + "|" + p.unit, "Threshold|thr|dB");
    EXPECT_EQ(p.minimum, -60.0f);
    EXPECT_EQ(p.maximum, 0.0f);
    EXPECT_EQ(p.defaultValue, -20.0f);
    EXPECT_FALSE(p.toggled);
    EXPECT_TRUE(p.enumeration);
    EXPECT_TRUE(p.logarithmic);
    ASSERT_EQ(p.scalePoints.size(), 2u);
    EXPECT_EQ(p.scalePoints[0], std::make_pair(-60.0f, std::string("off")));
    EXPECT_TRUE(got.parameters[1].toggled);
    EXPECT_TRUE(got.parameters[1].integer);
    EXPECT_EQ(got.presets, sent.presets);
    EXPECT_EQ(got.warnings, sent.warnings);
    // Cut short, it is refused rather than read past its end.
    EXPECT_THROW(decodeDescription(bytes.data(), bytes.size() - 1), std::length_error);
}

TEST(IsolationProtocol, MentionsAreWordedAsTheParentsFaceWordsThem) {
    const FieldWordingScope face([](RequestField field, const std::string& given) {
        return "<" + std::to_string(static_cast<int>(field)) + ":" + given + ">";
    });
    const std::string state = std::to_string(static_cast<int>(RequestField::State));
    const std::string preset = std::to_string(static_cast<int>(RequestField::Preset));
    struct Row {
        std::string fromChild;
        std::string expected;
    };
    const Row rows[] = {
        {"no mention", "no mention"},
        {markedMention(RequestField::State, "a b.ttl") + ": damaged", "<" + state + ":a b.ttl>: damaged"},
        {"x " + markedMention(RequestField::State, "") + " and " +
             markedMention(RequestField::Preset, "Warm") + ".",
         "x <" + state + ":> and <" + preset + ":Warm>."},
    };
    for (const Row& row : rows) EXPECT_EQ(rewordMentions(row.fromChild), row.expected);
}

TEST(SharedRegion, DataGrownOnOneSideIsReadOnTheOther) {
    SharedRegion parent = SharedRegion::create(kAudioOffset + 4096);
    SharedRegion child = SharedRegion::attach(::dup(parent.fd()));
    parent.header().audioBytes = 2 * planeBytes(64);
    const std::string big(3 * 1024 * 1024, 'v');
    parent.reserveData(big.size());
    ASSERT_GE(parent.dataCapacity(), big.size());
    std::memcpy(parent.data(), big.data(), big.size());
    parent.header().dataSize = big.size();

    child.follow();
    ASSERT_EQ(child.size(), parent.size());
    EXPECT_EQ(std::string(child.data(), child.header().dataSize), big);
    // And back: the child grows it further for its answer.
    child.reserveData(2 * big.size());
    child.data()[2 * big.size() - 1] = 'z';
    parent.follow();
    EXPECT_EQ(parent.data()[2 * big.size() - 1], 'z');
}

}  // namespace
