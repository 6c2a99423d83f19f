#include "framework/dll_main.h"

extern "C" void* hInstance;

// Records the module handle on every notification; loading never fails here.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInst, DWORD /*reason*/, LPVOID /*reserved*/) {
    hInstance = hInst;
    return TRUE;
}
