// Stands in for the Windows loader: calls DllMain with the module's base
// address when the shared object is loaded and again when it is unloaded.
#include <dlfcn.h>

#include "framework/dll_main.h"

namespace {

HINSTANCE moduleHandle() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&moduleHandle), &info) == 0) return nullptr;
    return info.dli_fbase;
}

__attribute__((constructor)) void moduleAttached() {
    DllMain(moduleHandle(), DLL_PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void moduleDetached() {
    DllMain(moduleHandle(), DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
