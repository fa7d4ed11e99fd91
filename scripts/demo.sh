#!/usr/bin/env bash
# Installs what is missing, builds, starts qx_mis on the sample network in a
# fresh data folder and opens the editor against it. Ctrl-C (or closing the
# editor) stops the server too.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"

export QX_HOME="$top/build"
export NLSPATH="$top/build/share/nls/%N"
export QX_MIS_PORT="${QX_MIS_PORT:-7130}"

data=$(mktemp -d /tmp/tarnwick-demo.XXXXXX)
echo "demo: data folder $data"
"$QX_HOME/bin/qx_mis" --db "$data/qx_mis.db" --simulate 5 2>"$data/qx_mis.log" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT INT TERM

# Wait until the server accepts connections.
for _ in $(seq 50); do
  if nc -z 127.0.0.1 "$QX_MIS_PORT" 2>/dev/null; then break; fi
  sleep 0.1
done
echo "demo: qx_mis serves the sample network on 127.0.0.1:$QX_MIS_PORT (log: $data/qx_mis.log)"

if [ -x "$QX_HOME/bin/qx_tarn" ] && [ -n "${DISPLAY:-}" ]; then
  "$QX_HOME/bin/qx_tarn" -host localhost
else
  [ -x "$QX_HOME/bin/qx_tarn" ] && echo "demo: no DISPLAY set, so the editor is not opened"
  echo "demo: talk to it with, for example:"
  echo "  echo '{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"derive\",\"params\":{\"derivation\":\"/*\"}}' | nc -q1 127.0.0.1 $QX_MIS_PORT"
  echo "demo: Ctrl-C stops the server"
  wait $server
fi
