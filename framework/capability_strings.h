// The capability vocabulary: words a plug-in's canDo answers to, and words a
// plug-in asks its host about through canHostDo. Exported from the module.
#pragma once

#include "framework/export.h"

namespace PlugCanDos {
VARKEL_EXPORT extern const char* canDoBypass;
VARKEL_EXPORT extern const char* canDoMidiProgramNames;
VARKEL_EXPORT extern const char* canDoOffline;
VARKEL_EXPORT extern const char* canDoReceiveVstTimeInfo;
VARKEL_EXPORT extern const char* canDoReceiveVstMidiEvent;
VARKEL_EXPORT extern const char* canDoReceiveVstEvents;
VARKEL_EXPORT extern const char* canDoSendVstMidiEvent;
VARKEL_EXPORT extern const char* canDoSendVstEvents;
}  // namespace PlugCanDos

namespace HostCanDos {
VARKEL_EXPORT extern const char* canDoSendVstMidiEventFlagIsRealtime;
VARKEL_EXPORT extern const char* canDoShellCategory;
VARKEL_EXPORT extern const char* canDoStartStopProcess;
VARKEL_EXPORT extern const char* canDoCloseFileSelector;
VARKEL_EXPORT extern const char* canDoOpenFileSelector;
VARKEL_EXPORT extern const char* canDoOffline;
VARKEL_EXPORT extern const char* canDoSizeWindow;
VARKEL_EXPORT extern const char* canDoAcceptIOChanges;
VARKEL_EXPORT extern const char* canDoReportConnectionChanges;
VARKEL_EXPORT extern const char* canDoReceiveVstMidiEvent;
VARKEL_EXPORT extern const char* canDoReceiveVstEvents;
VARKEL_EXPORT extern const char* canDoSendVstTimeInfo;
VARKEL_EXPORT extern const char* canDoSendVstMidiEvent;
VARKEL_EXPORT extern const char* canDoSendVstEvents;
}  // namespace HostCanDos
