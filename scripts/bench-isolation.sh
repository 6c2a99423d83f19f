#!/usr/bin/env bash
# What --isolate costs: the round trip per block (varkel-host bench on the
# level fixture, a pass-through, so the block's cost is the handshake's and
# the copies'), and a 300 s 44.1 kHz stereo float WAV rendered at block 512
# through Varkel and through a heavy plug-in (Dragonfly Hall Reverb),
# in-process against isolated. Wall time, best of $BENCH_RUNS (3); the runs
# alternate, so both see the same machine. The isolated render is checked to
# be the in-process one's bytes.
#
#   bash scripts/bench-isolation.sh
#
# Not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${BENCH_RUNS:-3}
seconds=${BENCH_FILE_SECONDS:-300}
bash scripts/setup.sh dragonfly-reverb-lv2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target varkel-host varkel-plugin-host e2e_level_plugin >/dev/null
host=build/tools/varkel-host/varkel-host
level=build/tests/e2e/level_plugin.so
reverb=https://github.com/michaelwillis/dragonfly-reverb

work=$(mktemp -d "$root/build/bench-isolation.XXXXXX")
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/sound_file_tool" "$root/scripts/sound_file_tool.c" -lsndfile -lm
"$work/sound_file_tool" make "$work/in.wav" $((seconds * 44100)) 2 44100 float

now() { date +%s.%N; }
timed() {  # wall seconds of a command
  local started
  started=$(now)
  "$@" >/dev/null 2>&1
  awk -v a="$started" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'
}
best() { tr ' ' '\n' | grep . | sort -n | head -n 1; }
# Microseconds per process call of a bench run: "S s of signal in T s".
per_call() {
  "$host" bench --plugin "$level" --seconds 60 "$@" |
    awk '/of signal in/ { printf "%.2f", $6 * 1e6 / ($1 * 44100 / 512) }'
}

in_calls="" out_calls=""
for _ in $(seq "$runs"); do
  in_calls+=" $(per_call)"
  out_calls+=" $(per_call --isolate)"
done
in_call=$(echo "$in_calls" | best)
out_call=$(echo "$out_calls" | best)
echo "per block of 512 frames, level fixture, best of $runs, $(date -u +%Y-%m-%d), $(nproc) cores"
printf "  in-process %.2f us, isolated %.2f us: round trip %.2f us\n" "$in_call" "$out_call" \
  "$(awk -v a="$out_call" -v b="$in_call" 'BEGIN { print a - b }')"

mkdir -p "$work/a" "$work/b"
for plugin in "" "$reverb"; do
  options=(--block 512 --quiet)
  [ -z "$plugin" ] || options+=(--plugin "$plugin")
  in_times="" out_times=""
  for _ in $(seq "$runs"); do
    in_times+=" $(timed "$host" render "$work/in.wav" "$work/a/out.wav" "${options[@]}")"
    out_times+=" $(timed "$host" render "$work/in.wav" "$work/b/out.wav" "${options[@]}" --isolate)"
  done
  cmp -s "$work/a/out.wav" "$work/b/out.wav" ||
    { echo "FAILED: the isolated render differs from the in-process one"; exit 1; }
  in_best=$(echo "$in_times" | best)
  out_best=$(echo "$out_times" | best)
  printf "%s s stereo at block 512 through %s: in-process %.3f s, isolated %.3f s: %.3fx\n" \
    "$seconds" "${plugin:-Varkel}" "$in_best" "$out_best" \
    "$(awk -v a="$out_best" -v b="$in_best" 'BEGIN { print a / b }')"
done
