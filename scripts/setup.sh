#!/usr/bin/env bash
# Installs every Debian package that building, running the demo and running the tests need.
# Idempotent: packages already present are left alone and apt is not touched at all when
# nothing is missing. Must run as root (or through sudo).
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  clang libclang-rt-14-dev            # libFuzzer targets
  libgtest-dev libgmock-dev           # unit and integration tests
  libmotif-dev libxt-dev libx11-dev libxext-dev libxpm-dev x11proto-dev
  libxft-dev                          # anti-aliased fonts in Motif's render tables
  libxcomposite-dev                   # widget tests read back drawings off screen
  libxfixes-dev                       # the busy-cursor test reads back the shown cursor
  nlohmann-json3-dev libsqlite3-dev sqlite3
  libsodium-dev                       # qx_mis's Argon2id password hashes
  libssl-dev                          # TLS in qx_mis and KVL (OpenSSL)
  libldap-dev                         # KVL's LDAP transport (OpenLDAP's libldap)
  libgnutls28-dev openssl             # why a directory's certificate fails; test certificates
  slapd ldap-utils                    # the tests' private directory server and its client tools
  libc-bin                            # gencat for the message catalogue
  xvfb xauth x11-utils xdotool imagemagick
  netcat-openbsd procps psmisc python3
  dpkg-dev file                       # cpack -G DEB and its shared-library dependencies
  lintian                             # the package check
  desktop-file-utils appstream        # desktop-file-validate, appstreamcli validate
  systemd                             # systemd-analyze verify and security on the service
  locales                             # localedef, for the German test's de_DE.UTF-8
  fonts-dejavu-core xfonts-base xfonts-75dpi xfonts-100dpi
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
else
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The editor's German catalogue is chosen through the locale, which the C
# library has only once it is generated.
if ! locale -a 2>/dev/null | grep -qx 'de_DE\.utf8'; then
  echo "setup: generating the locale de_DE.UTF-8"
  $sudo localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
