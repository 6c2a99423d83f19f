#!/usr/bin/env bash
# Builds the Windows module (build-win/plugin/Varkel.dll) with MinGW-w64 and
# checks it under Wine against the Linux module built from the same sources
# (build-winlinux): the DLL's exports and imports, then the module check
# program on both systems, whose output files must match byte for byte.
# Exits non-zero on any difference.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh g++-mingw-w64-x86-64 wine wine64

jobs=$(nproc); [ "$jobs" -gt 2 ] && jobs=2
targets=(Varkel varkel-module-check varkel-noise-table-dump)
options=(-DCMAKE_BUILD_TYPE=Release -DVARKEL_WERROR=ON -DBUILD_TESTING=OFF -DVARKEL_BUILD_BENCHMARKS=OFF
         -DVARKEL_BUILD_TOOLS=OFF -DVARKEL_BUILD_MODULE_CHECK=ON)

echo "== Linux build (reference)"
cmake -S . -B build-winlinux -G Ninja "${options[@]}" >/dev/null
cmake --build build-winlinux -j"$jobs" --target "${targets[@]}"

echo "== Windows build (MinGW-w64)"
cmake -S . -B build-win -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake "${options[@]}" >/dev/null
cmake --build build-win -j"$jobs" --target "${targets[@]}"

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; }

dll=build-win/plugin/Varkel.dll
so=build-winlinux/plugin/Varkel.so

echo "== exports and imports of Varkel.dll"
x86_64-w64-mingw32-objdump -p "$dll" > build-win/Varkel.dll.headers
dll_exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' build-win/Varkel.dll.headers |
              sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
# Linux alone has the legacy entry name main.
so_exports=$(nm -D --defined-only "$so" | awk '{print $3}' | grep -vx main | sort)
for name in VSTPluginMain MAIN hInstance Varkel_new Varkel_process Varkel_delete; do
  if grep -qx "$name" <<<"$dll_exports"; then pass "export $name"; else fail "export $name missing"; fi
done
capabilities=$(grep -cE '^_ZN10(PlugCanDos|HostCanDos)' <<<"$dll_exports" || true)
if [ "$capabilities" -gt 0 ]; then pass "$capabilities capability-string exports"; else fail "no capability-string exports"; fi
if [ "$dll_exports" = "$so_exports" ]; then
  pass "the DLL exports exactly what Varkel.so exports"
else
  fail "the DLL's exports differ from Varkel.so's:"
  diff <(echo "$so_exports") <(echo "$dll_exports") | sed -n 's/^[<>]/  &/p' || true
fi
# Only Windows' own DLLs: the C and C++ runtimes are linked in.
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' build-win/Varkel.dll.headers)
foreign=$(grep -viE '^(kernel32|msvcrt|ucrtbase|ntdll|api-ms-win-[a-z0-9-]+)\.dll$' <<<"$imports" || true)
if [ -z "$foreign" ]; then
  pass "imports only system DLLs: $(echo $imports)"
else
  fail "imports non-system DLLs: $(echo $foreign)"
fi

echo "== module check: Linux"
linux_out=build-winlinux/module-check
rm -rf "$linux_out" && mkdir -p "$linux_out"
if build-winlinux/tools/module-check/varkel-module-check "$so" "$linux_out" &&
   build-winlinux/tools/module-check/varkel-noise-table-dump "$linux_out/noise-tables.bin"; then
  pass "module check on Linux"
else
  fail "module check on Linux"
fi

echo "== module check: Windows, under Wine"
# A throw-away Wine prefix; Wine's own start-up messages go to a log that is
# shown only when something fails.
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/varkel-wine.XXXXXX)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_log=$root/build-win/wine.log
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
windows_out=build-win/module-check
rm -rf "$windows_out" && mkdir -p "$windows_out"
wineboot --init >"$wine_log" 2>&1 || true
# Relative paths, so that the Windows programs need no path translation.
if (cd build-win &&
    wine tools/module-check/varkel-module-check.exe plugin/Varkel.dll module-check 2>>"$wine_log" &&
    wine tools/module-check/varkel-noise-table-dump.exe module-check/noise-tables.bin 2>>"$wine_log"); then
  pass "module check under Wine"
else
  fail "module check under Wine (Wine's messages follow)"
  cat "$wine_log"
fi

echo "== Windows output against Linux output"
for name in texts.txt render-32.raw render-64.raw processor.raw fresh-thread.raw noise-tables.bin; do
  reference=$linux_out/$name
  if [ -s "$reference" ] && cmp -s "$reference" "$windows_out/$name"; then
    pass "$name identical ($(stat -c %s "$reference") bytes)"
  else
    fail "$name differs: $(cmp "$reference" "$windows_out/$name" 2>&1 | head -1)"
  fi
done

echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
