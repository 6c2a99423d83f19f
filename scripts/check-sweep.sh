#!/usr/bin/env bash
# Runs varkel-host check on every VST 2.4 and LV2 plug-in installed (one that
# list can load, with outputs), each in a check of its own, and prints a table
# of tests against how many plug-ins failed, warned, were skipped and passed,
# then the commonest reasons for failing. Extra arguments go to every check
# (e.g. --test 'state-*').
# Usage: scripts/check-sweep.sh [check options...]
#   VARKEL_HOST   the binary (default build/tools/varkel-host/varkel-host)
#   SWEEP_JOBS    checks at once (default: the number of cores)
#   SWEEP_EVERY   check only every Nth plug-in of the list, for a sample (default 1)
#   SWEEP_OUT     a folder to keep each plug-in's JSON report in (default: none kept)
#   SWEEP_PLUGINS a file naming the plug-ins to check, one a line, instead of all
set -uo pipefail
cd "$(dirname "$0")/.."
host=$(realpath "${VARKEL_HOST:-build/tools/varkel-host/varkel-host}")
jobs=${SWEEP_JOBS:-$(nproc)}
every=${SWEEP_EVERY:-1}
work=${SWEEP_OUT:-$(mktemp -d)}
mkdir -p "$work"
[ -z "${SWEEP_OUT:-}" ] && trap 'rm -rf "$work"' EXIT

# The path (VST 2.4) or URI (LV2) of every plug-in that loads and has outputs.
if [ -n "${SWEEP_PLUGINS:-}" ]; then
  cp "$SWEEP_PLUGINS" "$work/plugins"
else
"$host" list --json | python3 -c '
import json, sys
every = int(sys.argv[1])
plugins = [e for e in json.load(sys.stdin) if e["failure"] is None and e["outputs"] > 0]
for e in plugins[::every]:
    print(e["path"] if e["format"] == "VST 2.4" else e["uri"])' "$every" >"$work/plugins"
fi
echo "checking $(wc -l <"$work/plugins") plug-ins" >&2

check_one() {
  local plugin=$1 host=$2 work=$3
  shift 3
  local key
  key=$(printf '%s' "$plugin" | md5sum | cut -c1-12)
  "$host" check --json "$@" -- "$plugin" >"$work/$key.json" 2>"$work/$key.err"
  echo "$?	$plugin" >&2
}
export -f check_one

xargs -a "$work/plugins" -d '\n' -P "$jobs" -I{} bash -c 'check_one "$@"' _ {} "$host" "$work" "$@"

python3 - "$work" <<'PY'
import collections, glob, json, re, sys
work = sys.argv[1]
table = collections.defaultdict(collections.Counter)
reasons = collections.Counter()
order, plugins, failing, broken = [], 0, 0, []
for path in sorted(glob.glob(work + "/*.json")):
    try:
        report = json.load(open(path))
    except ValueError:
        broken.append(path)
        continue
    plugins += 1
    failing += any(t["status"] == "fail" for t in report["tests"])
    for t in report["tests"]:
        if t["name"] not in order:
            order.append(t["name"])
        table[t["name"]][t["status"]] += 1
        if t["status"] == "fail":
            # The reason without its numbers, so that alike faults count together.
            reason = re.sub(r"-?\d+(\.\d+)?", "N", t["detail"])[:90]
            reasons[(t["name"], reason)] += 1
print(f"{plugins} plug-ins checked, {failing} with a failed test"
      + (f", {len(broken)} reports unreadable" if broken else ""))
print()
print("| test | fail | warn | skip | pass |")
print("|---|---:|---:|---:|---:|")
for name in order:
    c = table[name]
    print(f"| {name} | {c['fail']} | {c['warn']} | {c['skip']} | {c['pass']} |")
print()
print("Commonest failures:")
for (name, reason), n in reasons.most_common(15):
    print(f"  {n:4d}  {name}: {reason}")
PY
