#include "host/plugin_module.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace varkel::host {

std::unique_ptr<PluginModule> PluginModule::load(const std::string& path, std::string& error) {
#if defined(_WIN32)
    HMODULE h = LoadLibraryA(path.c_str());
    if (h == nullptr) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    return std::unique_ptr<PluginModule>(new PluginModule(reinterpret_cast<void*>(h), path));
#else
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (h == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
        return nullptr;
    }
    return std::unique_ptr<PluginModule>(new PluginModule(h, path));
#endif
}

PluginModule::~PluginModule() {
#if defined(_WIN32)
    FreeLibrary(reinterpret_cast<HMODULE>(handle));
#else
    dlclose(handle);
#endif
}

void* PluginModule::symbol(const char* name) const {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
#else
    return dlsym(handle, name);
#endif
}

EntryPoint PluginModule::entryPoint() const {
    void* entry = symbol("VSTPluginMain");
    if (entry == nullptr) entry = symbol("MAIN");
#if !defined(_WIN32)
    // Linux plug-ins built for older hosts export their entry point as
    // "main". dlsym on the module's handle searches the module and its
    // dependencies only, never the host executable's own main.
    if (entry == nullptr) entry = symbol("main");
#endif
    return reinterpret_cast<EntryPoint>(entry);
}

}  // namespace varkel::host
