#!/usr/bin/env bash
# Renders the same inputs with an older build and this one and compares the
# outputs byte for byte: rates, channel layouts, block sizes, precisions,
# settings, automation and output formats. A change that should keep every
# bit runs this against the build before it.
#
#   bash scripts/compare-renders.sh OLD [NEW]
#   bash scripts/compare-renders.sh --isolate [BUILD]
#
# OLD and NEW are build trees (with tools/varkel-host/varkel-host and
# plugin/Varkel.so) or folders holding varkel-host and Varkel.so; NEW
# defaults to ./build. With --isolate, one build renders each case in-process
# and with --isolate, through the VST 2.4 module and the LV2 bundle (lv2/ in
# a build tree). Exits 1 when any render differs or fails.
set -euo pipefail
cd "$(dirname "$0")/.."

locate() {  # folder -> "tool module"
  if [ -x "$1/tools/varkel-host/varkel-host" ]; then
    echo "$1/tools/varkel-host/varkel-host $1/plugin/Varkel.so"
  elif [ -x "$1/varkel-host" ]; then
    echo "$1/varkel-host $1/Varkel.so"
  else
    echo "compare-renders: no varkel-host in $1" >&2
    exit 2
  fi
}
[ $# -ge 1 ] || { sed -n 2,14p "$0" | sed 's/^# \{0,1\}//'; exit 2; }
new_options=()
if [ "$1" = --isolate ]; then
  build=${2:-build}
  read -r old_tool old_module < <(locate "$build")
  read -r new_tool new_module < <(locate "$build")
  new_options=(--isolate)
  lv2_bundle="$build/lv2/Varkel.lv2/"
else
  read -r old_tool old_module < <(locate "$1")
  read -r new_tool new_module < <(locate "${2:-build}")
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/old" "$work/new"

# Float WAV inputs: two partials, a step and a little noise, a quarter second.
python3 - "$work" <<'EOF'
import math, random, struct, sys
def write(path, rate, channels, frames):
    rng = random.Random(rate * 10 + channels)
    data = bytearray()
    for i in range(frames):
        for c in range(channels):
            t = i / rate
            v = 0.45 * math.sin(2 * math.pi * (97 + 31 * c) * t) + 0.3 * math.sin(2 * math.pi * 5003 * t)
            v += (0.4 if i > frames // 2 else 0.0) + 0.02 * (rng.random() - 0.5)
            data += struct.pack('<f', v * (1.6 if c % 2 else 1.0))
    header = struct.pack('<4sI4s4sIHHIIHH4sI', b'RIFF', 36 + len(data), b'WAVE', b'fmt ', 16, 3,
                         channels, rate, rate * 4 * channels, 4 * channels, 32, b'data', len(data))
    open(path, 'wb').write(header + data)
for rate in (44100, 48000, 96000):
    for channels in (1, 2, 4):
        write(f"{sys.argv[1]}/in-{rate}-{channels}.wav", rate, channels, rate // 4)
EOF

settings=("" "--set PreGain=1" "--set LPCutOff=0.3 --set PostGain=0.8"
          "--automate PreGain=0:0.2,0.1:1,0.2:0.05" "--automate PreGain=0:0.2,0.1:1 --ramp")
same=0
differ=0
case_number=0
run_case() {  # input output-extension options...
  local input=$1 ext=$2
  shift 2
  case_number=$((case_number + 1))
  # The same name in two folders: dither is seeded from the output's name.
  local a="$work/old/$case_number.$ext" b="$work/new/$case_number.$ext"
  if ! "$old_tool" render "$input" "$a" --plugin "$old_module" --quiet "$@" 2>"$work/err" ||
     ! "$new_tool" render "$input" "$b" --plugin "$new_module" --quiet "${new_options[@]}" "$@" \
       2>"$work/err"; then
    echo "failed: $(basename "$input") .$ext $* ($(head -1 "$work/err"))"
    differ=$((differ + 1))
  elif cmp -s "$a" "$b"; then
    same=$((same + 1))
  else
    echo "differs: $(basename "$input") .$ext $*"
    differ=$((differ + 1))
  fi
  rm -f "$a" "$b"
}

for rate in 44100 48000 96000; do
  for channels in 1 2 4; do
    input="$work/in-$rate-$channels.wav"
    for block in 1 64 512 4096; do
      for precision in 32 64; do
        for s in "${settings[@]}"; do
          # Block 1 is slow through a whole plan; one setting and both precisions do.
          if [ "$block" = 1 ] && [ -n "$s" ]; then continue; fi
          # shellcheck disable=SC2086
          run_case "$input" wav --block "$block" --precision "$precision" $s
        done
      done
    done
    run_case "$input" wav --format pcm16 --set PreGain=1
    run_case "$input" wav --format pcm16 --precision 64 --set PreGain=1
    run_case "$input" wav --format pcm24 --set PreGain=1
    run_case "$input" wav --format pcm16 --dither
    run_case "$input" flac --set PreGain=0.7
  done
done
# The LV2 edition too, isolated against in-process: every block size and
# precision with automation.
if [ -n "${lv2_bundle:-}" ] && [ -d "$lv2_bundle" ]; then
  old_module=$lv2_bundle
  new_module=$lv2_bundle
  for channels in 1 2 4; do
    for block in 1 64 512 4096; do
      for precision in 32 64; do
        run_case "$work/in-48000-$channels.wav" wav --block "$block" --precision "$precision" \
          --automate PreGain=0:0.2,0.1:1 --ramp
      done
    done
  done
fi
echo "compare-renders: $same passed, $differ failed"
[ "$differ" -eq 0 ]
