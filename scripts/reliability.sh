#!/usr/bin/env bash
# Reliability checks beyond the test suite: each libFuzzer target (the
# plug-in's boundary and formatters, the host's file readers) for a bounded
# time (AddressSanitizer and UndefinedBehaviorSanitizer inside), then the
# concurrency tests under ThreadSanitizer.
#
#   bash scripts/reliability.sh            # 60 s per fuzzer
#   bash scripts/reliability.sh 3600       # an hour per fuzzer
#
# Inputs the fuzzers find interesting are kept in build-fuzz/corpus/ and
# picked up again by the next run; a failing input is written to
# build-fuzz/artifacts/ and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${1:-${VARKEL_FUZZ_SECONDS:-60}}
jobs=$(nproc)

# clang and its sanitizer and libFuzzer runtimes, besides the usual build tools.
bash scripts/setup.sh clang-14 libclang-rt-14-dev

fuzzers=(host_boundary_fuzzer formatter_fuzzer midi_file_fuzzer vst_state_fuzzer automation_fuzzer
         analysis_compare_fuzzer)
# The file readers must answer any input within a second and never ask for a
# block of more than 64 MiB (their inputs are a few KiB); the plug-in's own
# targets run whole render sequences per input.
limits() {
  case $1 in
    host_boundary_fuzzer | formatter_fuzzer) echo "-timeout=30" ;;
    # JSON's tokens and an analysis's keys, which mutations of bytes rarely make.
    analysis_compare_fuzzer) echo "-timeout=1 -malloc_limit_mb=64 -dict=fuzz/analysis_compare.dict" ;;
    *) echo "-timeout=1 -malloc_limit_mb=64" ;;
  esac
}

echo "== libFuzzer targets: build"
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARKEL_BUILD_FUZZERS=ON -DVARKEL_WERROR=ON -DBUILD_TESTING=OFF -DVARKEL_BUILD_TOOLS=OFF \
  -DVARKEL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target "${fuzzers[@]}"
mkdir -p build-fuzz/artifacts

echo "== libFuzzer targets: committed corpus (seeds and regressions)"
for f in "${fuzzers[@]}"; do
  build-fuzz/fuzz/$f -runs=0 $(limits $f) -artifact_prefix=build-fuzz/artifacts/$f- fuzz/corpus/$f \
    >build-fuzz/$f.replay.log 2>&1 || { tail -n 40 build-fuzz/$f.replay.log; exit 1; }
  echo "$f: $(ls fuzz/corpus/$f | wc -l) inputs replayed, no findings"
done

echo "== libFuzzer targets: ${fuzz_seconds} s each, side by side"
pids=()
for f in "${fuzzers[@]}"; do
  mkdir -p build-fuzz/corpus/$f
  build-fuzz/fuzz/$f -max_total_time="$fuzz_seconds" $(limits $f) -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/$f- \
    build-fuzz/corpus/$f fuzz/corpus/$f >build-fuzz/$f.log 2>&1 &
  pids+=($!)
done
failed=0
for i in "${!fuzzers[@]}"; do
  f=${fuzzers[$i]}
  if wait "${pids[$i]}"; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' build-fuzz/$f.log)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' build-fuzz/$f.log)
    cov=$(grep -o 'cov: [0-9]*' build-fuzz/$f.log | tail -n 1)
    echo "$f: $runs executions in ${fuzz_seconds} s ($rate/s), $cov, no findings"
  else
    echo "$f: FAILED; the input is in build-fuzz/artifacts/, the log ends:"
    tail -n 60 build-fuzz/$f.log
    failed=1
  fi
done
[ "$failed" -eq 0 ] || exit 1

echo "== ThreadSanitizer: concurrency tests"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARKEL_ENABLE_TSAN=ON \
  -DVARKEL_WERROR=ON -DVARKEL_BUILD_TOOLS=OFF -DVARKEL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target varkel_plugin_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan -R Concurrency --no-tests=error --output-on-failure
