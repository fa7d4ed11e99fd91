#!/usr/bin/env bash
# Installs what is missing, builds, starts qx_mis on the sample network in a
# fresh data folder and opens the editor against it. Ctrl-C (or closing the
# editor) stops the server too.
#   --ldap  a private slapd instead (a configuration of its own in the data
#           folder, mdb with syncprov, port $QX_LDAP_PORT or 3890) on a sample
#           directory: people, groups, hosts and ou=bulk with 100,000 entries.
#   --ldap-replicas
#           two such slapd providers replicating each other (multi-provider
#           syncrepl; ports $QX_LDAP_PORT and the next one), on the sample
#           directory without ou=bulk, and an editor on each: a change made
#           through one shows in the other.
set -euo pipefail
mode=mis
[ "${1:-}" = "--ldap" ] && mode=ldap
[ "${1:-}" = "--ldap-replicas" ] && mode=replicas
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

# slapd_conf DIR [SERVER_ID OTHER_PORT]: a configuration in DIR, mode 0600 as
# it holds the manager's password (which a replica also uses to read the other
# provider).
slapd_conf() {
  mkdir -p "$1/db"
  {
    printf 'include /etc/ldap/schema/%s.schema\n' core cosine inetorgperson
    printf 'modulepath /usr/lib/ldap\nmoduleload back_mdb\nmoduleload syncprov\n'
    if [ -n "${2:-}" ]; then printf 'serverID %s\n' "$2"; fi
    cat <<EOF
pidfile $1/slapd.pid
database mdb
suffix "dc=example,dc=org"
rootdn "cn=admin,dc=example,dc=org"
rootpw secret
directory $1/db
maxsize 1073741824
index objectClass,entryCSN,entryUUID eq
limits * size.prtotal=unlimited
EOF
    if [ -n "${2:-}" ]; then
      printf 'syncrepl rid=%s provider=ldap://127.0.0.1:%s bindmethod=simple' "$2" "$3"
      printf ' binddn="cn=admin,dc=example,dc=org" credentials=secret'
      printf ' searchbase="dc=example,dc=org" type=refreshAndPersist retry="1 +" timeout=3\n'
      printf 'multiprovider on\n'
    fi
    printf 'overlay syncprov\n'
  } >"$1/slapd.conf"
  chmod 600 "$1/slapd.conf"
}

# sample_ldif FILE BULK: the sample directory, with BULK entries below ou=bulk.
sample_ldif() {
  python3 - "$1" "$2" <<'EOF'
import sys
out = open(sys.argv[1], "w")
bulk = int(sys.argv[2])
def entry(dn, *lines):
    out.write("dn: %s\n%s\n\n" % (dn, "\n".join(lines)))
base = "dc=example,dc=org"
entry(base, "objectClass: dcObject", "objectClass: organization", "dc: example", "o: Example")
for ou in ("people", "groups", "hosts") + (("bulk",) if bulk else ()):
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
for i in range(bulk):
    entry("cn=e%d,ou=bulk,%s" % (i, base), "objectClass: device", "cn: e%d" % i)
EOF
}

servers=()
trap 'kill "${servers[@]}" 2>/dev/null; wait 2>/dev/null || true' EXIT INT TERM
# start_slapd DIR PORT: slapd in the foreground of a background job; waits for its port.
start_slapd() {
  slapd -d 0 -f "$1/slapd.conf" -h "ldap://127.0.0.1:$2/" 2>"$1/slapd.log" &
  servers+=($!)
  for _ in $(seq 100); do
    if nc -z 127.0.0.1 "$2" 2>/dev/null; then break; fi
    sleep 0.1
  done
  echo "demo: slapd serves dc=example,dc=org on ldap://127.0.0.1:$2 (log: $1/slapd.log)"
}

if [ "$mode" = ldap ] || [ "$mode" = replicas ]; then
  port="${QX_LDAP_PORT:-3890}"
  if [ "$mode" = ldap ]; then
    slapd_conf "$data/one"
    sample_ldif "$data/data.ldif" 100000
  else
    slapd_conf "$data/one" 1 $((port + 1))
    slapd_conf "$data/two" 2 "$port"
    sample_ldif "$data/data.ldif" 0
  fi
  slapadd -q -w -f "$data/one/slapd.conf" -l "$data/data.ldif"
  start_slapd "$data/one" "$port"
  urls=("ldap://127.0.0.1:$port")
  if [ "$mode" = replicas ]; then
    # The second starts empty and copies the first.
    start_slapd "$data/two" $((port + 1))
    urls+=("ldap://127.0.0.1:$((port + 1))")
    sleep 1
  fi
  if [ -x "$QX_HOME/bin/qx_tarn" ] && [ -n "${DISPLAY:-}" ]; then
    editors=()
    for url in "${urls[@]}"; do
      "$QX_HOME/bin/qx_tarn" -host "$url" -root /dc=example,dc=org &
      editors+=($!)
    done
    wait "${editors[@]}" || true
  else
    echo "demo: no DISPLAY set, so the editor is not opened; try:"
    echo "  ldapsearch -x -H ${urls[0]} -b ou=people,dc=example,dc=org -s one -LLL dn"
    echo "demo: Ctrl-C stops the server"
    wait
  fi
  exit 0
fi
"$QX_HOME/bin/qx_mis" --db "$data/qx_mis.db" --simulate 5 2>"$data/qx_mis.log" &
server=$!
servers+=($server)

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
