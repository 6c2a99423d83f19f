#!/usr/bin/env bash
# The main command on a fresh Debian 12 machine: installs what the build
# needs, builds Varkel and varkel-host, and renders the demo program through
# Varkel into ./varkel-demo/ (the test material and three renders).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc); [ "$jobs" -gt 2 ] && jobs=2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs" --target varkel-host Varkel
build/tools/varkel-host/varkel-host demo "$@"
