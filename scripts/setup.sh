#!/usr/bin/env bash
# Installs what building and testing Varkel needs on Debian 12, and any further
# packages named as arguments. Idempotent.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev
          libbenchmark-dev valgrind libsndfile1-dev lv2-dev liblilv-dev lilv-utils sordi
          ardour-lv2-plugins mda-lv2 zam-plugins x42-plugins
          libcli11-dev libfmt-dev nlohmann-json3-dev libfftw3-dev libcairo2-dev fonts-dejavu-core
          python3-pybind11 pybind11-dev python3-numpy python3-setuptools python3-pytest python3-venv
          python3-distributed python3-cryptography python3-mido openssl ccache libsoxr-dev libebur128-dev chromium sox
          "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
