#!/usr/bin/env bash
# Regenerates the plots of Varkel in docs/analysis/ that docs/analysis.md shows:
# varkel-host analyze at the default setting, with PreGain 1.0 (driven) and
# with LPCutOff 0.3 (dark), the PNGs only; the driven one with its aliasing
# also measured 4 times oversampled.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc); [ "$jobs" -gt 2 ] && jobs=2
build=${VARKEL_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$jobs" --target varkel-host Varkel
host="$build/tools/varkel-host/varkel-host"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

plots() {
  local name=$1; shift
  "$host" analyze --quiet --out "$work/$name" "$@"
  rm -rf "docs/analysis/$name"
  mkdir -p "docs/analysis/$name"
  cp "$work/$name"/*.png "docs/analysis/$name/"
  echo "docs/analysis/$name: $(cd "docs/analysis/$name" && echo *.png)"
}

plots default
plots pregain-1 --set PreGain=1.0 --oversample 4
plots lpcutoff-0.3 --set LPCutOff=0.3
