#!/usr/bin/env bash
# Builds Varkel and runs the whole test suite: a release build, then the same
# suite under AddressSanitizer and UndefinedBehaviorSanitizer, then the
# processor's tests in a -march=native build. Benchmarks and fuzzers are not
# built here (scripts/bench.sh and scripts/reliability.sh build them).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

# ccache keeps unchanged files from being compiled again across runs and
# build directories; precompiled headers need its sloppiness for them.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$PWD
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
fi
# The test builds compile up to 16 files of a program as one, so that the
# heavy headers (GoogleTest, CLI11, nlohmann-json, {fmt}) are read once per
# batch: half the compile time. Precompiled headers then cost more than they
# save. The shipped module is built file by file (scripts/package.sh), which
# also catches a file that leans on another's includes.
batched=(-DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16 -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON)

echo "== release build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARKEL_WERROR=ON \
  -DVARKEL_BUILD_BENCHMARKS=OFF "${batched[@]}" "${launcher[@]}" >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== Python package (Debian's interpreter, on the release build)"
VARKEL_BUILD_DIR=build /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARKEL_ENABLE_SANITIZERS=ON \
  -DVARKEL_WERROR=ON -DVARKEL_BUILD_BENCHMARKS=OFF "${batched[@]}" "${launcher[@]}" >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== -march=native build: the processor must give the same bits"
cmake -S . -B build-native -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-march=native \
  -DVARKEL_WERROR=ON -DVARKEL_BUILD_TOOLS=OFF -DVARKEL_BUILD_BENCHMARKS=OFF "${launcher[@]}" >/dev/null
cmake --build build-native -j"$jobs" --target varkel_dsp_tests
build-native/tests/varkel_dsp_tests --gtest_filter='OpAmpChain*' --gtest_brief=1
