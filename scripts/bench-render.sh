#!/usr/bin/env bash
# One long render against copying the file with sox: a 300 s 48 kHz stereo
# float WAV through the level fixture at Level 1 (a pass-through: the render's
# cost is the host's own), against `sox in.wav out.wav`. Wall time, best of
# $BENCH_RUNS (3), the render's fsync before its rename included; the runs
# alternate, so both see the same machine. Given an older build tree (or a
# folder with varkel-host), times its render in the same runs too.
#
#   bash scripts/bench-render.sh [OLD]
#
# Not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${BENCH_RUNS:-3}
seconds=${BENCH_FILE_SECONDS:-300}
bash scripts/setup.sh sox
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target varkel-host e2e_level_plugin >/dev/null
host=build/tools/varkel-host/varkel-host
plugin=build/tests/e2e/level_plugin.so
old=""
if [ $# -ge 1 ]; then
  if [ -x "$1/tools/varkel-host/varkel-host" ]; then old="$1/tools/varkel-host/varkel-host"
  elif [ -x "$1/varkel-host" ]; then old="$1/varkel-host"
  else echo "bench-render: no varkel-host in $1" >&2; exit 2; fi
fi

# Beside the build rather than in /tmp, which may be a memory file system.
work=$(mktemp -d "$root/build/bench-render.XXXXXX")
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/sound_file_tool" "$root/scripts/sound_file_tool.c" -lsndfile -lm
"$work/sound_file_tool" make "$work/in.wav" $((seconds * 48000)) 2 48000 float

now() { date +%s.%N; }
# Wall seconds of a command, its output file removed first.
timed() {
  local out=$1
  shift
  rm -f "$out"
  local started
  started=$(now)
  "$@" >/dev/null 2>&1
  awk -v a="$started" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'
}
best() { tr ' ' '\n' | grep . | sort -n | head -n 1; }

sox_times="" new_times="" old_times=""
for _ in $(seq "$runs"); do
  sox_times+=" $(timed "$work/sox.wav" sox -V1 "$work/in.wav" "$work/sox.wav")"
  new_times+=" $(timed "$work/new.wav" "$host" render "$work/in.wav" "$work/new.wav" \
    --plugin "$plugin" --set Level=1 --quiet)"
  [ -z "$old" ] || old_times+=" $(timed "$work/old.wav" "$old" render "$work/in.wav" "$work/old.wav" \
    --plugin "$plugin" --set Level=1 --quiet)"
done
data_bytes=$((seconds * 48000 * 8))
cmp -s <(tail -c "$data_bytes" "$work/in.wav") <(tail -c "$data_bytes" "$work/new.wav") ||
  { echo "FAILED: the pass-through render changed the samples"; exit 1; }

sox_best=$(echo "$sox_times" | best)
echo "render of $seconds s 48 kHz stereo float WAV, level fixture at 1, best of $runs, $(date -u +%Y-%m-%d), $(nproc) cores"
printf "%-24s %8s %10s\n" "" "wall s" "vs sox"
printf "%-24s %8.3f %9.2fx\n" "sox in.wav out.wav" "$sox_best" 1
new_best=$(echo "$new_times" | best)
printf "%-24s %8.3f %9.2fx\n" "varkel-host render" "$new_best" "$(awk -v a="$new_best" -v b="$sox_best" 'BEGIN { print a / b }')"
if [ -n "$old" ]; then
  old_best=$(echo "$old_times" | best)
  printf "%-24s %8.3f %9.2fx\n" "the same, older build" "$old_best" "$(awk -v a="$old_best" -v b="$sox_best" 'BEGIN { print a / b }')"
fi
