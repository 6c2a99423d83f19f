#!/usr/bin/env bash
# Measures what Varkel costs per channel-sample, in one run on this machine:
# the processor against a plain model of the same chain (Google Benchmark),
# then Varkel next to two of Debian's saturation plug-ins through the same
# host (varkel-host bench). Prints one table; ratios are against the plain
# model. Not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
if ! dpkg-query -W -f='${Status}' zam-plugins 2>/dev/null | grep -q "install ok installed"; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq zam-plugins >/dev/null || true
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARKEL_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build >/dev/null

seconds=${BENCH_SECONDS:-20}
csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
build/bench/varkel_benchmarks --benchmark_format=csv --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true 2>/dev/null > "$csv"

host_ns() {  # plug-in path, block, precision -> ns per channel-sample
  build/tools/varkel-host/varkel-host bench --plugin "$1" --seconds "$seconds" --block "$2" \
    --precision "$3" 2>/dev/null | sed -n 's/.*: \([0-9.]*\) ns per channel-sample.*/\1/p'
}

echo "Varkel benchmark, $(date -u +%Y-%m-%d), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo
awk -F, '
  /_median"?,/ {
    name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
    if ($7 != "") ns[name] = 1e9 / $7
    else build = $4 " " $5
    order[++n] = name
  }
  END {
    plain = ns["PlainModel"]
    printf "%-34s %14s %10s\n", "case (Google Benchmark, median of 3)", "ns/ch-sample", "vs plain"
    for (i = 1; i <= n; i++) {
      c = order[i]
      if (c in ns) printf "%-34s %14.2f %9.1fx\n", c, ns[c], plain / ns[c]
    }
    if (build != "") printf "%-34s %14s\n", "NoiseTableBuild (once per process)", build
  }' "$csv"

plain=$(awk -F, '/PlainModel_median/ {print 1e9 / $7}' "$csv")
echo
printf "%-34s %14s %10s\n" "varkel-host bench, ${seconds} s, block 512" "ns/ch-sample" "vs plain"
for p in build/plugin/Varkel.so /usr/lib/vst/ZamAutoSat-vst.so /usr/lib/vst/ZamTube-vst.so; do
  [ -f "$p" ] || continue
  ns=$(host_ns "$p" 512 32)
  [ -n "$ns" ] || continue
  awk -v n="$(basename "$p")" -v ns="$ns" -v plain="$plain" \
    'BEGIN { printf "%-34s %14.2f %9.1fx\n", n, ns, plain / ns }'
done
