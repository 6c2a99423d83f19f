#!/usr/bin/env bash
# A render to .wav of more than 4 GiB (4.4 GB: 550 million stereo float
# frames, 3.5 hours at 44.1 kHz) must read back whole: written as RF64, not
# as a WAV whose length fields wrapped. Needs about 9 GB free in the work
# folder (default: a fresh one under /tmp; give another as $1). Not part of
# the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
frames=${LARGE_FRAMES:-550000000}
parent=${1:-${TMPDIR:-/tmp}}
need_kb=$(( frames * 10 / 1024 + 1048576 ))  # mono 16-bit in, stereo float out, 1 GiB spare
free_kb=$(df -Pk "$parent" | awk 'NR == 2 {print $4}')
if [ "$free_kb" -lt "$need_kb" ]; then
  echo "needs $((need_kb / 1048576)) GiB free in $parent, has $((free_kb / 1048576)) GiB: skipped"
  exit 77
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target varkel-host >/dev/null
work=$(mktemp -d "$parent/varkel-large-XXXXXX")
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/sound_file_tool" "$root/scripts/sound_file_tool.c" -lsndfile -lm

echo "making $frames mono 16-bit frames"
"$work/sound_file_tool" make "$work/in.wav" "$frames" 1 44100 pcm16
echo "rendering to a stereo float .wav"
started=$SECONDS
build/tools/varkel-host/varkel-host render "$work/in.wav" "$work/out.wav" --format float
echo "render took $((SECONDS - started)) s"
ls -l "$work/out.wav"
"$work/sound_file_tool" check "$work/out.wav" | tee "$work/check.txt"
grep -q "RF64" "$work/check.txt" || { echo "FAILED: not written as RF64"; exit 1; }
grep -q " $frames frames declared, $frames frames read" "$work/check.txt" || { echo "FAILED: frames lost"; exit 1; }
echo "large WAV check passed"
