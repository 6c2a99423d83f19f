// One effect instance of a plug-in module, loaded for the tool: finding the
// default module, creating and opening the effect, naming its parameters,
// and switching it on and off in the order hosts use.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/host_callback.h"
#include "host/plugin_instance.h"
#include "host/plugin_module.h"
#include "tools/varkel-host/command_line.h"

namespace varkel::tool {

// The Varkel.so that came with the tool: beside an installed tool
// (<prefix>/lib/vst), else the one in the build tree it was built in.
std::string defaultPluginPath();

class PluginSession {
public:
    // Loads path (or the default when empty), creates the effect and opens it
    // at the given rate and block size. Throws ToolError naming the module.
    PluginSession(const std::string& path, float sampleRate, int blockFrames,
                  VstInt32 processLevel);
    // Switches the effect off if running, then closes it before the module
    // is unloaded.
    ~PluginSession();
    PluginSession(const PluginSession&) = delete;
    PluginSession& operator=(const PluginSession&) = delete;

    const host::PluginInstance& effect() const { return *instance; }
    const std::string& path() const { return modulePath; }
    // The effect's name, or the module's file name when it reports none.
    std::string displayName() const;

    int inputs() const { return instance->effect()->numInputs; }
    int outputs() const { return instance->effect()->numOutputs; }
    int parameterCount() const { return instance->effect()->numParams; }

    // Index of a parameter given by name (exact, else ignoring case and
    // trailing blanks) or by index; throws a UsageError for option (the one
    // that named it) listing the names.
    VstInt32 resolveParameter(const std::string& nameOrIndex,
                              const std::string& option = "--set") const;
    void apply(const std::vector<ParameterSetting>& settings) const;
    void setParameter(VstInt32 index, float value) const { instance->setParameter(index, value); }

    // One block at the precision of the samples.
    void process(float** inputs, float** outputs, int frames) const {
        instance->process(inputs, outputs, frames);
    }
    void process(double** inputs, double** outputs, int frames) const {
        instance->processDouble(inputs, outputs, frames);
    }

    // Precision, switch on, start processing. Throws when the effect cannot
    // process at the precision asked for.
    void start(Precision precision);
    void stop();

private:
    std::string modulePath;
    std::unique_ptr<host::HostContext> context;  // its address is in the record
    std::unique_ptr<host::PluginModule> module;
    std::unique_ptr<host::PluginInstance> instance;  // destroyed before module
    bool running = false;
};

}  // namespace varkel::tool
