// The built bundle as an LV2 host meets it (found by lilv through LV2_PATH),
// the VST 2.4 module beside it, and renders of one signal through either,
// each on a fresh thread so that both draw the same noise.
#pragma once

#include <lilv/lilv.h>

#include <array>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace lv2test {

inline constexpr const char* kPluginUri = "urn:ostrelvane:varkel";
inline constexpr const char* kLv2Core = "http://lv2plug.in/ns/lv2core#";

// Port indices as the description gives them.
inline constexpr unsigned kControlPorts = 3;
inline constexpr unsigned kInLeftPort = 3, kInRightPort = 4, kOutLeftPort = 5, kOutRightPort = 6;

struct NodeFree {
    void operator()(LilvNode* node) const { lilv_node_free(node); }
};
using Node = std::unique_ptr<LilvNode, NodeFree>;

// The process's world, loaded once from LV2_PATH=<build>/lv2.
LilvWorld* world();
// Varkel in that world; null (and a test failure) when it is not there.
const LilvPlugin* plugin();
Node uri(const std::string& text);

struct InstanceFree {
    void operator()(LilvInstance* instance) const { lilv_instance_free(instance); }
};
using Instance = std::unique_ptr<LilvInstance, InstanceFree>;
Instance instantiate(double rate);

struct Stereo {
    std::vector<float> left, right;
    int frames() const { return static_cast<int>(left.size()); }
};

// Two different, partly clipping signals, one per channel.
Stereo testSignal(int frames, double rate);

using Setting = std::array<float, kControlPorts>;  // PreGain, LPCutOff, PostGain
inline constexpr Setting kDefaultSetting = {0.25118864f, 1.0f, 0.25118864f};

// A stretch of the signal rendered at one setting.
struct Segment {
    Setting setting;
    int frames;
};

// The VST 2.4 module on a fresh thread: started at the rate, the setting
// written before each segment, processReplacing over blocks of 512.
Stereo renderVst(double rate, const Stereo& in, const std::vector<Segment>& segments);

// The buffer an audio output port is connected to: one of its own, or an
// input port's (a host may share buffers between any ports).
enum class OutputOn { kOwnLeft, kOwnRight, kInLeft, kInRight };
struct Wiring {
    OutputOn left, right;
    const char* name;
};
inline constexpr Wiring kSeparateBuffers = {OutputOn::kOwnLeft, OutputOn::kOwnRight, "separate"};
inline void PrintTo(const Wiring& wiring, std::ostream* os) { *os << wiring.name; }

struct Lv2Run {
    int block = 512;
    Wiring wiring = kSeparateBuffers;
    bool connectControls = true;    // else the control ports are never connected
    bool emptyRunsBetween = false;  // run(0) before every block
};

// The LV2 plug-in on a fresh thread, through lilv: instantiated at the rate,
// activated, the control ports set before each segment, run over blocks.
// The result is what the buffers of the two output ports hold afterwards.
Stereo renderLv2(double rate, const Stereo& in, const std::vector<Segment>& segments,
                 const Lv2Run& how);

// Index of the first sample whose bits differ, or -1.
int firstDifference(const std::vector<float>& a, const std::vector<float>& b);

}  // namespace lv2test
