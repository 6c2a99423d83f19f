#!/usr/bin/env bash
# Renders a short noise file through every LV2 effect installed (a plug-in
# with audio inputs and outputs), each in a varkel-host process of its own,
# fed as many channels as it has main inputs, and sorts them into rendered,
# refused (with varkel-host's one-line reason) and killed by a signal or the
# time limit. Extra arguments are passed through to every render.
# Usage: scripts/lv2-sweep.sh [render options...]
#   VARKEL_HOST  the binary (default build/tools/varkel-host/varkel-host)
#   SWEEP_JOBS   renders at once (default: the number of cores)
#   SWEEP_LIMIT  seconds a render may take (default 60)
set -uo pipefail
cd "$(dirname "$0")/.."
host=$(realpath "${VARKEL_HOST:-build/tools/varkel-host/varkel-host}")
jobs=${SWEEP_JOBS:-$(nproc)}
limit=${SWEEP_LIMIT:-60}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# URI and main inputs of every LV2 effect, from list and info.
"$host" list --json | python3 -c '
import json, sys
for entry in json.load(sys.stdin):
    if entry["format"] == "LV2" and entry["failure"] is None and entry["inputs"] > 0 and entry["outputs"] > 0:
        print(entry["uri"])' >"$work/uris"

render_one() {
  local uri=$1 host=$2 work=$3 limit=$4
  shift 4
  local key dir mains status
  key=$(printf '%s' "$uri" | md5sum | cut -c1-12)
  dir=$work/$key
  mkdir -p "$dir"
  mains=$(timeout "$limit" "$host" info --json --plugin "$uri" 2>"$dir/info.err" | python3 -c '
import json, sys
d = json.load(sys.stdin)
print(d["inputs"] - len(d["sideChains"]))' 2>/dev/null)
  status=$?
  if [ -z "$mains" ]; then
    status=$(timeout "$limit" "$host" info --plugin "$uri" >/dev/null 2>"$dir/info.err"; echo $?)
    report "$uri" "$status" "$dir/info.err" info
    return
  fi
  [ "$mains" -lt 1 ] && mains=1
  sox -q -n -r 44100 -c "$mains" -b 32 -e floating-point "$dir/in.wav" synth 0.5 pinknoise gain -12
  timeout "$limit" "$host" render "$dir/in.wav" "$dir/out.wav" --plugin "$uri" --quiet "$@" \
    >/dev/null 2>"$dir/render.err"
  report "$uri" $? "$dir/render.err" render
  rm -rf "$dir"
}
report() {
  local uri=$1 status=$2 err=$3 what=$4
  if [ "$status" -eq 0 ]; then
    echo "rendered	$uri"
  elif [ "$status" -eq 124 ] || [ "$status" -gt 128 ]; then
    echo "killed	$uri	$what: $([ "$status" -eq 124 ] && echo "time limit" || echo "signal $((status - 128))")"
  else
    echo "refused	$uri	$(tail -n 1 "$err" | cut -c1-200)"
  fi
}
export -f render_one report

xargs -a "$work/uris" -d '\n' -P "$jobs" -I{} bash -c 'render_one "$@"' _ {} "$host" "$work" "$limit" "$@" \
  | sort >"$work/results"
cat "$work/results"
awk -F'\t' '{ n[$1]++ } END {
  total = n["rendered"] + n["refused"] + n["killed"]
  printf "\n%d LV2 effects: %d rendered (%.1f %%), %d refused, %d killed\n", total, n["rendered"],
         total ? 100 * n["rendered"] / total : 0, n["refused"], n["killed"] }' "$work/results"
