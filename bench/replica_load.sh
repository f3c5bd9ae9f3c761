#!/usr/bin/env bash
# Continuous replication under load. In one run, alternating rounds of:
#   off     no replica
#   folder  Replica1 = a folder on the same disk
#   s3      Replica1 = a bucket of the local S3 server (s3rver under Node)
# each round a fresh database with 20 groups and 20,000 materials and 8
# clients saving new materials (bench/material_saves_bench) for
# SECONDS_OF_LOAD s; meanwhile /metrics is read every 100 ms for the
# replica's lag. Then the restore time of a database of about 100 MB whose
# generation holds a stream of segments (SEGMENT_SECONDS s of saves shipped
# every 100 ms). Prints figures; asserts nothing. Loopback only.
# Usage: bench/replica_load.sh [server-binary [driver-binary]]
#   CLIENTS=n (default 8), SECONDS_OF_LOAD=s (default 10), ROUNDS=n (default 3),
#   SEGMENT_SECONDS=s (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install_missing.sh sqlite3 curl
./scripts/install_test_services.sh
server_bin=$(realpath "${1:-build/quelvar-server}")
driver_bin=$(realpath "${2:-build/bench/material_saves_bench}")
clients="${CLIENTS:-8}"
seconds="${SECONDS_OF_LOAD:-10}"
rounds="${ROUNDS:-3}"
segment_seconds="${SEGMENT_SECONDS:-60}"
auth=varosa:quibet4693

source bench/fresh_server.sh

s3_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/s3"
node tests/s3/node_modules/s3rver/bin/s3rver.js -d "$work/s3" -a 127.0.0.1 -p "$s3_port" --silent \
  --configure-bucket bench >/dev/null 2>&1 &
s3_pid=$!
trap 'kill $s3_pid 2>/dev/null; cleanup' EXIT
for _ in $(seq 100); do (echo > "/dev/tcp/127.0.0.1/$s3_port") 2>/dev/null && break; sleep 0.1; done
printf 'S3RVER\nS3RVER\n' > "$work/keys"
chmod 600 "$work/keys"

config_for() {
  case "$1" in
    off) extra_config= ;;
    folder) rm -rf "$work/replica"; mkdir -p "$work/replica"; extra_config="Replica1=$work/replica" ;;
    s3) extra_config=$(printf 'Replica1=s3://bench/r%s\nReplicaS3Endpoint=http://127.0.0.1:%s\nReplicaS3Chaves=%s' \
                         "$RANDOM" "$s3_port" "$work/keys") ;;
  esac
}

stop_server() {
  kill "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=
  rm -rf "$work/prog" "$work/run"
}

# Samples the replica's lag (seconds) every 100 ms into $1 until $2 exists.
sample_lag() {
  while [[ ! -e $2 ]]; do
    curl -s -u "$auth" "http://127.0.0.1:$port/metrics" |
      sed -n 's/^quelvar_replica_lag_seconds{replica="Replica1"} //p' >> "$1" || true
    sleep 0.1
  done
}

run_round() {
  config_for "$1"
  start_fresh_server "$server_bin"
  seed_saves_database
  sleep 1
  rm -f "$work/done"
  local sampler=
  if [[ $1 != off ]]; then
    sample_lag "$work/lag-$1" "$work/done" &
    sampler=$!
  fi
  "$driver_bin" --port "$port" --clients "$clients" --seconds "$seconds" | grep -v '^keys ' > "$work/$1.out"
  touch "$work/done"
  [[ -z $sampler ]] || wait "$sampler" 2>/dev/null || true
  sed -n 's/^saves\/s \([0-9.]*\);.*/\1/p' "$work/$1.out" >> "$work/$1.figures"
  echo "== $1: $(head -1 "$work/$1.out")"
  stop_server
}

for _ in $(seq "$rounds"); do
  for mode in off folder s3; do run_round "$mode"; done
done

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
quantile() { sort -g | awk -v q="$1" '{ v[NR] = $1 } END { i = int(q * NR + 0.999); if (i < 1) i = 1; print v[i] }'; }
echo "== medians of $rounds rounds, $clients clients, $seconds s each"
off=$(median < "$work/off.figures")
for mode in off folder s3; do
  rate=$(median < "$work/$mode.figures")
  line="$mode: $rate saves/s ($(awk -v a="$rate" -v b="$off" 'BEGIN { printf "%.0f", 100 * a / b }') % of off)"
  if [[ -s $work/lag-$mode ]]; then
    line+=", lag p50 $(quantile 0.5 < "$work/lag-$mode") s, p99 $(quantile 0.99 < "$work/lag-$mode") s,"
    line+=" max $(sort -g "$work/lag-$mode" | tail -1) s ($(wc -l < "$work/lag-$mode") samples)"
  fi
  echo "$line"
done

# Restore time: a database of about 100 MB, then a stream of segments.
config_for folder
extra_config+=$'\nReplicaIntervaloMs=200'
start_fresh_server "$server_bin"
kill "$server_pid"; wait "$server_pid" 2>/dev/null || true
sqlite3 "$db" <<'SQL'
.timeout 10000
CREATE TABLE IF NOT EXISTS Lastro (x BLOB);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 25000)
INSERT INTO Lastro SELECT randomblob(4000) FROM n;
INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (1, 'Grupo 1');
SQL
XDG_RUNTIME_DIR="$work/run" "$work/prog/quelvar-server" --headless >/dev/null 2>"$work/stderr" &
server_pid=$!
for _ in $(seq 100); do (echo > "/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
sleep 3
"$driver_bin" --port "$port" --clients 1 --seconds "$segment_seconds" | head -1
sleep 2
segments=$(find "$work/replica" -type f ! -name snapshot | wc -l)
size=$(stat -c %s "$db")
start=$(date +%s%N)
"$work/prog/quelvar-server" --restore-replica "$work/replica" --to "$work/restored.db3"
end=$(date +%s%N)
echo "restore of a $((size / 1048576)) MiB database with $segments segments: $(awk -v ns=$((end - start)) 'BEGIN { printf "%.2f", ns / 1e9 }') s"
stop_server
