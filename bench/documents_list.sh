#!/usr/bin/env bash
# End-to-end time of the entries' list with items ("Consulta" of
# DWServerEventsT12_ENTR) over 5,000 entries x 4 items, beside the sqlite3 shell
# running the same statement with -json on the same file. Prints figures;
# asserts nothing. Loopback only.
# Usage: bench/documents_list.sh [server-binary]   (default build/quelvar-server)
#   RUNS=n   timed runs after one warm-up (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install_missing.sh sqlite3 curl
server_bin=$(realpath "${1:-build/quelvar-server}")
runs="${RUNS:-5}"

source bench/fresh_server.sh
start_fresh_server "$server_bin"

# 10 materials, one supplier, 5,000 entries, 4 items each, one lot per item.
sqlite3 "$db" <<'SQL'
BEGIN;
INSERT INTO T08_FORN (T08_NumFornec, T08_Fornecedor) VALUES (1, 'Fornecedor de teste');
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10)
INSERT INTO T04_MATE (T04_NumMaterial, T04_Material, T04_Unidade) SELECT i, 'Material ' || i, 'UN' FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000)
INSERT INTO T12_ENT1 (T12_NumEntrada, T12_NumFornec, T12_Data, T12_NF)
  SELECT i, 1, date('2024-01-01', '+' || (i % 365) || ' days'), 'NF' || i FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)
INSERT INTO T05_LOTE (T05_NumLote, T05_Lote, T05_NumMaterial) SELECT i, 'L' || i, 1 + i % 10 FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)
INSERT INTO T13_ENT2 (T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor) SELECT 1 + (i - 1) / 4, i, 10, 2.5 FROM n;
COMMIT;
SQL

param() {  # name, Base64 value (empty for none), direction
  local value=null
  [[ -n $2 ]] && value="\"$2\""
  printf '{"ObjectType":"toParam", "Direction":"%s", "Encoded":"true", "ValueType":"ovString", "%s":%s}' "$3" "$1" "$value"
}
group='{"ObjectType":"toObject", "Direction":"odIN", "Encoded":"true", "ValueType":"ovString", "TAGJSON":"'$(printf 'DWServerEventsT12_ENTR' | base64 -w0)'"}'
call_server() {
  curl -s -o "$work/reply" -w '%{time_total}' -u varosa:quibet4693 \
    --form-string "dwservereventname=$group" \
    --form-string "Filtro=$(param FILTRO '' odIN)" --form-string "Data1=$(param DATA1 '' odIN)" \
    --form-string "Data2=$(param DATA2 '' odIN)" --form-string "Tabela=$(param TABELA '' odOUT)" \
    "http://127.0.0.1:$port/Consulta"
}
statement="Select T12_NumEntrada, T12_NumFornec, T12_Data, T12_NF, T12_Obs1, T12_Obs2, T05_Lote, T05_Validade,
T05_Local, T05_Entradas, T05_Saidas, T05_NumMaterial, T13_NumLote, T13_Qtd, T13_Valor,
(T13_Qtd * T13_Valor ) as T13_Total, (T05_Entradas - T05_Saidas) as T05_Saldo, T08_Fornecedor,
T04_Material, T04_Unidade, T04_CodBarra From T12_ENT1,T13_ENT2,T05_LOTE, T08_FORN,T04_MATE Where
T12_Exclusao is Null and T12_NumEntrada = T13_NumEntrada and T12_NumFornec = T08_NumFornec and
T13_NumLote = T05_NumLote and T05_NumMaterial = T04_NumMaterial Order By T12_Data, T08_Fornecedor;"

call_server >/dev/null  # warm the file cache
grep -q '"TABELA":"' "$work/reply" || { echo "the server's reply carries no Tabela:" >&2; head -c 300 "$work/reply" >&2; exit 1; }
echo "run  server-s  reply-bytes  sqlite3-json-s  json-bytes"
: > "$work/times"
for run in $(seq "$runs"); do
  s=$(call_server)
  q=$(call_sqlite)
  printf '%-4s %-9s %-12s %-15s %s\n' "$run" "$s" "$(stat -c %s "$work/reply")" "$q" "$(stat -c %s "$work/sqlite.json")"
  echo "$s $q" >> "$work/times"
done
median() { cut -d' ' -f"$1" "$work/times" | sort -n | sed -n "$(((runs + 1) / 2))p"; }
awk -v s="$(median 1)" -v q="$(median 2)" \
  'BEGIN { printf "median: server %.3f s, sqlite3 -json %.3f s, server / sqlite3 %.2f\n", s, q, s / q }'
