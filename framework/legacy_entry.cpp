// Linux hosts written before VSTPluginMain existed look for an entry point
// named main alone. A C++ function cannot be called main, so the name is
// given at assembler level; the module's version script exports it. Built
// into the module only: in a program it would clash with the program's own.
#include "abi/aeffect.h"
#include "framework/export.h"

extern "C" {

AEffect* VSTPluginMain(audioMasterCallback audioMaster);

VARKEL_EXPORT AEffect* varkelLegacyMain(audioMasterCallback audioMaster) __asm__("main");

AEffect* varkelLegacyMain(audioMasterCallback audioMaster) { return VSTPluginMain(audioMaster); }

}  // extern "C"
