#!/usr/bin/env bash
# Builds the Debian package from the build tree BUILD (default build) with
# "cpack -G DEB", unpacks it with dpkg-deb -x into a temporary root, no root
# rights needed, and runs the programs from there: qx_mis answers --help and
# serves its sample network, qx_tarn prints its usage, hyperhelp its own.
# Exits non-zero, naming what failed, when anything is missing or wrong.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")

work=$(mktemp -d /tmp/tarnwick-deb.XXXXXX)
server=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null; wait "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "check_package: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed in $build"; }
deb=$(ls "$work"/out/*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "cpack wrote no .deb in $work/out"
# Read whole before matching: grep -q stopping early would fail the pipe under pipefail.
info=$(dpkg-deb --info "$deb")
grep -q '^ Package: qx-tarn$' <<<"$info" || fail "$deb is not the package qx-tarn"
root="$work/root"
dpkg-deb -x "$deb" "$root"
usr="$root/usr"

for f in bin/qx_tarn bin/qx_mis bin/hyperhelp help/qx_help.hlp share/nls/qx.cat \
  share/mib/schema.txt share/mib/network.txt share/X11/app-defaults/QX_tarn \
  share/man/man1/qx_tarn.1 share/man/man1/qx_mis.1 share/man/man1/hyperhelp.1 \
  share/applications/qx_tarn.desktop share/icons/hicolor/48x48/apps/qx_tarn.png; do
  [ -e "$usr/$f" ] || fail "the package does not install /usr/$f"
done
grep -q '^Exec=qx_tarn' "$usr/share/applications/qx_tarn.desktop" ||
  fail "the desktop entry does not start qx_tarn"

# The programs run from the unpacked root, with nothing of the build tree
# named in their environment.
unset QX_HOME NLSPATH XFILESEARCHPATH
mis_help=$("$usr/bin/qx_mis" --help)
grep -q -- '--db' <<<"$mis_help" || fail "qx_mis --help printed no options"

status=0
"$usr/bin/qx_tarn" -help 2>"$work/usage" || status=$?
[ "$status" -eq 1 ] || fail "qx_tarn -help ended with status $status, not 1"
grep -q '^Usage: qx_tarn' "$work/usage" || fail "qx_tarn -help printed no usage"

status=0
"$usr/bin/hyperhelp" 2>"$work/hh_usage" || status=$?
[ "$status" -eq 2 ] || fail "hyperhelp without arguments ended with status $status, not 2"
grep -q '^usage: hyperhelp' "$work/hh_usage" || fail "hyperhelp printed no usage"

# qx_mis seeds a fresh database from the sample network it finds beside
# itself (/usr/share/mib) and answers a derivation of the root's children.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$usr/bin/qx_mis" --db "$work/mis.db" --listen "127.0.0.1:$port" 2>"$work/mis.log" &
server=$!
for _ in $(seq 300); do
  nc -z 127.0.0.1 "$port" 2>/dev/null && break
  kill -0 "$server" 2>/dev/null || { cat "$work/mis.log" >&2; fail "qx_mis stopped"; }
  sleep 0.1
done
# One request, read up to its answer's newline; a loaded machine may take a while.
reply=$(python3 - "$port" <<'PY'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=60)
s.sendall(b'{"jsonrpc":"2.0","id":1,"method":"derive","params":{"derivation":"/*"}}\n')
data = b""
while not data.endswith(b"\n"):
    chunk = s.recv(65536)
    if not chunk:
        break
    data += chunk
print(data.decode("utf-8", "replace").strip())
PY
) || fail "no answer from qx_mis on port $port"
case "$reply" in
  *'"id":1'*'leeds-core-1'*) ;;
  *) cat "$work/mis.log" >&2; fail "qx_mis from the package answered: $reply" ;;
esac
echo "check_package: $(basename "$deb") installs and runs from /usr (depends: $(dpkg-deb -f "$deb" Depends))"
