#!/usr/bin/env bash
# The built bundle in Debian's LV2 tools: lv2info describes it without a
# warning, lv2_validate (lv2-dev, with sordi's sord_validate) finds nothing to
# report in its description, and lv2apply renders a file through it to the
# same samples as varkel-host renders through the VST 2.4 module at the same
# setting. Exits 77 (skipped) when lilv-utils is not installed; lv2_validate
# is left out without sordi.
# Usage: lv2_tools_test.sh LV2_DIR VARKEL_HOST VST_MODULE SAME_SAMPLES
set -uo pipefail
lv2_dir=$1 host=$2 vst_module=$3 same_samples=$4
uri=urn:ostrelvane:varkel

for tool in lv2info lv2apply; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (lilv-utils): skipped"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

# LV2_PATH holds the build's bundle and the vocabulary bundles it refers to
# (core, port groups, units) only, so neither an installed copy nor another
# plug-in can interfere.
mkdir "$work/lv2"
ln -s "$lv2_dir/Varkel.lv2" "$work/lv2/"
for vocabulary in core port-groups units; do
  [ -d "/usr/lib/lv2/$vocabulary.lv2" ] && ln -s "/usr/lib/lv2/$vocabulary.lv2" "$work/lv2/"
done
export LV2_PATH=$work/lv2

# A sanitizer build's plug-in needs its runtime loaded first in the tools.
run_tool() { LD_PRELOAD=${VARKEL_TOOL_PRELOAD:-} "$@"; }

run_tool lv2info "$uri" >"$work/info.txt" 2>&1 || fail "lv2info: $(cat "$work/info.txt")"
cat "$work/info.txt"
grep -qiE 'warn|error' "$work/info.txt" && fail "lv2info warns"
grep -qE '^\s*Name:\s+Varkel$' "$work/info.txt" || fail "lv2info shows no name Varkel"
grep -qE '^\s*Class:\s+Amplifier Plugin$' "$work/info.txt" || fail "lv2info shows another class"
[ "$(grep -c '^\s*Port [0-9]*:$' "$work/info.txt")" = 7 ] || fail "lv2info shows other than 7 ports"

if command -v lv2_validate >/dev/null && command -v sord_validate >/dev/null; then
  lv2_validate "$lv2_dir"/Varkel.lv2/*.ttl >"$work/validate.txt" 2>&1 ||
    fail "lv2_validate: $(grep -v '^Skipping' "$work/validate.txt")"
  grep -qiE '^(error|warning)' "$work/validate.txt" && fail "lv2_validate: $(cat "$work/validate.txt")"
  echo "lv2_validate: $(tail -n 1 "$work/validate.txt")"
else
  echo "lv2_validate or sord_validate is not installed (lv2-dev, sordi): not validated"
fi

"$host" demo --out "$work/demo" --quiet || fail "varkel-host demo"
source=$work/demo/source.wav
run_tool lv2apply -i "$source" -o "$work/lv2.wav" -c PreGain 0.8 -c LPCutOff 0.4 -c PostGain 0.3 "$uri" \
  2>"$work/err.txt" || fail "lv2apply: $(cat "$work/err.txt")"
"$host" render "$source" "$work/vst.wav" --plugin "$vst_module" --quiet \
  --set PreGain=0.8 --set LPCutOff=0.4 --set PostGain=0.3 || fail "varkel-host render"
"$same_samples" "$work/lv2.wav" "$work/vst.wav" || fail "lv2apply and varkel-host render differ"
"$same_samples" "$work/lv2.wav" "$source" >/dev/null && fail "lv2apply passed the file through unchanged"
echo "passed"
