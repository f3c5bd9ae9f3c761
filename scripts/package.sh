#!/usr/bin/env bash
# Builds the .deb (build/quelvar-server_<version>_<arch>.deb) and lists what it installs.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
(cd build && cpack -G DEB >/dev/null)
deb=$(ls -t build/quelvar-server_*.deb | head -1)
dpkg-deb --field "$deb" Package Version Depends
contents=$(dpkg-deb --contents "$deb")
echo "$contents"
# The package must carry the server, the schema, the client, the unit and the scripts.
for path in ./opt/quelvar/quelvar-server ./opt/quelvar/quelvar.sql ./usr/bin/quelvar-client \
            ./lib/systemd/system/quelvar.service; do
  grep -q " $path\$" <<<"$contents" || { echo "package lacks $path" >&2; exit 1; }
done
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)
grep -q postinst <<<"$control" || { echo "package lacks postinst" >&2; exit 1; }
echo "$deb"
