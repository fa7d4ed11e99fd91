#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the unit and
# integration tests (GUI tests under a private Xvfb display) and a short bounded
# run of each fuzz target. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

# The layer rule of the includes first: it needs no build and fails fast.
bash scripts/check_layers.sh

bash scripts/setup.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"

# The install tree has the same shape as the build tree, and its programs run from it.
prefix=$(mktemp -d /tmp/tarnwick-install.XXXXXX)
cmake --install build --prefix "$prefix" >/dev/null
for f in bin/qx_mis bin/qx_tarn bin/hyperhelp help/qx_help.hlp share/mib/schema.txt \
  share/mib/network.txt share/nls/qx.cat share/man/man1/qx_tarn.1 share/man/man1/qx_mis.1 \
  share/man/man1/hyperhelp.1; do
  [ -e "$prefix/$f" ] || { echo "check: cmake --install did not write $f" >&2; exit 1; }
done
"$prefix/bin/qx_mis" --help >/dev/null
rm -rf "$prefix"

export NLSPATH="$top/build/share/nls/%N"
export QX_HOME="$top/build"
# One private X server for all GUI tests; -a picks a free display number.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  ctest --test-dir build --output-on-failure -j"$jobs" --timeout 600

# Fuzz targets need clang's libFuzzer, so they have a build of their own.
cmake -S . -B build-fuzz -DQX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j"$jobs"
ctest --test-dir build-fuzz --output-on-failure --timeout 300
