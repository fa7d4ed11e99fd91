#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the unit and
# integration tests (GUI tests under a private Xvfb display) from a sanitized build,
# and a short bounded run of each fuzz target. Exits non-zero when anything fails.
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
for f in bin/qx_mis bin/qx_tarn bin/hyperhelp share/qx-tarn/qx_help.hlp \
  share/qx-tarn/mib/schema.txt share/qx-tarn/mib/network.txt share/locale/en/LC_MESSAGES/qx.cat \
  share/locale/de/LC_MESSAGES/qx.cat share/man/man1/qx_tarn.1 share/man/man1/qx_mis.1 \
  share/man/man1/hyperhelp.1 share/X11/app-defaults/QX_tarn share/X11/app-defaults/HyperHelp \
  share/doc/qx-tarn/copyright \
  share/applications/qx_tarn.desktop share/metainfo/org.example.tarnwick.metainfo.xml \
  lib/systemd/system/qx-mis.service; do
  [ -e "$prefix/$f" ] || { echo "check: cmake --install did not write $f" >&2; exit 1; }
done
"$prefix/bin/qx_mis" --help >/dev/null
# The editor finds its German catalogue there by itself.
status=0
env -u NLSPATH -u QX_HOME -u LC_ALL -u LC_MESSAGES LANG=de_DE.UTF-8 "$prefix/bin/qx_tarn" -help \
  2>"$prefix/usage" || status=$?
[ "$status" -eq 1 ] && grep -q '^Aufruf: qx_tarn' "$prefix/usage" ||
  { echo "check: the installed qx_tarn -help printed no German usage: $(cat "$prefix/usage")" >&2; exit 1; }
rm -rf "$prefix"

# The Debian package holds the same tree under /usr, and its programs run from it.
bash scripts/check_package.sh build

# The tests run from a second build with AddressSanitizer and UndefinedBehaviorSanitizer:
# a memory fault or undefined behaviour stops the program that made it, and the test fails.
cmake -S . -B build-asan -DQX_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan -j"$jobs"

# The English catalogue for every test, whatever the locale; the German test sets its own.
export NLSPATH="$top/build-asan/share/locale/en/LC_MESSAGES/%N"
export QX_HOME="$top/build-asan"
# Leak checking stays on for every program, the GUI tests, qx_tarn and qx_mis included,
# so a leak in our own widget or editor code fails its test. tests/lsan.supp is where a
# leak of the toolkit's own would be suppressed, by function name only (see there).
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# One private X server for all GUI tests; -a picks a free display number. Tests that
# open the display take the CTest resource xdisplay, so they run one at a time.
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600

# Fuzz targets need clang's libFuzzer, so they have a build of their own.
cmake -S . -B build-fuzz -DQX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j"$jobs"
# Each target fuzzes on one core for a fixed time, so they run side by side.
ctest --test-dir build-fuzz --output-on-failure -j"$jobs" --timeout 300
