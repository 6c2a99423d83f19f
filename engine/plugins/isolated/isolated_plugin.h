// A plug-in run in a child process of its own (varkel-plugin-host), behind
// the same interface as one loaded here: every call is passed to the child
// through shared memory, so a plug-in that crashes, aborts or hangs ends the
// call with an EngineError naming it, the file and the frame, and this
// process goes on. The child is killed and reaped with the instance.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/plugins/isolated/child_process.h"
#include "engine/plugins/isolated/isolation_protocol.h"
#include "engine/plugins/isolated/shared_region.h"
#include "engine/plugins/plugin.h"

namespace varkel::engine {

struct IsolationOptions {
    std::chrono::milliseconds timeout{10000};  // for each call
    std::string file;  // what is being rendered, for messages; may be empty
    std::string program;  // the child to run; empty: varkel-plugin-host (see pluginHostProgram)
};

class IsolatedPlugin : public Plugin {
public:
    // Starts the child and opens the plug-in there (name: a module path, an
    // LV2 URI or bundle). Throws EngineError as openPlugin does, or naming
    // how the child failed.
    IsolatedPlugin(const std::string& name, double sampleRate, int blockFrames, ProcessMode mode,
                   IsolationOptions options);
    ~IsolatedPlugin() override;
    IsolatedPlugin(const IsolatedPlugin&) = delete;
    IsolatedPlugin& operator=(const IsolatedPlugin&) = delete;

    std::string format() const override { return description.format; }
    std::string name() const override { return description.name; }
    std::string location() const override { return description.location; }
    int inputs() const override { return description.inputs; }
    int outputs() const override { return description.outputs; }
    bool takesMidi() const override { return description.takesMidi; }
    bool isInstrument() const override { return description.instrument; }
    void queueMidi(std::span<const MidiEvent> events) override;
    std::vector<InputInfo> inputInfo() const override { return description.inputInfo; }

    int parameterCount() const override { return static_cast<int>(description.parameters.size()); }
    ParameterInfo parameterInfo(int index) const override;
    std::string parameterDisplay(int index) const override;
    float parameter(int index) const override;
    void setParameter(int index, float value) override;

    std::vector<std::string> presets() const override { return description.presets; }
    void loadPreset(const std::string& preset) override;

    StateKind stateKind() const override { return description.stateKind; }
    void loadState(const std::string& path) override;
    void saveState(const std::string& path) override;
    std::string stateBytes() override;
    void setStateBytes(const std::string& bytes) override;

    int latency() override;
    std::vector<ControlOutput> controlOutputs() const override;

    void start(Precision precision) override;
    void stop() override;

    void process(float** inputs, float** outputs, int frames) override;
    void process(double** inputs, double** outputs, int frames) override;

    pid_t childId() const { return child->pid(); }

private:
    // Does the command the header holds; throws what the child threw, or
    // EngineError once the child has died or the deadline passed.
    void call(isolated::Command command) const;
    void send(isolated::Command command, const std::string& data) const;
    std::string answer() const;
    void takeWarnings();
    [[noreturn]] void lost(const std::string& how) const;
    [[noreturn]] void rethrowFailure() const;
    template <typename Sample>
    void processAs(isolated::Command command, Sample** inputs, Sample** outputs, int frames);

    std::string requested;  // the name as given, for messages before the plug-in names itself
    int blockFrames;
    IsolationOptions options;
    mutable isolated::SharedRegion region;
    std::unique_ptr<isolated::ChildProcess> child;
    isolated::PluginDescription description;
    std::size_t warningsTaken = 0;
    std::int64_t framesDone = 0;
    bool opened = false;
    mutable std::string broken;  // why the child is gone, once it is
};

}  // namespace varkel::engine
