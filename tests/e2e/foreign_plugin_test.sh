#!/usr/bin/env bash
# varkel-host as a general host: info, render and bench on one of Debian's
# zam-plugins, which are built with another framework than Varkel. Installs
# the package when it is missing and it can; exits 77 (skipped) when not.
set -uo pipefail
host=$1

find_plugin() {
  # A stereo-in effect: ZaMaximX2 when present, else the first VST module.
  local list
  list=$(dpkg -L zam-plugins 2>/dev/null | grep -E '^/usr/lib/vst/[^/]+\.so$')
  grep -m1 'ZaMaximX2' <<<"$list" || head -n1 <<<"$list"
}

plugin=$(find_plugin)
if [ -z "$plugin" ] && [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt_install() { timeout 600 apt-get install -y -qq -o DPkg::Lock::Timeout=300 zam-plugins >/dev/null 2>&1; }
  apt_install || { timeout 600 apt-get update -qq >/dev/null 2>&1 && apt_install; }
  plugin=$(find_plugin)
fi
if [ -z "$plugin" ]; then
  echo "zam-plugins is not installed and cannot be installed here: skipped"
  exit 77
fi
echo "plug-in: $plugin"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

"$host" info --plugin "$plugin" >"$work/info.txt" 2>"$work/err.txt" || fail "info: $(cat "$work/err.txt")"
cat "$work/info.txt"
grep -q '^Name  *[^ ]' "$work/info.txt" || fail "info shows no name"
grep -q '^Name  *Varkel$' "$work/info.txt" && fail "info shows Varkel, not the plug-in asked for"
grep -Eq "^Unique ID   '....' \(-?[0-9]+\)$" "$work/info.txt" || fail "info shows no unique ID"

"$host" info --json --plugin "$plugin" >"$work/info.json" || fail "info --json"
grep -q '"vendor": "Damien Zammit"' "$work/info.json" || fail "info --json shows another vendor"

inputs=$(sed -n 's/^  "inputs": \([0-9]*\),$/\1/p' "$work/info.json")
if [ "$inputs" = 2 ]; then
  # The demo's source is the test material; render it through the plug-in.
  "$host" demo --out "$work/demo" --quiet || fail "demo"
  "$host" render "$work/demo/source.wav" "$work/zam.wav" --plugin "$plugin" >"$work/summary.txt" \
    || fail "render"
  cat "$work/summary.txt"
  grep -Eq '^.*zam\.wav: 573300 frames, 13\.000 s, ' "$work/summary.txt" || fail "render summary"
  "$host" bench --plugin "$plugin" --seconds 0.5 || fail "bench"
fi
echo "passed"
