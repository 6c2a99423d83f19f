#!/usr/bin/env bash
# Builds Varkel and runs the whole test suite: a release build, then the same
# suite under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

echo "== release build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARKEL_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== Python package (Debian's interpreter, on the release build)"
VARKEL_BUILD_DIR=build /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARKEL_ENABLE_SANITIZERS=ON \
  -DVARKEL_WERROR=ON -DVARKEL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== -march=native build: the processor must give the same bits"
cmake -S . -B build-native -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-march=native \
  -DVARKEL_WERROR=ON -DVARKEL_BUILD_TOOLS=OFF -DVARKEL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-native -j"$jobs" --target varkel_dsp_tests varkel_plugin_tests
build-native/tests/varkel_dsp_tests --gtest_filter='OpAmpChain.*' --gtest_brief=1
build-native/tests/varkel_plugin_tests --gtest_filter='Concurrency*' --gtest_brief=1
