#!/usr/bin/env bash
# Builds the Debian package from the build tree BUILD (default build) with
# "cpack -G DEB" and checks it as Debian would: lintian (no error, no warning),
# desktop-file-validate on the desktop entry, appstreamcli validate on the
# metainfo, systemd-analyze verify on the service (and its security verdict
# shown). Then it unpacks the package with dpkg-deb -x into a temporary root,
# no root rights needed, and runs the programs from there in English and in
# German: qx_mis answers --help and serves its sample network, keeps an
# answered write over a SIGTERM stop, qx_tarn prints its usage, hyperhelp its own.
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
need() { command -v "$1" >/dev/null || fail "$1 is missing (scripts/setup.sh installs it)"; }
for tool in cpack dpkg-deb lintian desktop-file-validate appstreamcli systemd-analyze; do need "$tool"; done

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed in $build"; }
deb=$(ls "$work"/out/*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "cpack wrote no .deb in $work/out"
# Read whole before matching: grep -q stopping early would fail the pipe under pipefail.
info=$(dpkg-deb --info "$deb")
grep -q '^ Package: qx-tarn$' <<<"$info" || fail "$deb is not the package qx-tarn"

# lintian prints every tag it finds (information and pedantic ones too, for
# the record); an error or a warning fails the check.
lintian_status=0
lintian --fail-on error,warning --display-info --pedantic "$deb" >"$work/lintian.log" 2>&1 ||
  lintian_status=$?
if [ -s "$work/lintian.log" ]; then sed 's/^/lintian: /' "$work/lintian.log"; else echo "lintian: no tags"; fi
[ "$lintian_status" -eq 0 ] || fail "lintian found errors or warnings in $(basename "$deb")"

root="$work/root"
dpkg-deb -x "$deb" "$root"
usr="$root/usr"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles >"$work/conffiles" ||
  fail "the package has no conffiles"
for app_class in QX_tarn HyperHelp; do
  grep -qx "/etc/X11/app-defaults/$app_class" "$work/conffiles" ||
    fail "the app-defaults file $app_class is not a conffile"
done

for f in usr/bin/qx_tarn usr/bin/qx_mis usr/bin/hyperhelp usr/share/qx-tarn/qx_help.hlp \
  usr/share/qx-tarn/mib/schema.txt usr/share/qx-tarn/mib/network.txt \
  usr/share/locale/en/LC_MESSAGES/qx.cat usr/share/locale/de/LC_MESSAGES/qx.cat \
  etc/X11/app-defaults/QX_tarn etc/X11/app-defaults/HyperHelp usr/lib/systemd/system/qx-mis.service \
  usr/share/man/man1/qx_tarn.1.gz usr/share/man/man1/qx_mis.1.gz usr/share/man/man1/hyperhelp.1.gz \
  usr/share/doc/qx-tarn/copyright usr/share/doc/qx-tarn/changelog.Debian.gz \
  usr/share/applications/qx_tarn.desktop usr/share/icons/hicolor/48x48/apps/qx_tarn.png \
  usr/share/metainfo/org.example.tarnwick.metainfo.xml; do
  [ -e "$root/$f" ] || fail "the package does not install /$f"
done
grep -q '^Exec=qx_tarn' "$usr/share/applications/qx_tarn.desktop" ||
  fail "the desktop entry does not start qx_tarn"

# The desktop's own tools: a hint or a warning counts as a fault too.
desktop=$(desktop-file-validate "$usr/share/applications/qx_tarn.desktop" 2>&1) ||
  fail "desktop-file-validate: $desktop"
[ -z "$desktop" ] || fail "desktop-file-validate: $desktop"
echo "desktop-file-validate: qx_tarn.desktop is valid"
appstreamcli validate --no-net --pedantic "$usr/share/metainfo/org.example.tarnwick.metainfo.xml" \
  >"$work/appstream.log" 2>&1 || { cat "$work/appstream.log" >&2; fail "appstreamcli validate failed"; }
sed 's/^/appstreamcli: /' "$work/appstream.log"

# The service: verify checks its keys, its program and its manual page (the
# unit's copy runs the unpacked program, man reads the unpacked pages); a
# warning fails too. The security verdict is shown, not judged.
unit="$root/usr/lib/systemd/system/qx-mis.service"
sed "s|^ExecStart=/usr/bin/|ExecStart=$usr/bin/|" "$unit" >"$work/qx-mis.service"
MANPATH="$usr/share/man" systemd-analyze verify "$work/qx-mis.service" >"$work/verify.log" 2>&1 ||
  { cat "$work/verify.log" >&2; fail "systemd-analyze verify rejects qx-mis.service"; }
[ ! -s "$work/verify.log" ] || { cat "$work/verify.log" >&2; fail "systemd-analyze verify warns"; }
echo "systemd-analyze verify: qx-mis.service is valid"
if systemd-analyze security --offline=yes --root="$root" "$unit" >"$work/security.log" 2>&1; then
  grep -i 'overall exposure' "$work/security.log" | sed 's/^ *\(→ \)\?/systemd-analyze security: /'
else
  echo "systemd-analyze security could not run here: $(tail -1 "$work/security.log")"
fi

# The programs run from the unpacked root, with nothing of the build tree
# named in their environment, in the C locale and in German. The help viewer
# has no catalogue: its usage is English in both.
unset QX_HOME NLSPATH XFILESEARCHPATH LC_ALL LC_MESSAGES LANGUAGE
mis_help=$("$usr/bin/qx_mis" --help)
grep -q -- '--db' <<<"$mis_help" || fail "qx_mis --help printed no options"

for lang in C de_DE.UTF-8; do
  case $lang in
    C) first='^Usage: qx_tarn' ;;
    *) first='^Aufruf: qx_tarn' ;;
  esac
  status=0
  LANG=$lang "$usr/bin/qx_tarn" -help 2>"$work/usage" || status=$?
  [ "$status" -eq 1 ] || fail "LANG=$lang qx_tarn -help ended with status $status, not 1"
  grep -q "$first" "$work/usage" || fail "LANG=$lang qx_tarn -help printed: $(cat "$work/usage")"

  status=0
  LANG=$lang "$usr/bin/hyperhelp" 2>"$work/hh_usage" || status=$?
  [ "$status" -eq 2 ] || fail "LANG=$lang hyperhelp without arguments ended with status $status, not 2"
  grep -q '^usage: hyperhelp' "$work/hh_usage" || fail "LANG=$lang hyperhelp printed no usage"
done

# One JSON-RPC request to the server on port $port, read up to its answer's
# newline; a loaded machine may take a while.
ask() {
  python3 - "$port" "$1" <<'PY'
import socket, sys
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=60)
s.sendall(sys.argv[2].encode() + b"\n")
data = b""
while not data.endswith(b"\n"):
    chunk = s.recv(65536)
    if not chunk:
        break
    data += chunk
print(data.decode("utf-8", "replace").strip())
PY
}
start_server() {
  "$usr/bin/qx_mis" --db "$work/mis.db" --listen "127.0.0.1:$port" >>"$work/mis.log" 2>&1 &
  server=$!
  for _ in $(seq 300); do
    nc -z 127.0.0.1 "$port" 2>/dev/null && return 0
    kill -0 "$server" 2>/dev/null || { cat "$work/mis.log" >&2; fail "qx_mis stopped"; }
    sleep 0.1
  done
  fail "qx_mis does not listen on port $port"
}

# qx_mis seeds a fresh database from the sample network it finds beside
# itself (/usr/share/qx-tarn/mib) and answers a derivation of the root's children.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
start_server
reply=$(ask '{"jsonrpc":"2.0","id":1,"method":"derive","params":{"derivation":"/*"}}') ||
  fail "no answer from qx_mis on port $port"
case "$reply" in
  *'"id":1'*'leeds-core-1'*) ;;
  *) cat "$work/mis.log" >&2; fail "qx_mis from the package answered: $reply" ;;
esac

# The service's stop: a write answered, then SIGTERM; the server ends with 0
# and the write is there when it starts again.
element='/systemId=\"leeds-core-1\"'
reply=$(ask '{"jsonrpc":"2.0","id":2,"method":"set","params":{"name":"'"$element"'","values":{"userLabel":"kept over SIGTERM"}}}')
case "$reply" in *'"id":2'*'"result"'*) ;; *) fail "set answered: $reply" ;; esac
kill -TERM "$server"
status=0
wait "$server" || status=$?
server=
[ "$status" -eq 0 ] || { cat "$work/mis.log" >&2; fail "qx_mis ended with status $status on SIGTERM"; }
start_server
reply=$(ask '{"jsonrpc":"2.0","id":3,"method":"get","params":{"name":"'"$element"'"}}')
case "$reply" in
  *'kept over SIGTERM'*) ;;
  *) fail "the write answered before SIGTERM is gone: $reply" ;;
esac
echo "check_package: $(basename "$deb") passes lintian and runs from /usr (depends: $(dpkg-deb -f "$deb" Depends))"
