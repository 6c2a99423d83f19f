// A child for IsolatedPlugin's tests: serves a plug-in of this file's own
// that shows in its output what reached it: out = in × gain, plus at each
// MIDI event's frame 1000 × its size + the sum of its bytes; its state is
// whatever bytes it was last given.
#include <numeric>
#include <vector>

#include "engine/engine_error.h"
#include "engine/plugins/isolated/plugin_server.h"

namespace {

using namespace varkel::engine;

class EchoPlugin : public Plugin {
public:
    explicit EchoPlugin(std::string where) : where(std::move(where)) {}
    std::string format() const override { return "test"; }
    std::string name() const override { return "Echo"; }
    std::string location() const override { return where; }
    int inputs() const override { return 1; }
    int outputs() const override { return 1; }
    bool takesMidi() const override { return true; }
    void queueMidi(std::span<const MidiEvent> events) override {
        queued.clear();
        for (const MidiEvent& event : events)
            queued.push_back({event.frame, 1000.0 * event.size +
                                               std::accumulate(event.bytes, event.bytes + event.size, 0.0)});
    }
    std::vector<InputInfo> inputInfo() const override { return {InputInfo{"In", false, {}}}; }
    int parameterCount() const override { return 1; }
    ParameterInfo parameterInfo(int) const override {
        ParameterInfo info;
        info.name = "Gain";
        return info;
    }
    std::string parameterDisplay(int) const override { return "gain " + std::to_string(gain); }
    float parameter(int) const override { return gain; }
    void setParameter(int, float value) override { gain = value; }
    std::vector<std::string> presets() const override { return {}; }
    void loadPreset(const std::string&) override {}
    StateKind stateKind() const override { return StateKind::Chunks; }
    void loadState(const std::string& path) override {
        throw FileNotFound(mention(RequestField::State, path) + ": no such file");
    }
    std::string stateBytes() override { return state; }
    void setStateBytes(const std::string& bytes) override { state = bytes; }
    int latency() override { return static_cast<int>(gain * 100.0f); }
    void start(Precision) override {}
    void stop() override {}
    void process(float** in, float** out, int frames) override { run(in, out, frames); }
    void process(double** in, double** out, int frames) override { run(in, out, frames); }

private:
    template <typename Sample>
    void run(Sample** in, Sample** out, int frames) {
        for (int f = 0; f < frames; ++f) out[0][f] = in[0][f] * static_cast<Sample>(gain);
        for (const auto& [frame, mark] : queued) out[0][frame] += static_cast<Sample>(mark);
        queued.clear();
    }

    std::string where;
    float gain = 1.0f;
    std::string state;
    std::vector<std::pair<int, double>> queued;
};

}  // namespace

int main(int argc, char** argv) {
    return isolated::runPluginHost(argc, argv, [](const isolated::ServedPlugin& served) {
        return std::make_unique<EchoPlugin>(served.name);
    });
}
