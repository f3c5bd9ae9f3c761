#!/usr/bin/env bash
# How many desktop clients one server carries: a server on a fresh shop
# database (5,000 materials with a lot each, 50 suppliers, 2,000 entries of
# 2024 with 3 items each), then simulated clients, more step by step, each
# repeating a clerk's mix of lists, lookups and saves of entries with items
# and of new materials, with 2-5 s of think time, until the 95th percentile of
# the reply times passes 250 ms. Prints every step and the largest number of
# clients served; asserts nothing. Loopback only. Takes about 4 minutes.
# Usage: bench/capacity.sh [server-binary [driver-binary]]
#   (defaults build/quelvar-server and build/bench/capacity_bench)
#   further options go to the driver through CAPACITY_OPTIONS, e.g.
#   CAPACITY_OPTIONS="--start 50 --seconds 8"
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install_missing.sh sqlite3
server_bin=$(realpath "${1:-build/quelvar-server}")
driver_bin=$(realpath "${2:-build/bench/capacity_bench}")
materials=5000
entries=2000
suppliers=50

source bench/fresh_server.sh
start_fresh_server "$server_bin"

sqlite3 "$db" <<SQL
BEGIN;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20)
INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) SELECT i, 'Grupo ' || i FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $suppliers)
INSERT INTO T08_FORN (T08_NumFornec, T08_Fornecedor, T08_Cidade) SELECT i, 'Fornecedor ' || i, 'Curitiba' FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $materials)
INSERT INTO T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material, T04_CustoMedio, T04_EstqMinimo, T04_EstqIdeal,
                      T04_Peso, T04_Unidade, T04_CodBarra, T04_NCM, T04_Obs1, T04_Obs2, T04_Desativado, T04_UsaLote)
  SELECT i, 1 + i % 20, 'Material ' || printf('%05d', i), 2.5, 10, 50, 0.25, 'UN', '789' || printf('%010d', i),
         '7318.15.00', 'observação ' || i, '', 0, 1 FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $materials)
INSERT INTO T05_LOTE (T05_NumLote, T05_Lote, T05_NumMaterial, T05_Local) SELECT i, 'L' || i, i, 'Prateleira ' || (i % 40) FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $entries)
INSERT INTO T12_ENT1 (T12_NumEntrada, T12_NumFornec, T12_Data, T12_NF)
  SELECT i, 1 + i % $suppliers, date('2024-01-01', '+' || (i % 365) || ' days'), 'NF' || i FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3 * $entries)
INSERT INTO T05_LOTE (T05_NumLote, T05_Lote, T05_NumMaterial, T05_Local)
  SELECT $materials + i, 'E' || i, 1 + (i * 7) % $materials, 'Depósito' FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3 * $entries)
INSERT INTO T13_ENT2 (T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor) SELECT 1 + (i - 1) / 3, $materials + i, 10, 2.5 FROM n;
COMMIT;
SQL

# shellcheck disable=SC2086  # the options are words
"$driver_bin" --port "$port" --materials "$materials" --entries "$entries" --suppliers "$suppliers" \
  ${CAPACITY_OPTIONS:-} | tee "$work/driver.out"
echo "entries in the database afterwards: $(sqlite3 "$db" 'Select Count(*) From T12_ENT1')," \
     "materials: $(sqlite3 "$db" 'Select Count(*) From T04_MATE')"
