// A VST 2.4 plug-in module loaded the way a workstation loads one: by path,
// through its exported entry point only.
#pragma once

#include <memory>
#include <string>

#include "abi/aeffect.h"

namespace varkel::host {

using EntryPoint = AEffect* (*)(audioMasterCallback);

class PluginModule {
public:
    // Loads the module; on failure returns null and says why in error.
    static std::unique_ptr<PluginModule> load(const std::string& path, std::string& error);
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    // VSTPluginMain, or the older MAIN (or, on Linux, main); null when the
    // module has none of them.
    EntryPoint entryPoint() const;
    void* symbol(const char* name) const;
    void* nativeHandle() const { return handle; }
    const std::string& path() const { return modulePath; }

private:
    PluginModule(void* handle, std::string path) : handle(handle), modulePath(std::move(path)) {}
    void* handle;
    std::string modulePath;
};

}  // namespace varkel::host
