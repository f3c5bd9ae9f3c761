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

source bench/fresh_server.sh
start_fresh_server "$server_bin"
sqlite3 "$db" "Insert Into T06_GRUP (T06_NumGrupo, T06_Grupo) Values (1, 'Ferragens')"

"$driver_bin" --port "$port" --clients "$clients" --seconds "$seconds" | tee "$work/driver.out"
echo "materials in the database: $(sqlite3 "$db" 'Select Count(*) From T04_MATE')"
