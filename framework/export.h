// Marks the few names the module exports; everything else stays hidden.
#pragma once

#if defined(_WIN32)
#define VARKEL_EXPORT __declspec(dllexport)
#else
#define VARKEL_EXPORT __attribute__((visibility("default")))
#endif
