#!/usr/bin/env bash
# Batch rendering in parallel: 32 one-minute stereo files through Varkel at
# -j 1 and at -j 2 (and -j N for N given as $1), in one run on this machine.
# Prints the best wall time of each over three rounds (BENCH_ROUNDS), its CPU
# time, and the speed-up against -j 1,
# and checks that every -j gives the same files byte for byte. With
# BENCH_OLD_HOST set to an older varkel-host, times that one too, in the same
# run. Not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
files=${BENCH_FILES:-32}
seconds=${BENCH_FILE_SECONDS:-60}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target varkel-host >/dev/null
host=build/tools/varkel-host/varkel-host
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/sound_file_tool" "$root/scripts/sound_file_tool.c" -lsndfile -lm
mkdir "$work/in"
for i in $(seq -w 1 "$files"); do
  "$work/sound_file_tool" make "$work/in/take$i.wav" $((seconds * 44100)) 2 44100 pcm16
done

# The inputs reach the disk first, so that their write-back does not slow
# the outputs' fsync.
sync
now() { date +%s.%N; }
rounds=${BENCH_ROUNDS:-3}
echo "varkel-host render, $files files of $seconds s stereo 16-bit, best of $rounds rounds, $(date -u +%Y-%m-%d), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
printf "%-10s %-6s %10s %10s %10s\n" "build" "jobs" "wall s" "CPU s" "speed-up"
declare -A best cpu_of
# Rounds go -j 1, -j 2, ... in turn, so that a slow spell of the disk or
# of the machine falls on all of them alike.
for round in $(seq "$rounds"); do
  for build in new ${BENCH_OLD_HOST:+old}; do
    exe=$host
    [ "$build" = new ] || exe=$BENCH_OLD_HOST
    for jobs in 1 2 ${1:-}; do
      rm -rf "$work/out$jobs"
      started=$(now)
      cpu=$( { /usr/bin/time -f "%U %S" "$exe" render "$work/in" --out-dir "$work/out$jobs" -j "$jobs" --quiet; } 2>&1 | awk '{ print $1 + $2 }')
      elapsed=$(awk -v a="$started" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }')
      key="$build $jobs"
      if [ -z "${best[$key]:-}" ] || awk -v t="$elapsed" -v b="${best[$key]}" 'BEGIN { exit !(t < b) }'; then
        best[$key]=$elapsed
        cpu_of[$key]=$cpu
      fi
      if [ "$jobs" != 1 ]; then
        diff -r -q "$work/out1" "$work/out$jobs" >/dev/null || { echo "FAILED: -j $jobs differs from -j 1"; exit 1; }
      fi
    done
  done
done
for build in new ${BENCH_OLD_HOST:+old}; do
  for jobs in 1 2 ${1:-}; do
    awk -v n="$build" -v j="$jobs" -v t="${best[$build $jobs]}" -v c="${cpu_of[$build $jobs]}" \
        -v b="${best[$build 1]}" \
      'BEGIN { printf "%-10s %-6s %10.2f %10.2f %9.2fx\n", n, j, t, c, b / t }'
  done
done
echo "every -j gave the same files"
