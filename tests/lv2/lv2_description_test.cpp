// What an LV2 host reads about Varkel from the built bundle, found through
// LV2_PATH: identity, features, ports, and what the control values mean.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "lv2_session.h"
#include "module/loaded_module.h"

namespace lv2test {
namespace {

std::string core(const char* name) { return std::string(kLv2Core) + name; }

bool pluginHas(const char* predicate, const std::string& object) {
    LilvNodes* values = lilv_plugin_get_value(plugin(), uri(predicate).get());
    const bool found = values != nullptr && lilv_nodes_contains(values, uri(object).get());
    lilv_nodes_free(values);
    return found;
}

TEST(Lv2Description, FoundThroughLv2PathInTheBuildTree) {
    ASSERT_NE(plugin(), nullptr);
    const LilvNode* library = lilv_plugin_get_library_uri(plugin());
    char* path = lilv_file_uri_parse(lilv_node_as_uri(library), nullptr);
    EXPECT_EQ(std::filesystem::path(path),
              std::filesystem::path(VARKEL_LV2_PATH) / "Varkel.lv2" / "Varkel.so");
    lilv_free(path);
    EXPECT_TRUE(lilv_plugin_verify(plugin()));
}

TEST(Lv2Description, Identity) {
    ASSERT_NE(plugin(), nullptr);
    LilvNode* name = lilv_plugin_get_name(plugin());
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(lilv_node_as_string(name), "Varkel");
    lilv_node_free(name);
    LilvNode* author = lilv_plugin_get_author_name(plugin());
    ASSERT_NE(author, nullptr);
    EXPECT_STREQ(lilv_node_as_string(author), "Ostrelvane");
    lilv_node_free(author);

    const char* rdfType = "http://www.w3.org/1999/02/22-rdf-syntax-ns#type";
    EXPECT_TRUE(pluginHas(rdfType, core("AmplifierPlugin")));
    EXPECT_TRUE(pluginHas(rdfType, core("DistortionPlugin")));

    for (const char* predicate :
         {"http://usefulinc.com/ns/doap#license", "http://usefulinc.com/ns/doap#shortdesc"}) {
        LilvNodes* values = lilv_plugin_get_value(plugin(), uri(predicate).get());
        EXPECT_EQ(lilv_nodes_size(values), 1u) << predicate;
        lilv_nodes_free(values);
    }
    EXPECT_TRUE(pluginHas("http://usefulinc.com/ns/doap#license", "http://spdx.org/licenses/MIT"));

    // Hosts hide a minor version of 0 as experimental and take an odd minor
    // or micro version for a development build.
    LilvNodes* minor = lilv_plugin_get_value(plugin(), uri(core("minorVersion")).get());
    LilvNodes* micro = lilv_plugin_get_value(plugin(), uri(core("microVersion")).get());
    ASSERT_EQ(lilv_nodes_size(minor), 1u);
    ASSERT_EQ(lilv_nodes_size(micro), 1u);
    EXPECT_TRUE(lilv_node_is_int(lilv_nodes_get_first(minor)));
    EXPECT_TRUE(lilv_node_is_int(lilv_nodes_get_first(micro)));
    EXPECT_GT(lilv_node_as_int(lilv_nodes_get_first(minor)), 0);
    EXPECT_EQ(lilv_node_as_int(lilv_nodes_get_first(minor)) % 2, 0);
    EXPECT_EQ(lilv_node_as_int(lilv_nodes_get_first(micro)) % 2, 0);
    lilv_nodes_free(minor);
    lilv_nodes_free(micro);
}

// doap:maintainer belongs to a doap:Project, which the plug-in is part of
// (the author name above is found through it).
TEST(Lv2Description, MaintainerIsThePluginsProjects) {
    ASSERT_NE(plugin(), nullptr);
    const char* maintainer = "http://usefulinc.com/ns/doap#maintainer";
    LilvNodes* onPlugin = lilv_plugin_get_value(plugin(), uri(maintainer).get());
    EXPECT_EQ(lilv_nodes_size(onPlugin), 0u);
    lilv_nodes_free(onPlugin);
    const Node project(lilv_plugin_get_project(plugin()));
    ASSERT_TRUE(project);
    EXPECT_TRUE(lilv_world_ask(world(), project.get(),
                               uri("http://www.w3.org/1999/02/22-rdf-syntax-ns#type").get(),
                               uri("http://usefulinc.com/ns/doap#Project").get()));
    LilvNodes* onProject = lilv_world_find_nodes(world(), project.get(), uri(maintainer).get(), nullptr);
    EXPECT_EQ(lilv_nodes_size(onProject), 1u);
    lilv_nodes_free(onProject);
}

TEST(Lv2Description, NeedsNoFeatureAndIsHardRealTimeCapable) {
    ASSERT_NE(plugin(), nullptr);
    LilvNodes* required = lilv_plugin_get_required_features(plugin());
    EXPECT_EQ(lilv_nodes_size(required), 0u);
    lilv_nodes_free(required);
    LilvNodes* optional = lilv_plugin_get_optional_features(plugin());
    EXPECT_TRUE(lilv_nodes_contains(optional, uri(core("hardRTCapable")).get()));
    lilv_nodes_free(optional);
}

struct PortFacts {
    const char* symbol;
    bool audio;
    bool input;
    const char* designation;  // audio: pg:left or pg:right
    const char* group;        // audio: the stereo group
    double hertzPerUnit;      // the unit's conversion to Hz; 0: no unit
};

const char* const kLeft = "http://lv2plug.in/ns/ext/port-groups#left";
const char* const kRight = "http://lv2plug.in/ns/ext/port-groups#right";
const char* const kStereoIn = "urn:ostrelvane:varkel:stereo-in";
const char* const kStereoOut = "urn:ostrelvane:varkel:stereo-out";

// A normalised LPCutOff of v is 12000 v Hz: its unit converts to Hz by 12000.
// The gains are normalised values, not decibels, and have no unit.
const PortFacts kPorts[] = {
    {"PreGain", false, true, nullptr, nullptr, 0.0},
    {"LPCutOff", false, true, nullptr, nullptr, 12000.0},
    {"PostGain", false, true, nullptr, nullptr, 0.0},
    {"in_left", true, true, kLeft, kStereoIn, 0.0},
    {"in_right", true, true, kRight, kStereoIn, 0.0},
    {"out_left", true, false, kLeft, kStereoOut, 0.0},
    {"out_right", true, false, kRight, kStereoOut, 0.0},
};

std::string portValue(const LilvPort* port, const char* predicate) {
    LilvNodes* values = lilv_port_get_value(plugin(), port, uri(predicate).get());
    const std::string text =
        lilv_nodes_size(values) == 1 ? lilv_node_as_string(lilv_nodes_get_first(values)) : "";
    lilv_nodes_free(values);
    return text;
}

// What the port's unit converts to hertz by; 0 without a unit, -1 for a unit
// without such a conversion.
double hertzPerUnit(const LilvPort* port) {
    const std::string units = "http://lv2plug.in/ns/extensions/units#";
    LilvNodes* unit = lilv_port_get_value(plugin(), port, uri(units + "unit").get());
    double factor = lilv_nodes_size(unit) == 0 ? 0.0 : -1.0;
    LilvNodes* conversions =
        lilv_nodes_size(unit) == 1
            ? lilv_world_find_nodes(world(), lilv_nodes_get_first(unit),
                                    uri(units + "conversion").get(), nullptr)
            : nullptr;
    LILV_FOREACH(nodes, i, conversions) {
        const LilvNode* conversion = lilv_nodes_get(conversions, i);
        const Node to(lilv_world_get(world(), conversion, uri(units + "to").get(), nullptr));
        const Node by(lilv_world_get(world(), conversion, uri(units + "factor").get(), nullptr));
        if (to && by && lilv_node_equals(to.get(), uri(units + "hz").get()))
            factor = lilv_node_as_float(by.get());
    }
    lilv_nodes_free(conversions);
    lilv_nodes_free(unit);
    return factor;
}

TEST(Lv2Description, PortsInOrder) {
    ASSERT_NE(plugin(), nullptr);
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin()), std::size(kPorts));
    for (unsigned index = 0; index < std::size(kPorts); ++index) {
        SCOPED_TRACE(index);
        const PortFacts& want = kPorts[index];
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin(), index);
        ASSERT_NE(port, nullptr);
        EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin(), port)), want.symbol);
        EXPECT_EQ(lilv_port_is_a(plugin(), port, uri(core("AudioPort")).get()), want.audio);
        EXPECT_EQ(lilv_port_is_a(plugin(), port, uri(core("ControlPort")).get()), !want.audio);
        EXPECT_EQ(lilv_port_is_a(plugin(), port, uri(core("InputPort")).get()), want.input);
        EXPECT_EQ(lilv_port_is_a(plugin(), port, uri(core("OutputPort")).get()), !want.input);
        EXPECT_EQ(hertzPerUnit(port), want.hertzPerUnit);
        if (want.audio) {
            EXPECT_EQ(portValue(port, core("designation").c_str()), want.designation);
            EXPECT_EQ(portValue(port, "http://lv2plug.in/ns/ext/port-groups#group"), want.group);
        } else {
            EXPECT_FALSE(portValue(port, "http://www.w3.org/2000/01/rdf-schema#comment").empty());
        }
    }
}

// The defaults are the VST 2.4 module's initial parameter values, to the bit,
// so that one setting renders the same in both formats; the range is 0..1.
TEST(Lv2Description, ControlRangesAndDefaultsAreTheVstModules) {
    ASSERT_NE(plugin(), nullptr);
    const auto vst = loaded::makeInstance();
    ASSERT_TRUE(vst);
    for (unsigned index = 0; index < kControlPorts; ++index) {
        SCOPED_TRACE(index);
        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(plugin(), lilv_plugin_get_port_by_index(plugin(), index), &def, &min,
                            &max);
        ASSERT_TRUE(def && min && max);
        EXPECT_EQ(lilv_node_as_float(min), 0.0f);
        EXPECT_EQ(lilv_node_as_float(max), 1.0f);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(lilv_node_as_float(def)),
                  std::bit_cast<std::uint32_t>(vst->getParameter(static_cast<int>(index))));
        EXPECT_STREQ(vst->parameterName(static_cast<int>(index)).c_str(),
                     lilv_node_as_string(lilv_port_get_symbol(
                         plugin(), lilv_plugin_get_port_by_index(plugin(), index))));
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);
    }
}

std::map<std::string, float> scalePoints(unsigned index) {
    std::map<std::string, float> points;
    LilvScalePoints* all =
        lilv_port_get_scale_points(plugin(), lilv_plugin_get_port_by_index(plugin(), index));
    LILV_FOREACH(scale_points, i, all) {
        const LilvScalePoint* point = lilv_scale_points_get(all, i);
        points[lilv_node_as_string(lilv_scale_point_get_label(point))] =
            lilv_node_as_float(lilv_scale_point_get_value(point));
    }
    lilv_scale_points_free(all);
    return points;
}

// Each label, worked out again from its value: gains in dB (1.0 is +12 dB),
// the cut-off as the corner in Hz (1.0 is 12000 Hz).
TEST(Lv2Description, ScalePointsSayWhatTheValuesMean) {
    ASSERT_NE(plugin(), nullptr);
    auto gainLabel = [](float v) {
        if (v == 0.0f) return std::string("-inf dB");
        const double db = 20.0 * std::log10(v) + 12.0;
        EXPECT_NEAR(db, std::round(db), 0.001) << v;
        char text[16];
        std::snprintf(text, sizeof text, db > 0.5 ? "+%.0f dB" : "%.0f dB", std::round(db) + 0.0);
        return std::string(text);
    };
    auto cornerLabel = [](float v) {
        return std::to_string(static_cast<int>(std::lround(12000.0 * v))) + " Hz";
    };

    for (unsigned index = 0; index < kControlPorts; ++index) {
        SCOPED_TRACE(index);
        const std::map<std::string, float> points = scalePoints(index);
        EXPECT_GE(points.size(), 3u);
        for (const auto& [label, value] : points)
            EXPECT_EQ(label, index == 1 ? cornerLabel(value) : gainLabel(value));
    }
    // Unity gain is marked at the default itself.
    EXPECT_EQ(scalePoints(0).at("0 dB"), kDefaultSetting[0]);
    EXPECT_EQ(scalePoints(2).at("0 dB"), kDefaultSetting[2]);
}

}  // namespace
}  // namespace lv2test
