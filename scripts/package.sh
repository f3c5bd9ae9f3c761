#!/usr/bin/env bash
# Builds the packages into build/ and checks them:
#   quelvar-server_<version>_<arch>.deb         the headless service (no Qt)
#   quelvar-server-window_<version>_<arch>.deb  the server with its window
# Checked: contents, owners and modes; stripped programs; dependencies (no Qt
# in the service package); the maintainer scripts; lintian (no errors); the
# unit's options and its hardening (`systemd-analyze security` exposure at
# most 3.0); and the packaged server itself, started on a data folder of its
# own, listening on loopback only on QUELVAR_PACKAGE_CHECK_PORT (default: a
# free port).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install_missing.sh dpkg-dev fakeroot curl binutils lintian
./scripts/build.sh quelvar-server quelvar-server-headless quelvar-client
rm -f build/quelvar-server_*.deb build/quelvar-server-window_*.deb
(cd build && cpack -G DEB >/dev/null)

fail() { echo "package check failed: $*" >&2; exit 1; }
server=$(ls build/quelvar-server_*.deb)
window=$(ls build/quelvar-server-window_*.deb 2>/dev/null || true)

dpkg-deb --field "$server" Package Version Depends
contents=$(dpkg-deb --contents "$server")
echo "$contents"

# Path, mode and owner of what the service package installs: all root's.
while read -r mode path; do
  line=$(awk -v p="$path" '$6 == p' <<<"$contents")
  [ -n "$line" ] || fail "the package lacks $path"
  [ "$(awk '{print $1 " " $2}' <<<"$line")" = "$mode root/root" ] || fail "$path is not $mode root/root: $line"
done <<'LIST'
drwxr-xr-x ./usr/lib/quelvar/
-rwxr-xr-x ./usr/lib/quelvar/quelvar-server
-rw-r--r-- ./usr/share/quelvar/quelvar.sql
-rwxr-xr-x ./usr/bin/quelvar-client
-rw-r--r-- ./lib/systemd/system/quelvar.service
-rw-r--r-- ./usr/share/doc/quelvar-server/copyright
-rw-r--r-- ./usr/share/doc/quelvar-server/changelog.gz
LIST
grep -q ' \./usr/bin/quelvar-server -> \.\./lib/quelvar/quelvar-server$' <<<"$contents" ||
  fail "the command quelvar-server is not a link to the program"
grep -q ' \./opt/' <<<"$contents" && fail "the package installs into /opt"
awk '$1 !~ /^l/ {print $1}' <<<"$contents" | grep -q '^........w' && fail "a file of the package is writable by everyone"
grep -q ' \./var/' <<<"$contents" && fail "data files belong to the service user, not to the package"

# Qt only in the window package.
depends=$(dpkg-deb --field "$server" Depends)
grep -qi 'qt' <<<"$depends" && fail "the service package depends on Qt: $depends"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$server" "$unpacked/root"
readelf -d "$unpacked/root/usr/lib/quelvar/quelvar-server" | grep NEEDED | grep -qi qt && fail "the service binary links Qt"
stripped() { ! readelf -S "$1" | grep -q ' \.symtab '; }
for program in usr/lib/quelvar/quelvar-server usr/bin/quelvar-client; do
  stripped "$unpacked/root/$program" || fail "$program is not stripped"
done
if [ -n "$window" ]; then
  dpkg-deb --field "$window" Package Version Depends
  dpkg-deb --field "$window" Depends | grep -q 'quelvar-server (=' || fail "the window package does not depend on the server"
  window_contents=$(dpkg-deb --contents "$window")
  echo "$window_contents"
  for path in ./usr/lib/quelvar/quelvar-server-window ./usr/bin/quelvar-server-window \
              ./usr/share/applications/quelvar-server-window.desktop \
              ./usr/share/icons/hicolor/scalable/apps/quelvar-server.svg \
              ./usr/share/doc/quelvar-server-window/copyright; do
    awk -v p="$path" '$6 == p' <<<"$window_contents" | grep -q . || fail "the window package lacks $path"
  done
  dpkg-deb -x "$window" "$unpacked/window"
  stripped "$unpacked/window/usr/lib/quelvar/quelvar-server-window" || fail "the window program is not stripped"
  launcher="$unpacked/window/usr/bin/quelvar-server-window"
  sh -n "$launcher" || fail "the window's launcher is not valid shell"
  grep -q 'XDG_DATA_HOME:-$HOME/.local/share}/quelvar' "$launcher" || fail "the launcher does not use the user's data folder"
  grep -qx 'Exec=quelvar-server-window' "$unpacked/window/usr/share/applications/quelvar-server-window.desktop" ||
    fail "the desktop launcher does not start the window's command"
fi

# lintian: no errors (warnings are fixed or overridden, with the reason, in packaging/).
lintian_out=$(lintian --tag-display-limit 0 "$server" ${window:+"$window"} 2>&1 || true)
echo "$lintian_out"
grep -q '^E: ' <<<"$lintian_out" && fail "lintian reports errors"

# Maintainer scripts: present, valid shell, and what Debian practice asks of them.
control=$(dpkg-deb --ctrl-tarfile "$server" | tar -t)
dpkg-deb -e "$server" "$unpacked/control"
for script in postinst prerm postrm; do
  grep -qx "./$script" <<<"$control" || fail "the package lacks $script"
  sh -n "$unpacked/control/$script" || fail "$script is not valid shell"
done
grep -q 'install -d -o quelvar -g quelvar -m 0750' "$unpacked/control/postinst" || fail "postinst does not make the data folder 0750"
grep -q 'chmod 0640' "$unpacked/control/postinst" || fail "postinst does not make the data files 0640"
grep -q 'chown -R\|chmod -R' "$unpacked/control/postinst" && fail "postinst changes owners or modes recursively"
for script in postinst prerm postrm; do
  grep -v 'daemon-reload' "$unpacked/control/$script" | grep -q '^[^#]*systemctl ' &&
    fail "$script calls systemctl instead of deb-systemd-helper/deb-systemd-invoke"
done
grep -q 'deb-systemd-helper enable' "$unpacked/control/postinst" || fail "postinst does not enable the unit"
awk '/"purge"/,/^fi$/' "$unpacked/control/postrm" | grep -q 'deluser --system' || fail "purge does not remove the system user"

# The unit: the options asked for, and the exposure systemd rates.
unit="$unpacked/root/lib/systemd/system/quelvar.service"
for option in 'NoNewPrivileges=yes' 'ProtectSystem=strict' 'ReadWritePaths=/var/lib/quelvar' 'PrivateTmp=yes' \
              'ProtectHome=yes' 'UMask=0027' 'User=quelvar' 'KillSignal=SIGTERM'; do
  grep -qx "$option" "$unit" || fail "the unit lacks $option"
done
grep -q '^ExecStart=/usr/lib/quelvar/quelvar-server .*--data-folder /var/lib/quelvar' "$unit" || fail "the unit does not use /var/lib/quelvar"
grep -q '^ExecStart=.*--no-self-update' "$unit" || fail "the self-update is not off in the unit"
if systemd-analyze security --help 2>/dev/null | grep -q -- '--offline'; then
  systemd-analyze security --offline=true --no-pager "$unit" | tail -1
  systemd-analyze security --offline=true --threshold=30 --no-pager "$unit" >/dev/null ||
    fail "the unit's exposure is above 3.0"
else
  echo "systemd-analyze without --offline: the exposure is not rated here"
fi

# The packaged server on a data folder of its own, with the unit's umask.
data="$unpacked/data"
mkdir -m 0750 "$data"
port="${QUELVAR_PACKAGE_CHECK_PORT:-$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')}"
[[ "$port" =~ ^[0-9]+$ ]] && ((port >= 1 && port <= 65535)) || fail "QUELVAR_PACKAGE_CHECK_PORT is not a port: $port"
# Loopback only: the check never listens where another machine could reach it.
printf '[INDICE]\nLocalQuelvarDB=QuelvarDB.db3\nPorta=%s\nEndereco=127.0.0.1\n' "$port" >"$data/Config1.ini"
(umask 0027; XDG_RUNTIME_DIR="$data" exec "$unpacked/root/usr/lib/quelvar/quelvar-server" --headless --create-database \
   --data-folder "$data" --no-self-update >"$unpacked/server.out" 2>"$unpacked/server.err") &
pid=$!
health=""
for _ in $(seq 100); do
  health=$(curl -s -u varosa:quibet4693 "http://127.0.0.1:$port/healthz" || true)
  [ "$health" = ok ] && break
  sleep 0.1
done
kill -TERM "$pid"
wait "$pid" || fail "the packaged server did not stop with code 0"
[ "$health" = ok ] || fail "the packaged server is not healthy: $health $(cat "$unpacked/server.err")"
[ "$(stat -c %a "$data/QuelvarDB.db3")" = 640 ] || fail "the database is not 0640"
grep -q "database $data/QuelvarDB.db3" "$unpacked/server.err" || fail "the database is not in the data folder"

echo "$server"
[ -z "$window" ] || echo "$window"
