#!/usr/bin/env bash
# Renders a short MIDI file (three notes, the first at 0.5 s) through
# Debian's VST 2.4 and LV2 instruments, each in a varkel-host process of its
# own, and checks each output: not silent, and no sound more than one block
# before the first note-on. Installs the instruments' packages when missing.
# With --info-only, only checks that varkel-host lists and opens each one.
# Extra arguments are passed through to every render.
# Usage: scripts/instrument-check.sh [--info-only] [render options...]
#   VARKEL_HOST  the binary (default build/tools/varkel-host/varkel-host)
#   CHECK_BLOCK  frames per process call (default 512)
#   CHECK_LIMIT  seconds a render may take (default 120)
set -uo pipefail
cd "$(dirname "$0")/.."
host=$(realpath "${VARKEL_HOST:-build/tools/varkel-host/varkel-host}")
block=${CHECK_BLOCK:-512}
limit=${CHECK_LIMIT:-120}
rate=48000
first_note_seconds=0.5
info_only=0
if [ "${1:-}" = "--info-only" ]; then
  info_only=1
  shift
fi
python=/usr/bin/python3  # Debian's, with numpy
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

instruments=(
  "Kars (VST 2.4)|/usr/lib/vst/Kars-vst.so"
  "Nekobi (VST 2.4)|/usr/lib/vst/Nekobi-vst.so"
  "amsynth (VST 2.4)|/usr/lib/vst/amsynth_vst.so"
  "Kars (LV2)|http://distrho.sf.net/plugins/Kars"
  "Nekobi (LV2)|http://distrho.sf.net/plugins/Nekobi"
  "setBfree (LV2)|http://gareus.org/oss/lv2/b_synth"
  "Calf Monosynth (LV2)|http://calf.sourceforge.net/plugins/Monosynth"
)

missing=()
for p in dpf-plugins-vst dpf-plugins-lv2 amsynth setbfree calf-plugins python3-numpy; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null || exit 1
fi

# Type 0, 480 ticks a quarter at 120 a minute: 960 ticks a second. Notes on
# channel 1 (where setBfree's upper manual listens), the second starting
# while the first sounds.
"$python" - "$work/song.mid" "$first_note_seconds" <<'EOF'
import struct, sys
path, first = sys.argv[1], float(sys.argv[2])
tick = lambda s: round(s * 960)
notes = [(first, 0.5, 60, 100), (first + 0.25, 0.5, 64, 90), (first + 0.5, 0.5, 67, 110)]
events = []
for start, length, note, velocity in notes:
    events.append((tick(start), 1, bytes([0x90, note, velocity])))
    events.append((tick(start + length), 0, bytes([0x80, note, 0])))
events.sort()

def vlq(n):
    out = [n & 0x7F]
    while n > 0x7F:
        n >>= 7
        out.insert(0, 0x80 | (n & 0x7F))
    return bytes(out)

data, now = b"\x00\xff\x51\x03\x07\xa1\x20", 0
for at, _, message in events:
    data += vlq(at - now) + message
    now = at
data += b"\x00\xff\x2f\x00"
with open(path, "wb") as f:
    f.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480) + b"MTrk" + struct.pack(">I", len(data)) + data)
EOF

# Peak and first sounding frame of a WAV file (float or PCM), as
# "PEAK_DB FIRST_FRAME", FIRST_FRAME -1 for silence.
measure() {
  "$python" - "$1" <<'EOF'
import struct, sys
import numpy as np
raw = open(sys.argv[1], "rb").read()
at, fmt, data = 12, None, None
while at + 8 <= len(raw):
    tag, size = raw[at:at + 4], struct.unpack("<I", raw[at + 4:at + 8])[0]
    if tag == b"fmt ":
        fmt = raw[at + 8:at + 8 + size]
    elif tag == b"data":
        data = raw[at + 8:at + 8 + size]
    at += 8 + size + (size & 1)
tag, channels, _, _, _, bits = struct.unpack("<HHIIHH", fmt[:16])
if tag == 0xFFFE:  # WAVE_FORMAT_EXTENSIBLE: the subformat's tag
    tag = struct.unpack("<H", fmt[24:26])[0]
if tag == 3:
    x = np.frombuffer(data, dtype="<f4" if bits == 32 else "<f8").astype(float)
elif bits == 16:
    x = np.frombuffer(data, dtype="<i2") / 32768.0
else:
    b = np.frombuffer(data, dtype=np.uint8).reshape(-1, 3).astype(np.int32)
    x = ((b[:, 0] | (b[:, 1] << 8) | (b[:, 2] << 16)) << 8 >> 8) / 8388608.0
frames = np.abs(x.reshape(-1, channels)).max(axis=1)
peak = frames.max() if frames.size else 0.0
# Sound: above -100 dBFS, below which plug-ins leave denormal dust and DC.
sounding = np.flatnonzero(frames > 1e-5)
print("%.1f %d" % (20 * np.log10(peak) if peak > 0 else -999.0,
                   sounding[0] if sounding.size else -1))
EOF
}

"$host" list --json >"$work/list.json" 2>/dev/null
onset=$("$python" -c "print(round($first_note_seconds * $rate))")
failed=0
for entry in "${instruments[@]}"; do
  label=${entry%%|*}
  plugin=${entry#*|}
  key=$(printf '%s' "$plugin" | md5sum | cut -c1-12)
  if ! timeout "$limit" "$host" info --plugin "$plugin" >"$work/$key.info" 2>"$work/$key.err"; then
    echo "FAIL	$label	info: $(tail -n 1 "$work/$key.err" | cut -c1-200)"
    failed=1
    continue
  fi
  if ! "$python" -c '
import json, sys
sys.exit(0 if any(sys.argv[1] in (e.get("path"), e.get("uri")) for e in json.load(open(sys.argv[2]))) else 1)' "$plugin" "$work/list.json"; then
    echo "FAIL	$label	not in varkel-host list"
    failed=1
    continue
  fi
  if [ "$info_only" -eq 1 ]; then
    echo "ok	$label	$(grep -m1 '^Channels' "$work/$key.info" | tr -s ' ')"
    continue
  fi
  timeout "$limit" "$host" render "$work/song.mid" "$work/$key.wav" --plugin "$plugin" \
    --rate "$rate" --block "$block" --quiet "$@" >/dev/null 2>"$work/$key.err"
  status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAIL	$label	render status $status: $(tail -n 1 "$work/$key.err" | cut -c1-200)"
    failed=1
    continue
  fi
  read -r peak first < <(measure "$work/$key.wav")
  if [ "$first" -lt 0 ]; then
    echo "FAIL	$label	silent"
    failed=1
  elif [ "$first" -lt $((onset - block)) ]; then
    echo "FAIL	$label	sound from frame $first, the first note-on at $onset (block $block)"
    failed=1
  else
    echo "ok	$label	peak $peak dBFS, sound from frame $first, the first note-on at $onset"
  fi
done
exit "$failed"
