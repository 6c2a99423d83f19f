#!/usr/bin/env bash
# Builds the Debian package (build-pkg/varkel_<version>_<arch>.deb) as
# docs/installing.md describes, checks that it holds what an installation needs,
# and runs lintian on it. Exits non-zero on a missing file or any lintian error or
# warning.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh lintian

jobs=$(nproc); [ "$jobs" -gt 2 ] && jobs=2

echo "== release build and package"
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARKEL_WERROR=ON -DBUILD_TESTING=OFF \
  -DVARKEL_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-pkg -j"$jobs"
rm -f build-pkg/*.deb
(cd build-pkg && cpack -G DEB)

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; }

debs=(build-pkg/*.deb)
if [ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ]; then
  deb=${debs[0]}
  pass "package $deb"
else
  fail "cpack made no single package: ${debs[*]}"
  echo "package: $passed passed, $failed failed"
  exit 1
fi

echo "== contents"
contents=$(dpkg-deb -c "$deb" | awk '{ print $NF }')
for path in ./usr/bin/varkel-host ./usr/lib/varkel/varkel-plugin-host \
            ./usr/lib/python3/dist-packages/varkel/varkel-plugin-host ./usr/lib/vst/Varkel.so ./usr/lib/lv2/Varkel.lv2/Varkel.so \
            ./usr/lib/lv2/Varkel.lv2/manifest.ttl ./usr/lib/lv2/Varkel.lv2/Varkel.ttl \
            ./usr/lib/lv2/Varkel.lv2/presets.ttl ./usr/lib/python3/dist-packages/varkel/__init__.py \
            ./usr/lib/python3/dist-packages/varkel/cluster/__main__.py \
            ./usr/share/man/man1/varkel-host.1.gz ./usr/share/doc/varkel/copyright \
            ./usr/share/doc/varkel/changelog.gz; do
  if grep -qx -- "$path" <<<"$contents"; then pass "$path"; else fail "$path missing"; fi
done

echo "== the Python module, installed into a scratch root"
root=$(mktemp -d)
dpkg-deb -x "$deb" "$root"
if PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
    "import numpy, varkel; v = varkel.Varkel(44100); assert v.process(numpy.zeros((2, 64), numpy.float32)).shape == (2, 64)"; then
  pass "python3 imports varkel from the package"
else
  fail "python3 cannot use varkel from the package"
fi
rm -rf "$root"

echo "== lintian"
if lintian --fail-on error,warning --display-info "$deb"; then
  pass "lintian: no errors or warnings"
else
  fail "lintian reports errors or warnings"
fi

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
