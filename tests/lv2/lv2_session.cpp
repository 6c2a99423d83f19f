#include "lv2_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>

#include "host/fresh_thread.h"
#include "host/plugin_instance.h"
#include "module/loaded_module.h"

namespace lv2test {

LilvWorld* world() {
    static LilvWorld* const loaded = [] {
        // Only the build's bundle: no installed copy can stand in for it.
        setenv("LV2_PATH", VARKEL_LV2_PATH, 1);
        LilvWorld* w = lilv_world_new();
        lilv_world_load_all(w);
        return w;
    }();
    return loaded;
}

Node uri(const std::string& text) { return Node(lilv_new_uri(world(), text.c_str())); }

const LilvPlugin* plugin() {
    const Node varkel = uri(kPluginUri);
    const LilvPlugin* found =
        lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world()), varkel.get());
    if (found == nullptr) ADD_FAILURE() << kPluginUri << " is not on LV2_PATH=" << VARKEL_LV2_PATH;
    return found;
}

Instance instantiate(double rate) {
    return Instance(lilv_plugin_instantiate(plugin(), rate, nullptr));
}

Stereo testSignal(int frames, double rate) {
    Stereo s{std::vector<float>(frames), std::vector<float>(frames)};
    const double w = 2.0 * std::numbers::pi / rate;
    std::uint32_t lcg = 12345;
    for (int i = 0; i < frames; ++i) {
        lcg = lcg * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(lcg >> 8) / 16777216.0 - 0.5) * 0.05;
        s.left[i] = static_cast<float>(0.9 * std::sin(w * 220.0 * i) +
                                       0.3 * std::sin(w * 3100.0 * i) + hiss);
        s.right[i] =
            static_cast<float>(0.6 * std::sin(w * 97.0 * i + 1.0) * std::sin(w * 3.0 * i) - hiss);
    }
    return s;
}

Stereo renderVst(double rate, const Stereo& in, const std::vector<Segment>& segments) {
    constexpr int kBlock = 512;
    Stereo source = in;
    Stereo out{std::vector<float>(in.left.size()), std::vector<float>(in.right.size())};
    varkel::host::onFreshThread([&] {
        const auto fx = loaded::makeInstance();
        if (!fx) return;
        fx->start(static_cast<float>(rate), kBlock);
        int pos = 0;
        for (const Segment& segment : segments) {
            for (int p = 0; p < static_cast<int>(kControlPorts); ++p)
                fx->setParameter(p, segment.setting[p]);
            for (const int end = pos + segment.frames; pos < end;) {
                const int n = std::min(kBlock, end - pos);
                float* ins[2] = {source.left.data() + pos, source.right.data() + pos};
                float* outs[2] = {out.left.data() + pos, out.right.data() + pos};
                fx->process(ins, outs, n);
                pos += n;
            }
        }
    });
    return out;
}

Stereo renderLv2(double rate, const Stereo& in, const std::vector<Segment>& segments,
                 const Lv2Run& how) {
    std::vector<float> buffers[4] = {std::vector<float>(in.left.size()),
                                     std::vector<float>(in.right.size()), in.left, in.right};
    auto on = [&](OutputOn port) -> std::vector<float>& {
        return buffers[static_cast<int>(port)];
    };
    std::vector<float>& inLeft = on(OutputOn::kInLeft);
    std::vector<float>& inRight = on(OutputOn::kInRight);
    std::vector<float>& outLeft = on(how.wiring.left);
    std::vector<float>& outRight = on(how.wiring.right);
    varkel::host::onFreshThread([&] {
        const Instance instance = instantiate(rate);
        if (!instance) {
            ADD_FAILURE() << "no instance at " << rate << " Hz";
            return;
        }
        LilvInstance* fx = instance.get();
        Setting controls = kDefaultSetting;
        if (how.connectControls)
            for (unsigned p = 0; p < kControlPorts; ++p)
                lilv_instance_connect_port(fx, p, &controls[p]);
        lilv_instance_activate(fx);
        int pos = 0;
        for (const Segment& segment : segments) {
            controls = segment.setting;
            for (const int end = pos + segment.frames; pos < end;) {
                const int n = std::min(how.block, end - pos);
                lilv_instance_connect_port(fx, kInLeftPort, inLeft.data() + pos);
                lilv_instance_connect_port(fx, kInRightPort, inRight.data() + pos);
                lilv_instance_connect_port(fx, kOutLeftPort, outLeft.data() + pos);
                lilv_instance_connect_port(fx, kOutRightPort, outRight.data() + pos);
                if (how.emptyRunsBetween) lilv_instance_run(fx, 0);
                lilv_instance_run(fx, static_cast<std::uint32_t>(n));
                pos += n;
            }
        }
        lilv_instance_deactivate(fx);
    });
    return Stereo{outLeft, outRight};
}

int firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::bit_cast<std::uint32_t>(a[i]) != std::bit_cast<std::uint32_t>(b[i]))
            return static_cast<int>(i);
    return -1;
}

}  // namespace lv2test
