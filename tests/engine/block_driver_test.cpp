// The block driver against a plug-in whose every output sample is known:
// output = input × gain + the frame count since it started, so a sample
// shows which input it read, which gain was set for it, and whether the
// frames reached the plug-in in order and once.
#include "engine/render/block_driver.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace varkel::engine {
namespace {

class CountingPlugin : public Plugin {
public:
    CountingPlugin(int inputs, int outputs) : in(inputs), out(outputs) {}
    std::string format() const override { return "test"; }
    std::string name() const override { return "counting"; }
    std::string location() const override { return {}; }
    int inputs() const override { return in; }
    int outputs() const override { return out; }
    std::vector<InputInfo> inputInfo() const override { return std::vector<InputInfo>(in); }
    int parameterCount() const override { return 1; }
    ParameterInfo parameterInfo(int) const override {
        ParameterInfo info;
        info.name = "Gain";
        return info;
    }
    std::string parameterDisplay(int) const override { return {}; }
    std::vector<std::string> presets() const override { return {}; }
    void loadPreset(const std::string&) override {}
    int latency() override { return 0; }
    float parameter(int) const override { return gain; }
    void setParameter(int, float value) override { gain = value; }
    void start(Precision) override {}
    void stop() override {}
    void process(float** inputs, float** outputs, int frames) override { run(inputs, outputs, frames); }
    void process(double** inputs, double** outputs, int frames) override { run(inputs, outputs, frames); }

    std::set<std::thread::id> threads;

private:
    template <typename Sample>
    void run(Sample** inputs, Sample** outputs, int frames) {
        threads.insert(std::this_thread::get_id());
        for (int f = 0; f < frames; ++f, ++clock)
            for (int c = 0; c < out; ++c)
                outputs[c][f] = inputs[c % in][f] * Sample(gain) + Sample(clock);
    }
    int in, out;
    float gain = 1.0f;
    long clock = 0;
};

// Input channel c, frame f: 1000·(c+1) + f, so every sample says where it came from.
double source(int channel, int frame) { return 1000.0 * (channel + 1) + frame; }

struct DriverCase {
    int fileChannels, inputs, outputs, block;
    std::vector<std::size_t> calls;  // frames per process call
};

class BlockDriverCases : public testing::TestWithParam<DriverCase> {};

TEST_P(BlockDriverCases, EveryGroupReadsItsChannelsAndAutomationLandsOnItsFrame) {
    const DriverCase& c = GetParam();
    const ChannelMapping mapping = mapChannels(c.fileChannels, c.inputs, c.outputs);
    std::vector<CountingPlugin> plugins(static_cast<std::size_t>(mapping.instances),
                                        CountingPlugin(c.inputs, c.outputs));
    std::vector<Plugin*> instances;
    for (auto& p : plugins) instances.push_back(&p);
    AutomationSchedule automation;
    automation.addLane(0, {{0.0, 2.0f}, {0.0105, 0.5f}}, 1000.0);  // 0.5 from frame 11 on

    const int frames = 40;
    std::vector<double> input(static_cast<std::size_t>(frames * c.fileChannels));
    for (int f = 0; f < frames; ++f)
        for (int ch = 0; ch < c.fileChannels; ++ch) input[f * c.fileChannels + ch] = source(ch, f);
    const int channels = mapping.outputChannels();
    std::vector<double> output(static_cast<std::size_t>(frames * channels), -1.0);
    {
        BlockDriver<double> driver(instances, mapping, c.block, automation);
        std::size_t at = 0;
        for (std::size_t n : c.calls) {
            driver.process(input.data() + at * c.fileChannels,
                           SampleLayout::interleaved(c.fileChannels),
                           output.data() + at * channels, SampleLayout::interleaved(channels), n);
            at += n;
        }
        EXPECT_EQ(driver.framesDone(), frames);
    }
    for (int g = 0; g < mapping.instances; ++g)
        for (int o = 0; o < mapping.outputsPerInstance; ++o)
            for (int f = 0; f < frames; ++f) {
                const int read = c.fileChannels == 1 ? 0 : g * c.inputs + o % c.inputs;
                const double gain = f < 11 ? 2.0 : 0.5;
                EXPECT_EQ(output[f * channels + g * mapping.outputsPerInstance + o],
                          source(read, f) * gain + f)
                    << "group " << g << " output " << o << " frame " << f;
            }
    // One thread per instance, each the same for the driver's whole life.
    std::set<std::thread::id> all;
    for (const auto& p : plugins) {
        EXPECT_EQ(p.threads.size(), 1u);
        all.insert(p.threads.begin(), p.threads.end());
    }
    EXPECT_EQ(all.size(), plugins.size());
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, BlockDriverCases,
    testing::Values(DriverCase{2, 2, 2, 512, {40}}, DriverCase{2, 2, 2, 1, {40}},
                    DriverCase{1, 2, 2, 7, {3, 30, 7}},   // mono feeds both inputs
                    DriverCase{4, 2, 2, 16, {17, 23}},    // two instances
                    DriverCase{6, 2, 1, 3, {40}},         // fewer outputs than inputs
                    DriverCase{3, 1, 2, 64, {10, 10, 20}}));

TEST(BlockDriver, PlanarLayoutReadsAndWritesWholeChannels) {
    CountingPlugin plugin(2, 2);
    const ChannelMapping mapping = mapChannels(2, 2, 2);
    const std::vector<float> input = {1, 2, 3, 10, 20, 30};  // two channels of 3 frames
    std::vector<float> output(6);
    BlockDriver<float> driver({&plugin}, mapping, 2);
    driver.process(input.data(), SampleLayout::planar(3), output.data(), SampleLayout::planar(3), 3);
    EXPECT_EQ(output, (std::vector<float>{1, 3, 5, 10, 21, 32}));
}

}  // namespace
}  // namespace varkel::engine
