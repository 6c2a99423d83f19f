#include "framework/capability_strings.h"

// Constant-initialised, so they hold their texts before any code runs.
namespace PlugCanDos {
const char* canDoBypass = "bypass";
const char* canDoMidiProgramNames = "midiProgramNames";
const char* canDoOffline = "offline";
const char* canDoReceiveVstTimeInfo = "receiveVstTimeInfo";
const char* canDoReceiveVstMidiEvent = "receiveVstMidiEvent";
const char* canDoReceiveVstEvents = "receiveVstEvents";
const char* canDoSendVstMidiEvent = "sendVstMidiEvent";
const char* canDoSendVstEvents = "sendVstEvents";
}  // namespace PlugCanDos

namespace HostCanDos {
const char* canDoSendVstMidiEventFlagIsRealtime = "sendVstMidiEventFlagIsRealtime";
const char* canDoShellCategory = "shellCategory";
const char* canDoStartStopProcess = "startStopProcess";
const char* canDoCloseFileSelector = "closeFileSelector";
const char* canDoOpenFileSelector = "openFileSelector";
const char* canDoOffline = "offline";
const char* canDoSizeWindow = "sizeWindow";
const char* canDoAcceptIOChanges = "acceptIOChanges";
const char* canDoReportConnectionChanges = "reportConnectionChanges";
const char* canDoReceiveVstMidiEvent = "receiveVstMidiEvent";
const char* canDoReceiveVstEvents = "receiveVstEvents";
const char* canDoSendVstTimeInfo = "sendVstTimeInfo";
const char* canDoSendVstMidiEvent = "sendVstMidiEvent";
const char* canDoSendVstEvents = "sendVstEvents";
}  // namespace HostCanDos
