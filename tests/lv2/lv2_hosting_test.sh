#!/usr/bin/env bash
# varkel-host hosting LV2 plug-ins, against independent renders of the same
# plug-ins:
# - lv2apply (one frame per call, no host features) where it can run one:
#   varkel-host render --block 1 of a float WAV gives the same samples;
# - zam-plugins' LV2 builds, which need urid:map and options (lv2apply cannot
#   run them), against the same plug-ins' VST 2.4 builds at settings both
#   formats hold exactly;
# - Varkel's two editions: the same file, byte for byte, and the same
#   analysis numbers.
# Rows whose plug-in is not installed are skipped; exits 77 when none ran.
# Usage: lv2_hosting_test.sh LV2_DIR VARKEL_HOST VST_MODULE SAME_SAMPLES
set -uo pipefail
lv2_dir=$1 host=$2 vst_module=$3 same_samples=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LV2_PATH=$lv2_dir:/usr/lib/lv2
passed=0 failed=0 ran=0
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }

"$host" demo --out "$work/demo" --quiet || { echo "varkel-host demo failed"; exit 1; }
stereo=$work/demo/source.wav
# A mono copy for mono plug-ins: its first second, left channel.


python3 - "$stereo" "$work/mono.wav" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
at = data.index(b'data') + 8
frames = min((len(data) - at) // 8, 44100)
left = b''.join(data[at + 8 * i: at + 8 * i + 4] for i in range(frames))
header = struct.pack('<4sI4s4sIHHIIHH4sI', b'RIFF', 36 + len(left), b'WAVE', b'fmt ', 16, 3, 1,
                     44100, 44100 * 4, 4, 32, b'data', len(left))
open(sys.argv[2], 'wb').write(header + left)
PY

installed() { LV2_PATH=$LV2_PATH "$host" info --plugin "$1" >/dev/null 2>&1; }

# URI | input | settings as SYMBOL=VALUE, space-separated
lv2apply_rows=(
  "urn:ostrelvane:varkel|$stereo|PreGain=0.8 LPCutOff=0.4 PostGain=0.3"
  "urn:ostrelvane:varkel|$stereo|PreGain=1"
  "http://drobilla.net/plugins/mda/Limiter|$stereo|thresh=0.3 output=0.7"
  "http://drobilla.net/plugins/mda/Limiter|$stereo|thresh=0.1 release=0.2 knee=1"
  "http://drobilla.net/plugins/mda/Overdrive|$stereo|drive=0.8 muffle=0.3"
  "http://drobilla.net/plugins/mda/Overdrive|$stereo|drive=0.2 output=0.4"
  "urn:ardour:a-eq|$work/mono.wav|g1=6 freq1=500"
  "urn:ardour:a-eq|$work/mono.wav|gl=-8 gh=4 freqh=6000"
)
if command -v lv2apply >/dev/null; then
  for row in "${lv2apply_rows[@]}"; do
    IFS='|' read -r uri input settings <<<"$row"
    installed "$uri" || { echo "skipped: $uri is not installed"; continue; }
    ran=$((ran + 1))
    controls=() sets=()
    for s in $settings; do controls+=(-c "${s%%=*}" "${s#*=}"); sets+=(--set "$s"); done
    LD_PRELOAD=${VARKEL_TOOL_PRELOAD:-} lv2apply -i "$input" -o "$work/a.wav" "${controls[@]}" "$uri" 2>"$work/err" ||
      { fail "lv2apply $uri $settings: $(head -1 "$work/err")"; continue; }
    "$host" render "$input" "$work/b.wav" --plugin "$uri" --block 1 --quiet "${sets[@]}" ||
      { fail "varkel-host render $uri $settings"; continue; }
    if "$same_samples" "$work/a.wav" "$work/b.wav" >/dev/null &&
       ! "$same_samples" "$work/b.wav" "$input" >/dev/null 2>&1; then
      passed=$((passed + 1)); echo "same as lv2apply: $uri $settings"
    else
      fail "$uri $settings: varkel-host and lv2apply differ (or nothing changed)"
    fi
  done
else
  echo "lv2apply is not installed (lilv-utils): its rows skipped"
fi

# NAME | LV2 setting | the same setting normalised for the VST 2.4 build
zam_rows=(
  "ZamTube|bass=2.5|Bass=0.25"
  "ZamComp|mak=15 kn=4|Makeup=0.5 Knee=0.5"
  "ZamDelay|drywet=0.75 feedb=0.25|Dry/Wet=0.75 Feedback=0.25"
)
for row in "${zam_rows[@]}"; do
  IFS='|' read -r name lv2_settings vst_settings <<<"$row"
  vst=/usr/lib/vst/$name-vst.so
  { installed "urn:zamaudio:$name" && [ -f "$vst" ]; } || { echo "skipped: $name"; continue; }
  ran=$((ran + 1))
  a=() b=()
  for s in $lv2_settings; do a+=(--set "$s"); done
  for s in $vst_settings; do b+=(--set "$s"); done
  "$host" render "$stereo" "$work/lv2.wav" --plugin "urn:zamaudio:$name" --quiet "${a[@]}" &&
    "$host" render "$stereo" "$work/vst.wav" --plugin "$vst" --quiet "${b[@]}" ||
    { fail "$name: a render failed"; continue; }
  if "$same_samples" "$work/lv2.wav" "$work/vst.wav" >/dev/null; then
    passed=$((passed + 1)); echo "LV2 and VST 2.4 builds agree: $name $lv2_settings"
  else
    fail "$name $lv2_settings: the LV2 build differs from the VST 2.4 build"
  fi
done

# Varkel's editions: byte for byte, and the same analysis numbers.
ran=$((ran + 1))
"$host" render "$stereo" "$work/e-lv2.wav" --plugin urn:ostrelvane:varkel --set PreGain=0.9 --quiet &&
  "$host" render "$stereo" "$work/e-vst.wav" --plugin "$vst_module" --set PreGain=0.9 --quiet &&
  cmp -s "$work/e-lv2.wav" "$work/e-vst.wav" && passed=$((passed + 1)) ||
  fail "Varkel's LV2 edition renders other bytes than its VST 2.4 module"
ran=$((ran + 1))
"$host" analyze --plugin urn:ostrelvane:varkel --set PreGain=0.9 --what response,harmonics,transfer \
  --out "$work/an-lv2" --quiet 2>/dev/null &&
  "$host" analyze --plugin "$vst_module" --set PreGain=0.9 --what response,harmonics,transfer \
    --out "$work/an-vst" --quiet 2>/dev/null &&
  python3 - "$work/an-lv2/analysis.json" "$work/an-vst/analysis.json" <<'PY' && passed=$((passed + 1)) ||
import json, sys
def numbers(node):
    if isinstance(node, dict):
        return {k: numbers(v) for k, v in node.items() if k not in ('device', 'identity', 'plugin', 'version')}
    if isinstance(node, list):
        return [numbers(v) for v in node]
    return node
a, b = (numbers(json.load(open(p))) for p in sys.argv[1:])
sys.exit(0 if a == b else 1)
PY
  fail "analyze gives other numbers for Varkel's LV2 edition"

# Presets: Varkel's factory "Driven" is its values given with --set, and a
# VST 2.4 program is chosen by name or number; an unknown one names those there.
ran=$((ran + 1))
"$host" render "$stereo" "$work/p1.wav" --plugin urn:ostrelvane:varkel --preset Driven --quiet &&
  "$host" render "$stereo" "$work/p2.wav" --plugin "$vst_module" --quiet --set PreGain=1 \
    --set LPCutOff=0.75 --set PostGain=0.12589254 &&
  "$host" render "$stereo" "$work/p3.wav" --plugin "$vst_module" --preset Default --quiet &&
  "$host" render "$stereo" "$work/p4.wav" --plugin "$vst_module" --preset 0 --quiet &&
  cmp -s "$work/p1.wav" "$work/p2.wav" && cmp -s "$work/p3.wav" "$work/p4.wav" &&
  [[ $("$host" render "$stereo" "$work/p5.wav" --plugin urn:ostrelvane:varkel --preset Nope 2>&1) ==
     *"its presets: Clean, Dark, Driven, Warm"* ]] && passed=$((passed + 1)) ||
  fail "presets"

echo "lv2-hosting: $passed passed, $failed failed"
[ "$ran" -gt 0 ] || exit 77
[ "$failed" -eq 0 ]
