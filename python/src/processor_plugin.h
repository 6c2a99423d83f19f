// Varkel's processor as a plug-in the engine can drive, without loading a
// module: the same state, parameters and block loop as the VST 2.4 module,
// so both render the same bits. Each instance carries its own noise
// sequence and lends it to whichever thread processes it, so a stream's
// noise runs on from call to call whatever thread makes the call, and no
// other instance's draws disturb it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dsp/varkel.h"
#include "engine/plugins/plugin.h"

class Varkel;

namespace varkel::python {

class ProcessorPlugin : public engine::Plugin {
public:
    // Throws UsageError for a rate the processor cannot run at.
    explicit ProcessorPlugin(double sampleRate);
    ~ProcessorPlugin() override;
    ProcessorPlugin(const ProcessorPlugin&) = delete;
    ProcessorPlugin& operator=(const ProcessorPlugin&) = delete;

    std::string format() const override { return "processor"; }
    std::string name() const override { return "Varkel"; }
    std::string location() const override { return {}; }
    int inputs() const override { return 2; }
    int outputs() const override { return 2; }
    std::vector<engine::InputInfo> inputInfo() const override {
        return std::vector<engine::InputInfo>(2);
    }

    int parameterCount() const override;
    // From the parameter table: name, label, range 0..1 and default.
    engine::ParameterInfo parameterInfo(int index) const override;
    std::string parameterDisplay(int index) const override;
    float parameter(int index) const override;
    void setParameter(int index, float value) override;

    std::vector<std::string> presets() const override { return {}; }
    void loadPreset(const std::string& preset) override;
    int latency() override { return 0; }

    void start(engine::Precision) override {}
    void stop() override {}

    void process(float** inputs, float** outputs, int frames) override;
    void process(double** inputs, double** outputs, int frames) override;

private:
    template <typename Sample>
    void processBlock(Sample** inputs, Sample** outputs, int frames);

    VarkelState* state;
    std::uint32_t noise = 1;  // as on a thread that has never drawn
    // The module's own effect, made when a text is first asked for, so that
    // a parameter reads the same however it was opened.
    mutable std::unique_ptr<::Varkel> texts;
};

}  // namespace varkel::python
