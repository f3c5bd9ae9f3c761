#!/usr/bin/env bash
# End-to-end time of the materials' list ("Consulta" of DWServerEventsT04_MATE,
# no filter, deactivated ones left out) over 20,000 materials with a lot each,
# beside the sqlite3 shell running the same statement with -json on the same
# file (with the list's order), and the server's memory: its resident size at
# start, just before each list, its peak during each list (the kernel's
# high-water mark, reset before the call) and a second after the last list.
# The pooled database connections keep their page caches between requests,
# so the size before a list grows over the first few lists; what a list
# itself costs is its peak above the size just before it. Prints figures;
# asserts nothing. Loopback only.
# Usage: bench/materials_list.sh [server-binary]   (default build/quelvar-server)
#   RUNS=n   timed runs after one warm-up (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install_missing.sh sqlite3 curl
server_bin=$(realpath "${1:-build/quelvar-server}")
runs="${RUNS:-5}"

source bench/fresh_server.sh
start_fresh_server "$server_bin"

# 20 groups, 20,000 materials (every 50th deactivated), one lot each.
sqlite3 "$db" <<'SQL'
BEGIN;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20)
INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) SELECT i, 'Grupo ' || i FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)
INSERT INTO T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material, T04_CustoMedio, T04_EstqMinimo, T04_EstqIdeal,
                      T04_Peso, T04_Unidade, T04_CodBarra, T04_NCM, T04_Obs1, T04_Obs2, T04_Desativado, T04_UsaLote)
  SELECT i, 1 + i % 20, 'Material ' || printf('%05d', (i * 7919) % 20011), 2.5 + i % 13, 10, 50, 0.25, 'UN',
         '789' || printf('%010d', i), '7318.15.00', 'observação ' || i, '', i % 50 = 0, 1 FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)
INSERT INTO T05_LOTE (T05_NumLote, T05_Lote, T05_NumMaterial, T05_Local, T05_Custo, T05_Entradas, T05_Saidas)
  SELECT i, 'L' || i, i, 'Prateleira ' || (i % 40), 2.5, 10 + i % 7, i % 3 FROM n;
COMMIT;
SQL

param() {  # name, Base64 value (empty for none), direction, value type
  local value=null
  [[ -n $2 ]] && value="\"$2\""
  printf '{"ObjectType":"toParam", "Direction":"%s", "Encoded":"true", "ValueType":"%s", "%s":%s}' "$3" "$4" "$1" "$value"
}
group='{"ObjectType":"toObject", "Direction":"odIN", "Encoded":"true", "ValueType":"ovString", "TAGJSON":"'$(printf 'DWServerEventsT04_MATE' | base64 -w0)'"}'
# Prints the seconds from the connection to the reply's last byte.
call_server() {
  curl -s -o "$work/reply" -w '%{time_total}\n' -u varosa:quibet4693 \
    --form-string "dwservereventname=$group" \
    --form-string "Filtro=$(param FILTRO '' odIN ovString)" \
    --form-string "Tabela=$(param TABELA '' odOUT ovString)" \
    --form-string "Desativados=$(printf '{"ObjectType":"toParam", "Direction":"odIN", "Encoded":"true", "ValueType":"ovBoolean", "DESATIVADOS":false}')" \
    "http://127.0.0.1:$port/Consulta"
}
statement="Select T04_NumMaterial, T04_NumGrupo, T04_Material, T04_CustoMedio, T04_EstqMinimo, T04_EstqIdeal,
T04_Peso, T04_Unidade, T04_CodBarra, T04_NCM, T04_Obs1, T04_Obs2, T04_Desativado, T04_UsaLote, T06_Grupo,
(Select Coalesce(Sum(T05_Entradas - T05_Saidas),0.00000) From T05_LOTE Where T05_NumMaterial = T04_NumMaterial
and T05_Exclusao is Null) as T04_Saldo From T04_MATE, T06_GRUP Where T04_Exclusao is Null and T04_UsaLote
and T04_NumGrupo = T06_NumGrupo and NOT T04_Desativado Order By T04_Material;"

kib() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$server_pid/status"; }  # VmRSS or VmHWM, in KiB
started=$(kib VmRSS)
call_server >/dev/null  # warm the file cache
grep -q '"TABELA":"' "$work/reply" || { echo "the server's reply carries no Tabela:" >&2; head -c 300 "$work/reply" >&2; exit 1; }
rows=$(sqlite3 "$db" "Select Count(*) From T04_MATE Where NOT T04_Desativado")
echo "materials listed: $rows"
sleep 1
idle=$(kib VmRSS)
echo "run  server-s  reply-bytes  sqlite3-json-s  json-bytes  rss-before-KiB  peak-rss-KiB"
: > "$work/times"
for run in $(seq "$runs"); do
  before=$(kib VmRSS)
  echo 5 > "/proc/$server_pid/clear_refs"  # the high-water mark starts again from the present size
  s=$(call_server)
  peak=$(kib VmHWM)
  q=$(call_sqlite)
  printf '%-4s %-9s %-12s %-15s %-11s %-15s %s\n' "$run" "$s" "$(stat -c %s "$work/reply")" "$q" \
    "$(stat -c %s "$work/sqlite.json")" "$before" "$peak"
  echo "$s $q $peak $((peak - before))" >> "$work/times"
done
sleep 1
after=$(kib VmRSS)
median() { cut -d' ' -f"$1" "$work/times" | sort -n | sed -n "$(((runs + 1) / 2))p"; }
server_median=$(median 1)
sqlite_median=$(median 2)
peak_median=$(median 3)
rise_median=$(median 4)
awk -v s="$server_median" -v q="$sqlite_median" \
  'BEGIN { printf "median: server %.3f s, sqlite3 -json %.3f s, server / sqlite3 %.2f\n", s, q, s / q }'
awk -v started="$started" -v idle="$idle" -v peak="$peak_median" -v rise="$rise_median" -v after="$after" \
  -v reply="$(stat -c %s "$work/reply")" \
  'BEGIN { printf "server memory: %.1f MiB at start, %.1f MiB idle after the first list; during a list the peak is %.1f MiB above the size just before it (median) = %.2f x the %.1f MiB reply; peak %.1f MiB (median); %.1f MiB a second after the last list\n",
           started / 1024, idle / 1024, rise / 1024, rise * 1024 / reply, reply / 1048576, peak / 1024, after / 1024 }'
