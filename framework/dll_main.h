// The module's loader notification. Windows' loader calls it directly; on
// other systems a small stand-in layer calls it at load and unload.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
using HINSTANCE = void*;
using DWORD = unsigned long;
using LPVOID = void*;
using BOOL = int;
#define WINAPI
#define TRUE 1
enum : DWORD {
    DLL_PROCESS_DETACH = 0,
    DLL_PROCESS_ATTACH = 1,
    DLL_THREAD_ATTACH = 2,
    DLL_THREAD_DETACH = 3,
};
#endif

extern "C" BOOL WINAPI DllMain(HINSTANCE hInst, DWORD reason, LPVOID reserved);
