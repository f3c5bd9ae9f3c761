#!/usr/bin/env bash
# Saves per second of new materials from 8 concurrent clients against a
# server on a database already holding 20,000 materials, each call on a
# connection of its own. With OLD_SERVER set, the same load runs against that
# binary too, in alternating rounds of the same run, and medians of both are
# printed side by side. Also prints the size of the write-ahead log after
# each round (the checkpoints keep it bounded). Prints figures; asserts
# nothing. Loopback only.
# Usage: bench/material_saves.sh [server-binary [driver-binary]]
#   (defaults build/quelvar-server and build/bench/material_saves_bench)
#   CLIENTS=n (default 8), SECONDS_OF_LOAD=s (default 10), ROUNDS=n (default 3)
#   OLD_SERVER=path   a second server binary to compare with (e.g. one built
#                     from an earlier commit)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install_missing.sh sqlite3
server_bin=$(realpath "${1:-build/quelvar-server}")
driver_bin=$(realpath "${2:-build/bench/material_saves_bench}")
clients="${CLIENTS:-8}"
seconds="${SECONDS_OF_LOAD:-10}"
rounds="${ROUNDS:-3}"
old_bin=
[[ -n ${OLD_SERVER:-} ]] && old_bin=$(realpath "$OLD_SERVER")

source bench/fresh_server.sh

# One round against binary $2, labelled $1: a fresh database with 20 groups
# and 20,000 materials, the load, then the server stopped.
run_round() {
  start_fresh_server "$2"
  seed_saves_database
  echo "== $1 ($2)"
  "$driver_bin" --port "$port" --clients "$clients" --seconds "$seconds" | grep -v '^keys ' | tee "$work/$1.out"
  local wal=0
  [[ -f "$db-wal" ]] && wal=$(stat -c %s "$db-wal")
  echo "materials $(sqlite3 "$db" 'Select Count(*) From T04_MATE'); write-ahead log $wal bytes;" \
       "journal mode $(sqlite3 "$db" 'PRAGMA journal_mode')"
  sed -n 's/^saves\/s \([0-9.]*\);.*p99 \([0-9.]*\),.*/\1 \2/p' "$work/$1.out" >> "$work/$1.figures"
  kill "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=
  rm -rf "$work/prog" "$work/run"
}

for _ in $(seq "$rounds"); do
  [[ -n $old_bin ]] && run_round old "$old_bin"
  run_round new "$server_bin"
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "== medians of $rounds rounds, $clients clients, $seconds s each"
for label in old new; do
  [[ -f "$work/$label.figures" ]] || continue
  echo "$label: $(cut -d' ' -f1 "$work/$label.figures" | median) saves/s, p99 $(cut -d' ' -f2 "$work/$label.figures" | median) ms"
done
