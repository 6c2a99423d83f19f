#!/bin/sh
# Checks that the plug-in module exports exactly its entry points (with the
# legacy main), hInstance, the three processor functions and the
# capability-string variables (or the names listed one a line in
# EXPECTED_FILE), and nothing else of its own. Symbols the toolchain adds are
# ignored.
# Usage: check_exports.sh NM MODULE [EXPECTED_FILE]
set -eu
nm_tool=$1
module=$2

if [ $# -ge 3 ]; then
expected=$(LC_ALL=C sort "$3")
else
expected=$(LC_ALL=C sort <<'NAMES'
HostCanDos::canDoAcceptIOChanges
HostCanDos::canDoCloseFileSelector
HostCanDos::canDoOffline
HostCanDos::canDoOpenFileSelector
HostCanDos::canDoReceiveVstEvents
HostCanDos::canDoReceiveVstMidiEvent
HostCanDos::canDoReportConnectionChanges
HostCanDos::canDoSendVstEvents
HostCanDos::canDoSendVstMidiEvent
HostCanDos::canDoSendVstMidiEventFlagIsRealtime
HostCanDos::canDoSendVstTimeInfo
HostCanDos::canDoShellCategory
HostCanDos::canDoSizeWindow
HostCanDos::canDoStartStopProcess
MAIN
PlugCanDos::canDoBypass
PlugCanDos::canDoMidiProgramNames
PlugCanDos::canDoOffline
PlugCanDos::canDoReceiveVstEvents
PlugCanDos::canDoReceiveVstMidiEvent
PlugCanDos::canDoReceiveVstTimeInfo
PlugCanDos::canDoSendVstEvents
PlugCanDos::canDoSendVstMidiEvent
VSTPluginMain
Varkel_delete
Varkel_new
Varkel_process
hInstance
main
NAMES
)
fi

listing=$("$nm_tool" -D --defined-only -C "$module")
actual=$(printf '%s\n' "$listing" |
    awk 'NF >= 3 { $1 = ""; $2 = ""; sub(/^ +/, ""); sub(/@.*/, ""); print }' |
    grep -v -x -E '_init|_fini|_edata|_end|__bss_start|_DYNAMIC|_GLOBAL_OFFSET_TABLE_' |
    LC_ALL=C sort)

if [ "$actual" = "$expected" ]; then
    echo "exports of $module: as expected ($(printf '%s\n' "$actual" | wc -l) names)"
    exit 0
fi
echo "exports of $module differ from the expected list:" >&2
printf '%s\n' "$expected" > "${TMPDIR:-/tmp}/varkel-exports-expected.$$"
printf '%s\n' "$actual" | diff -u "${TMPDIR:-/tmp}/varkel-exports-expected.$$" - >&2 || true
rm -f "${TMPDIR:-/tmp}/varkel-exports-expected.$$"
exit 1
