#!/usr/bin/env bash
# Installs what is missing, builds, starts qx_mis on the sample network in a
# fresh data folder and opens the editor against it. Ctrl-C (or closing the
# editor) stops the server too.
#   --ldap  a private slapd instead (a configuration of its own in the data
#           folder, mdb with syncprov, port $QX_LDAP_PORT or 3890) on a sample
#           directory: people, groups, hosts and ou=bulk with 100,000 entries.
set -euo pipefail
mode=mis
[ "${1:-}" = "--ldap" ] && mode=ldap
cd "$(dirname "$0")/.."
top=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"

export QX_HOME="$top/build"
# NLSPATH is left to the editor, which picks the catalogue of the user's language.
unset NLSPATH
export QX_MIS_PORT="${QX_MIS_PORT:-7130}"

data=$(mktemp -d /tmp/tarnwick-demo.XXXXXX)
echo "demo: data folder $data"

if [ "$mode" = ldap ]; then
  port="${QX_LDAP_PORT:-3890}"
  mkdir "$data/db"
  cat >"$data/slapd.conf" <<EOF
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/inetorgperson.schema
modulepath /usr/lib/ldap
moduleload back_mdb
moduleload syncprov
pidfile $data/slapd.pid
database mdb
suffix "dc=example,dc=org"
rootdn "cn=admin,dc=example,dc=org"
rootpw secret
directory $data/db
maxsize 1073741824
index objectClass,entryCSN,entryUUID eq
limits * size.prtotal=unlimited
overlay syncprov
EOF
  python3 - "$data/data.ldif" <<'EOF'
import sys
out = open(sys.argv[1], "w")
def entry(dn, *lines):
    out.write("dn: %s\n%s\n\n" % (dn, "\n".join(lines)))
base = "dc=example,dc=org"
entry(base, "objectClass: dcObject", "objectClass: organization", "dc: example", "o: Example")
for ou in ("people", "groups", "hosts", "bulk"):
    entry("ou=%s,%s" % (ou, base), "objectClass: organizationalUnit", "ou: " + ou)
for uid, cn, sn in (("ann", "Ann Archer", "Archer"), ("bob", "Bob Baker", "Baker"),
                    ("cho", "Cho Chen", "Chen")):
    entry("uid=%s,ou=people,%s" % (uid, base), "objectClass: inetOrgPerson", "uid: " + uid,
          "cn: " + cn, "sn: " + sn, "mail: %s@example.org" % uid)
entry("cn=admins,ou=groups," + base, "objectClass: groupOfNames", "cn: admins",
      "member: uid=ann,ou=people," + base)
for h in ("leeds", "york", "hull"):
    entry("cn=%s,ou=hosts,%s" % (h, base), "objectClass: device", "cn: " + h)
entry("cn=core,ou=hosts," + base, "objectClass: alias", "objectClass: extensibleObject",
      "cn: core", "aliasedObjectName: cn=leeds,ou=hosts," + base)
entry("ou=branch,ou=hosts," + base, "objectClass: referral", "objectClass: extensibleObject",
      "ou: branch", "ref: ldap://branch.example.org/ou=hosts,dc=branch,dc=example,dc=org")
for i in range(100000):
    entry("cn=e%d,ou=bulk,%s" % (i, base), "objectClass: device", "cn: e%d" % i)
EOF
  slapadd -q -f "$data/slapd.conf" -l "$data/data.ldif"
  slapd -d 0 -f "$data/slapd.conf" -h "ldap://127.0.0.1:$port/" 2>"$data/slapd.log" &
  server=$!
  trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT INT TERM
  for _ in $(seq 100); do
    if nc -z 127.0.0.1 "$port" 2>/dev/null; then break; fi
    sleep 0.1
  done
  echo "demo: slapd serves dc=example,dc=org on ldap://127.0.0.1:$port (log: $data/slapd.log)"
  if [ -x "$QX_HOME/bin/qx_tarn" ] && [ -n "${DISPLAY:-}" ]; then
    "$QX_HOME/bin/qx_tarn" -host "ldap://127.0.0.1:$port" -root /dc=example,dc=org
  else
    echo "demo: no DISPLAY set, so the editor is not opened; try:"
    echo "  ldapsearch -x -H ldap://127.0.0.1:$port -b ou=people,dc=example,dc=org -s one -LLL dn"
    echo "demo: Ctrl-C stops the server"
    wait $server
  fi
  exit 0
fi
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
