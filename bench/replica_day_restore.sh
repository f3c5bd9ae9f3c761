#!/usr/bin/env bash
# Restore time of a day's replica: a database of about 100 MB (25,000 blobs
# of 4,000 bytes) whose generation then holds the segments of SAVE_SECONDS
# (default 900) of one client saving new materials without pause, with
# ReplicaIntervaloMs=10, to a folder replica: some 80,000 segments, about one
# a second for a whole day (more than a shop's day of saves makes at the
# default interval of a second).
# Prints the restore's time (including its integrity check) ROUNDS times and
# the median; asserts nothing. Loopback only.
# Usage: bench/replica_day_restore.sh [server-binary [driver-binary]]
#   SAVE_SECONDS=s (default 900), ROUNDS=n (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install_missing.sh sqlite3
server_bin=$(realpath "${1:-build/quelvar-server}")
driver_bin=$(realpath "${2:-build/bench/material_saves_bench}")
save_seconds="${SAVE_SECONDS:-900}"
rounds="${ROUNDS:-3}"

source bench/fresh_server.sh

mkdir -p "$work/replica"
extra_config=$(printf 'Replica1=%s\nReplicaIntervaloMs=10' "$work/replica")
start_fresh_server "$server_bin"
kill "$server_pid"; wait "$server_pid" 2>/dev/null || true
rm -rf "$work/replica"/*  # the empty database's generation
seed_saves_database
sqlite3 "$db" <<'SQL'
.timeout 10000
CREATE TABLE IF NOT EXISTS Lastro (x BLOB);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 25000)
INSERT INTO Lastro SELECT randomblob(4000) FROM n;
SQL
XDG_RUNTIME_DIR="$work/run" "$work/prog/quelvar-server" --headless >/dev/null 2>"$work/stderr" &
server_pid=$!
for _ in $(seq 100); do (echo > "/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
for _ in $(seq 600); do grep -q "generation .* started" "$work/stderr" && break; sleep 0.1; done

count_segments() { find "$work/replica" -type f ! -name snapshot | wc -l; }
"$driver_bin" --port "$port" --clients 1 --seconds "$save_seconds" | head -1
sleep 2
kill "$server_pid"; wait "$server_pid" 2>/dev/null || true
server_pid=
generations=$(ls "$work/replica/generations" | wc -l)
segments=$(count_segments)
echo "== $segments segments in $generations generation(s), $(du -sm "$work/replica" | cut -f1) MiB in the folder"
size=$(stat -c %s "$db")

times=()
for r in $(seq "$rounds"); do
  rm -f "$work/restored-$r.db3"
  sync
  start=$(date +%s%N)
  "$work/prog/quelvar-server" --restore-replica "$work/replica" --to "$work/restored-$r.db3" > "$work/restore.out"
  end=$(date +%s%N)
  t=$(awk -v ns=$((end - start)) 'BEGIN { printf "%.2f", ns / 1e9 }')
  times+=("$t")
  echo "== round $r: $t s; $(tr '\n' ' ' < "$work/restore.out")"
  rm -f "$work/restored-$r.db3"
done
median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
echo "restore of a $((size / 1048576)) MiB database with $segments segments: median $median s of $rounds rounds"
