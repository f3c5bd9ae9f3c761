#!/usr/bin/env bash
# Saves per second of new materials from 8 concurrent clients against a
# server on a fresh database, each call on a connection of its own. Prints
# figures and the count of materials the database holds afterwards; asserts
# nothing. Loopback only.
# Usage: bench/material_saves.sh [server-binary [driver-binary]]
#   (defaults build/quelvar-server and build/bench/material_saves_bench)
#   CLIENTS=n (default 8), SECONDS_OF_LOAD=s (default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install_missing.sh sqlite3
server_bin=$(realpath "${1:-build/quelvar-server}")
driver_bin=$(realpath "${2:-build/bench/material_saves_bench}")
clients="${CLIENTS:-8}"
seconds="${SECONDS_OF_LOAD:-10}"

work=$(mktemp -d)
server_pid=
cleanup() { [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/prog" "$work/run"
cp "$server_bin" "$work/prog/quelvar-server"
db="$work/prog/QuelvarDB.db3"
printf '[INDICE]\nLocalQuelvarDB=%s\nPorta=%s\n' "$db" "$port" > "$work/prog/Config1.ini"
XDG_RUNTIME_DIR="$work/run" "$work/prog/quelvar-server" --headless --create-database >/dev/null 2>"$work/stderr" &
server_pid=$!
for _ in $(seq 100); do (echo > "/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
sqlite3 "$db" "Insert Into T06_GRUP (T06_NumGrupo, T06_Grupo) Values (1, 'Ferragens')"

"$driver_bin" --port "$port" --clients "$clients" --seconds "$seconds" | tee "$work/driver.out"
echo "materials in the database: $(sqlite3 "$db" 'Select Count(*) From T04_MATE')"
