#!/usr/bin/env bash
# Smoke check of schema/quelvar.sql (a developer aid, not the test suite).
#
# Builds a scratch database from the schema with the sqlite3 command-line tool
# and checks that
#   1. every table exists and T03_CONF holds its one starting row;
#   2. keys are plain INTEGER PRIMARY KEY columns (no AUTOINCREMENT);
#   3. every statement the server sends compiles against the schema;
#   4. the lot-upkeep triggers move T05_Entradas, T05_Saidas and T05_Custo as
#      documents are saved, rewritten and deleted, driven by the same
#      statements the server runs.
# Exits 0 when everything matches, 1 on the first failed group of checks.
#
# Usage: schema/check.sh [path/to/quelvar.sql]

set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
schema="${1:-$here/quelvar.sql}"

command -v sqlite3 >/dev/null || { echo "check.sh: sqlite3 not found" >&2; exit 2; }
[ -r "$schema" ] || { echo "check.sh: cannot read $schema" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
db="$work/quelvar.db"

failures=0

sql() {   # run statements on the scratch database, stop at the first error
  sqlite3 -batch -bail "$db" "$@"
}

expect() {   # expect LABEL EXPECTED SQL
  local label="$1" expected="$2" actual
  if ! actual="$(sql "$3" 2>&1)"; then
    echo "FAIL  $label: $actual"
    failures=$((failures + 1))
  elif [ "$actual" != "$expected" ]; then
    echo "FAIL  $label"
    echo "      expected: $expected"
    echo "      actual:   $actual"
    failures=$((failures + 1))
  else
    echo "ok    $label"
  fi
}

finish_group() {
  if [ "$failures" -ne 0 ]; then
    echo "check.sh: $failures check(s) failed" >&2
    exit 1
  fi
}

# Lot figures as "received gone-out unit-cost balance", five decimals each.
lot() {
  printf "select printf('%%.5f %%.5f %%.5f %%.5f', T05_Entradas, T05_Saidas, T05_Custo, T05_Entradas - T05_Saidas) from T05_LOTE where T05_NumLote = %d;" "$1"
}

# ---------------------------------------------------------------------------
echo "== schema"
if ! out="$(sqlite3 -batch -bail "$db" < "$schema" 2>&1)"; then
  echo "FAIL  the schema does not load: $out"
  exit 1
fi
echo "ok    schema loads"

for t in T01_USUA T02_ACES T03_CONF T04_MATE T05_LOTE T06_GRUP T07_CENC T08_FORN \
         T09_SETO T10_PED1 T11_PED2 T12_ENT1 T13_ENT2 T14_REQ1 T15_REQ2 T16_SAI1 \
         T17_SAI2 T18_PER1 T19_PER2; do
  expect "table $t exists" 1 "select count(*) from sqlite_master where type = 'table' and name = '$t';"
done
expect "T03_CONF has one row" 1 "select count(*) from T03_CONF;"
expect "T03_CONF starts with no backup date" 1 "select T03_UltimoBackup is null from T03_CONF;"
expect "no AUTOINCREMENT anywhere" 0 "select count(*) from sqlite_master where sql like '%autoincrement%';"
expect "group key is INTEGER PRIMARY KEY" "T06_NumGrupo|INTEGER|1" \
  "select name, type, pk from pragma_table_info('T06_GRUP') where pk = 1;"
expect "lot flag, date and quantity types" "T05_Validade|DATE
T05_Entradas|REAL
T05_Desativado|BOOLEAN" \
  "select name, type from pragma_table_info('T05_LOTE') where name in ('T05_Desativado', 'T05_Validade', 'T05_Entradas') order by cid;"
expect "no computed balance shadowed by a column" 0 \
  "select count(*) from pragma_table_info('T05_LOTE') where name = 'T05_Saldo';"
finish_group

# ---------------------------------------------------------------------------
echo "== server statements compile"
compiled=0
while IFS= read -r stmt; do
  [ -z "$stmt" ] && continue
  if ! out="$(sql "EXPLAIN $stmt" 2>&1 >/dev/null)" || [ -n "$out" ]; then
    echo "FAIL  $stmt"
    echo "      $out"
    failures=$((failures + 1))
  fi
  compiled=$((compiled + 1))
done <<'STATEMENTS'
Delete From T02_ACES Where T02_NumUsuario = :p00
Delete From T11_PED2 Where T11_NumPedido = :p00
Delete From T15_REQ2 Where T15_NumRequis = :p00
Delete From T17_SAI2 Where T17_NumSaida = :p00
Delete From T19_PER2 Where T19_NumPerda = :p00
Insert into T01_USUA (T01_Desativado, T01_Usuario, T01_Senha) Values (:p00, :p01, :p02)
Insert into T02_ACES (T02_Acao, T02_NumUsuario) Values (:p00, :p01)
Insert into T04_MATE (T04_Desativado, T04_CustoMedio, T04_EstqMinimo, T04_EstqIdeal, T04_Peso, T04_Unidade, T04_CodBarra, T04_NCM, T04_Obs1, T04_Obs2, T04_NumGrupo, T04_Material, T04_UsaLote) Values (:p00, :p01, :p02, :p03, :p04, :p05, :p06, :p07, :p08, :p09, :p10, :p11, :p12)
Insert into T05_LOTE (T05_Desativado, T05_NumMaterial, T05_Validade, T05_Local, T05_Lote, T05_Entradas, T05_Saidas) Values (:p00, :p01, :p02, :p03, :p04, :p05, :p06)
Insert into T06_GRUP (T06_Desativado, T06_Grupo) Values (:p00, :p01)
Insert into T07_CENC (T07_Desativado, T07_CentroCusto) Values (:p00, :p01)
Insert into T08_FORN (T08_Desativado, T08_Fornecedor, T08_RazaoSocial, T08_Contato, T08_CNPJ, T08_Inscricao, T08_Email, T08_Site, T08_Telefone1, T08_Telefone2, T08_Endereco, T08_Bairro, T08_Cidade, T08_Estado, T08_CEP, T08_PontoRefer, T08_Obs1, T08_Obs2) Values (:p00, :p01, :p02, :p03, :p04, :p05, :p06, :p07, :p08, :p09, :p10, :p11, :p12, :p13, :p14, :p15, :p16, :p17)
Insert into T09_SETO (T09_Desativado, T09_Setor) Values (:p00, :p01)
Insert into T10_PED1 (T10_NumFornec, T10_Data, T10_Obs1, T10_Obs2) Values (:p00, :p01, :p02, :p03)
Insert into T11_PED2 (T11_NumPedido, T11_NumMaterial, T11_Qtd, T11_Valor) Values (:p00, :p01, :p02, :p03)
Insert into T12_ENT1 (T12_NumFornec, T12_NumPedido, T12_Data, T12_NF, T12_Obs1, T12_Obs2) Values (:p00, :p01, :p02, :p03, :p04, :p05)
Insert into T13_ENT2 (T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor) Values (:p00, :p01, :p02, :p03)
Insert into T14_REQ1 (T14_NumUsuario, T14_Data, T14_Obs1, T14_Obs2) Values (:p00, :p01, :p02, :p03)
Insert into T15_REQ2 (T15_NumRequis, T15_NumMaterial, T15_Qtd) Values (:p00, :p01, :p02)
Insert into T16_SAI1 (T16_NumCC, T16_NumRequis, T16_Data, T16_NF, T16_NumUsuario, T16_Obs1, T16_Obs2) Values (:p00, :p01, :p02, :p03, :p04, :p05, :p06)
Insert into T17_SAI2 (T17_NumSaida, T17_NumLote, T17_Qtd) Values (:p00, :p01, :p02)
Insert into T18_PER1 (T18_Data, T18_Obs1, T18_Obs2) Values (:p00, :p01, :p02)
Insert into T19_PER2 (T19_NumPerda, T19_NumLote, T19_Qtd) Values (:p00, :p01, :p02)
Select * From T03_CONF 
Select Coalesce(Round(Sum(T13_Qtd * T13_Valor) / (Sum(T13_Qtd) + 0.000001), 5) ,0.00000) as qCustoMedio From T12_ENT1, T13_ENT2, T05_LOTE Where T12_Exclusao is Null and T12_NumEntrada = T13_NumEntrada and T13_NumLote = T05_NumLote and T12_Data <= :p00 and T05_NumMaterial = :p01
Select Distinct T18_NumPerda, T18_Data, T18_Obs1, T18_Obs2, T04_Material, T05_Lote From T18_PER1, T19_PER2, T05_LOTE, T04_MATE Where T18_Exclusao is Null and T18_NumPerda = T19_NumPerda and T19_NumLote = T05_NumLote and T05_NumMaterial = T04_NumMaterial
Select T01_NumUsuario From T01_USUA Where T01_Exclusao is Null and T01_Usuario = :p00 and T01_NumUsuario <> :p01
Select T01_NumUsuario From T01_USUA Where T01_NumUsuario = :p00 and T01_Senha = :p01
Select T01_NumUsuario From T01_USUA Where T01_Usuario = :p00 and T01_Senha = :p01 and T01_Exclusao is Null and NOT T01_Desativado
Select T01_NumUsuario, T01_Usuario, T01_Desativado, T01_Senha From T01_USUA Where T01_Exclusao is Null and T01_Usuario like :p00
Select T01_Usuario From T01_USUA Where T01_Exclusao is Null and T01_NumSetor = :p00
Select T02_Acao From T02_ACES Where T02_NumUsuario = :p00
Select T04_NumMaterial From T04_MATE Where T04_Exclusao is Null and T04_CodBarra = :p00 and T04_NumMaterial <> :p01
Select T04_NumMaterial From T04_MATE Where T04_Exclusao is Null and T04_Material = :p00
Select T04_NumMaterial From T04_MATE Where T04_Exclusao is Null and T04_NumGrupo = :p00
Select T04_NumMaterial, T04_NumGrupo, T04_Material, T04_CustoMedio, T04_EstqMinimo, T04_EstqIdeal, T04_Peso, T04_Unidade, T04_CodBarra, T04_NCM, T04_Obs1, T04_Obs2, T04_Desativado, T04_UsaLote, T06_Grupo, (Select Coalesce(Sum(T05_Entradas - T05_Saidas),0.00000) From T05_LOTE Where T05_NumMaterial = T04_NumMaterial and T05_Exclusao is Null) as T04_Saldo From T04_MATE, T06_GRUP Where T04_Exclusao is Null and T04_UsaLote and T04_NumGrupo = T06_NumGrupo and NOT T04_Desativado and (T04_NumMaterial = :p00 or T04_CodBarra = :p00)
Select T04_NumMaterial, T04_NumGrupo, T04_Material, T04_EstqMinimo, T04_EstqIdeal, T04_Peso, T04_Unidade, T04_CodBarra, T04_NCM, T04_Obs1, T04_Obs2, T04_Desativado, T04_UsaLote, T06_Grupo, (Select Coalesce(Sum(T05_Entradas - T05_Saidas),0.00000) From T05_LOTE Where T05_NumMaterial = T04_NumMaterial and T05_Exclusao is Null) as T04_Saldo, (Select Coalesce(Round( Sum(T05_Entradas * T05_Custo) / (Sum(T05_Entradas) + 0.000001), 5) ,0.00000) From T05_LOTE Where T05_NumMaterial = T04_NumMaterial and T05_Exclusao is Null) as T04_CustoMedio From T04_MATE, T06_GRUP Where T04_Exclusao is Null and T04_UsaLote and T04_NumGrupo = T06_NumGrupo and T04_Material like :p00
Select T05_NumLote From T05_LOTE Where T05_Exclusao is Null and T05_Lote = :p00 and T05_NumMaterial = :p01
Select T05_NumLote From T05_LOTE Where T05_Exclusao is Null and T05_Lote = :p00 and T05_NumMaterial = :p01 and T05_NumLote <> :p02
Select T05_NumLote, T05_Lote, T05_NumMaterial, T05_Validade, T05_Custo, T05_Entradas, T05_Saidas, T05_Local, T05_Obs1, T05_Obs2, T05_Desativado, T04_Material, (T05_Entradas - T05_Saidas) as T05_Saldo From T05_LOTE, T04_MATE Where T05_Exclusao is Null and T05_NumMaterial = T04_NumMaterial
Select T05_NumLote, T05_Lote, T05_Validade, T05_Local, T05_Custo, (T05_Entradas - T05_Saidas) as T05_Saldo From T05_LOTE Where T05_NumMaterial = :p00 and T05_Lote = :p01
Select T05_NumLote, T05_Lote, T05_Validade, T05_Local, T05_Custo, T05_Entradas, T05_Saidas, T04_Material, (T05_Entradas - T05_Saidas) as T05_Saldo From T05_LOTE, T04_MATE Where T05_Exclusao is Null and T05_NumMaterial = T04_NumMaterial
Select T05_NumLote, T05_Lote, T05_Validade, T05_Local, T05_Custo, T05_Entradas, T05_Saidas, T04_Material, (T05_Entradas - T05_Saidas) as T05_Saldo From T05_LOTE, T04_MATE Where T05_Exclusao is Null and T05_NumMaterial = T04_NumMaterial and T05_Saldo > 0 and NOT T05_Desativado and T05_NumMaterial = :p00
Select T06_NumGrupo From T06_GRUP Where T06_Exclusao is Null and T06_Grupo = :p00
Select T06_NumGrupo, T06_Grupo, T06_Desativado From T06_GRUP Where T06_Exclusao is Null
Select T07_NumCC From T07_CENC Where T07_Exclusao is Null and T07_CentroCusto = :p00 and T07_NumCC <> :p01
Select T07_NumCC, T07_CentroCusto, T07_Desativado From T07_CENC Where T07_Exclusao is Null and NOT T07_Desativado and T07_CentroCusto like :p00
Select T08_Fornecedor From T08_FORN Where T08_Exclusao is Null and T08_CNPJ = :p00
Select T08_NumFornec From T08_FORN Where T08_Exclusao is Null and T08_Fornecedor = :p00
Select T08_NumFornec, T08_Fornecedor, T08_RazaoSocial, T08_Contato, T08_CNPJ, T08_Inscricao, T08_Email, T08_Site, T08_Telefone1, T08_Telefone2, T08_Endereco, T08_Bairro, T08_Cidade, T08_Estado, T08_CEP, T08_PontoRefer, T08_Obs1, T08_Obs2, T08_Desativado From T08_FORN Where T08_Exclusao is Null
Select T09_NumSetor From T09_SETO Where T09_Exclusao is Null and T09_Setor = :p00 and T09_NumSetor <> :p01
Select T09_NumSetor, T09_Setor, T09_Desativado From T09_SETO Where T09_Exclusao is Null and NOT T09_Desativado and T09_Setor like :p00
Select T10_NumFornec From T10_PED1 Where T10_Exclusao is Null and T10_NumFornec = :p00
Select T10_NumPedido, T10_NumFornec, T10_Data, T10_VirouEntrada, T10_Obs1, T10_Obs2, T08_Fornecedor From T10_PED1, T08_FORN Where T10_Exclusao is Null and T10_VirouEntrada is Null and T10_NumFornec = T08_NumFornec
Select T10_NumPedido, T10_NumFornec, T10_Data, T10_VirouEntrada, T10_Obs1, T10_Obs2, T11_NumMaterial, T11_Qtd, T11_Valor, (T11_Qtd * T11_Valor) as T11_Total, T08_Fornecedor, T04_Unidade, T04_Material From T10_PED1,T11_PED2,T08_FORN,T04_MATE Where T10_Exclusao is Null and T10_VirouEntrada is Null and T10_NumPedido = T11_NumPedido and T10_NumFornec = T08_NumFornec and T11_NumMaterial = T04_NumMaterial
Select T11_NumMaterial From T10_PED1, T11_PED2 Where T10_Exclusao is Null and T10_VirouEntrada is Null and T10_NumPedido = T11_NumPedido and T11_NumMaterial = :p00
Select T11_NumPedido, T11_NumMaterial, T11_Qtd, T11_Valor, (T11_Qtd * T11_Valor) as T11_Total, T04_Material From T11_PED2, T04_MATE Where T11_NumPedido = :p00 and T11_NumMaterial = T04_NumMaterial
Select T12_Data From T12_ENT1, T13_ENT2 Where T12_Exclusao is Null and T13_Exclusao is Null and T12_NumEntrada = T13_NumEntrada and T13_NumLote = :p00 Order by T12_Data Limit 1
Select T12_NumEntrada From T12_ENT1, T13_ENT2, T05_LOTE Where T12_Exclusao is Null and T12_NumEntrada = T13_NumEntrada and T13_NumLote = T05_NumLote and T05_NumMaterial = :p00
Select T12_NumEntrada, T12_NumFornec, T12_Data, T12_NF, T12_Obs1, T12_Obs2, T05_Lote, T05_Validade, T05_Local, T05_Entradas, T05_Saidas, T05_NumMaterial, T13_NumLote, T13_Qtd, T13_Valor, (T13_Qtd * T13_Valor ) as T13_Total, (T05_Entradas - T05_Saidas) as T05_Saldo, T08_Fornecedor, T04_Material, T04_Unidade, T04_CodBarra From T12_ENT1,T13_ENT2,T05_LOTE, T08_FORN,T04_MATE Where T12_Exclusao is Null and T12_NumEntrada = T13_NumEntrada and T12_NumFornec = T08_NumFornec and T13_NumLote = T05_NumLote and T05_NumMaterial = T04_NumMaterial
Select T12_NumEntrada, T12_NumFornec, T12_Data, T12_NF, T12_Obs1, T12_Obs2, T08_Fornecedor, (Select Coalesce(Sum(T05_Saidas), 0.00000) From T13_ENT2, T05_LOTE Where T13_NumLote = T05_NumLote and T13_NumEntrada = T12_NumEntrada) as T12_TotalSaidas From T12_ENT1, T08_FORN Where T12_Exclusao is Null and T12_NumFornec = T08_NumFornec
Select T12_NumFornec From T12_ENT1 Where T12_Exclusao is Null and T12_NumFornec = :p00
Select T13_NumEntrada, T05_Lote, T05_Validade, T05_Local, T05_Saidas, T05_NumMaterial, T13_NumLote, T13_Qtd, T13_Valor, (T13_Qtd * T13_Valor ) as T13_Total, (T05_Entradas - T05_Saidas) as T05_Saldo, T04_Material, T04_CodBarra From T13_ENT2, T05_LOTE, T04_MATE Where T13_NumEntrada = :p00 and T13_NumLote = T05_NumLote and T05_NumMaterial = T04_NumMaterial
Select T13_NumLote From T12_ENT1, T13_ENT2 Where T12_Exclusao is Null and T12_NumEntrada = T13_NumEntrada and T13_NumLote = :p00
Select T14_NumRequis, T14_NumUsuario, T14_Data, T14_VirouSaida, T14_Obs1, T14_Obs2, T01_Usuario From T14_REQ1, T01_USUA Where T14_Exclusao is Null and T14_VirouSaida is Null and T14_NumUsuario = T01_NumUsuario
Select T14_NumRequis, T14_NumUsuario, T14_Data, T14_VirouSaida, T14_Obs1, T14_Obs2, T15_NumMaterial, T15_Qtd, T04_Material, T04_Unidade, T01_Usuario From T14_REQ1, T15_REQ2, T04_MATE, T01_USUA Where T14_Exclusao is Null and T14_VirouSaida is Null and T14_NumRequis = T15_NumRequis and T14_NumUsuario = T01_NumUsuario and T15_NumMaterial = T04_NumMaterial
Select T15_NumMaterial From T14_REQ1, T15_REQ2 Where T14_Exclusao is Null and T14_VirouSaida is Null and T14_NumRequis = T15_NumRequis and T15_NumMaterial = :p00
Select T15_NumRequis, T15_NumMaterial, T15_Qtd, T04_Material From T15_REQ2, T04_MATE Where T15_NumRequis = :p00 and T15_NumMaterial = T04_NumMaterial
Select T16_NumCC From T16_SAI1 Where T16_Exclusao is Null and T16_NumCC = :p00
Select T16_NumSaida From T16_SAI1, T17_SAI2, T05_LOTE Where T16_Exclusao is Null and T16_NumSaida = T17_NumSaida and T17_NumLote = T05_NumLote and T05_NumMaterial = :p00
Select T16_NumSaida, T16_NumCC, T16_Data, T16_NF, T16_Obs1, T16_Obs2, T07_CentroCusto, T16_NumUsuario, T01_Usuario From T16_SAI1, T07_CENC, T01_USUA Where T16_Exclusao is Null and T16_NumCC = T07_NumCC and (T16_NumUsuario = T01_NumUsuario or T16_NumUsuario = 0) and T16_NumSaida = :p02
Select T16_NumSaida, T16_NumCC, T16_Data, T16_NF, T16_Obs1, T16_Obs2, T17_NumLote, T17_Qtd, T04_Material, T04_Unidade, T04_CodBarra, T05_NumMaterial, T05_Custo, T05_Lote, T05_Validade, T07_CentroCusto, T16_NumUsuario, T01_Usuario, 0.00000 as qTotal From T16_SAI1, T17_SAI2, T05_LOTE, T07_CENC, T04_MATE, T01_USUA Where T16_Exclusao is Null and T16_NumSaida = T17_NumSaida and T16_NumCC = T07_NumCC and T17_NumLote = T05_NumLote and T05_NumMaterial = T04_NumMaterial and (T16_NumUsuario = T01_NumUsuario or T16_NumUsuario = 0) and T16_Data >= :p00 and T16_Data <= :p01 and T07_CentroCusto like :p02
Select T17_NumLote From T16_SAI1, T17_SAI2 Where T16_Exclusao is Null and T16_NumSaida = T17_NumSaida and T17_NumLote = :p00
Select T17_NumSaida, T17_NumLote, T17_Qtd, T05_NumMaterial, T05_Lote, T04_Material From T17_SAI2, T05_LOTE, T04_MATE Where T17_NumSaida = :p00 and T17_NumLote = T05_NumLote and T05_NumMaterial = T04_NumMaterial
Select T18_NumPerda From T18_PER1, T19_PER2, T05_LOTE Where T18_Exclusao is Null and T18_NumPerda = T19_NumPerda and T19_NumLote = T05_NumLote and T05_NumMaterial = :p00
Select T18_NumPerda, T18_Data, T18_Obs1, T18_Obs2, T19_NumLote, T19_Qtd, T04_Material, T04_Unidade, T05_NumMaterial, T05_Validade, T05_Lote From T18_PER1, T19_PER2, T05_LOTE, T04_MATE Where T18_Exclusao is Null and T18_NumPerda = T19_NumPerda and T19_NumLote = T05_NumLote and T05_NumMaterial = T04_NumMaterial
Select T19_NumLote From T18_PER1, T19_PER2 Where T18_Exclusao is Null and T18_NumPerda = T19_NumPerda and T19_NumLote = :p00
Select T19_NumPerda, T19_NumLote, T19_Qtd, T05_NumMaterial, T05_Lote, T04_Material From T19_PER2, T05_LOTE, T04_MATE Where T19_NumPerda = :p00 and T19_NumLote = T05_NumLote and T05_NumMaterial = T04_NumMaterial
Update T01_USUA Set T01_Exclusao = :p00, T01_ExcluidoPor = :p01 Where T01_NumUsuario = :p02
Update T01_USUA Set T01_Senha = :p00 Where T01_NumUsuario = :p01
Update T01_USUA Set T01_Usuario = :p00, T01_Senha = :p01, T01_Desativado = :p02 Where T01_NumUsuario = :p03
Update T03_CONF Set T03_Rodape = :p00, T03_MargemSup = :p01, T03_RelTelaParcial = :p02, T03_PastaBackup = :p03, T03_ArqFoto = :p04, T03_CasasDecV = :p05, T03_CasasDecQ = :p06, T03_CriarAtalho = :p07, T03_AvisoEstqMin = :p08 Where 1 = 1
Update T03_CONF Set T03_UltimoBackup = :p00
Update T04_MATE Set T04_Exclusao = :p00, T04_ExcluidoPor = :p01 Where T04_NumMaterial = :p02
Update T04_MATE Set T04_Material = :p00, T04_Desativado = :p01, T04_EstqMinimo = :p02, T04_EstqIdeal = :p03, T04_Peso = :p04, T04_Unidade = :p05, T04_CodBarra = :p06, T04_NCM = :p07, T04_Obs1 = :p08, T04_Obs2 = :p09, T04_NumGrupo = :p10, T04_UsaLote = :p11 Where T04_NumMaterial = :p12
Update T05_LOTE Set T05_Exclusao = :p00, T05_ExcluidoPor = :p01 Where T05_NumLote = :p02
Update T05_LOTE Set T05_Lote = :p00, T05_Desativado = :p01, T05_Validade = :p02, T05_Local = :p03, T05_Obs1 = :p04, T05_Obs2 = :p05 Where T05_NumLote = :p06
Update T06_GRUP Set T06_Exclusao = :p00, T06_ExcluidoPor = :p01 Where T06_NumGrupo = :p02
Update T06_GRUP Set T06_Grupo = :p00, T06_Desativado = :p01 Where T06_NumGrupo = :p02
Update T07_CENC Set T07_CentroCusto = :p00, T07_Desativado = :p01 Where T07_NumCC = :p02
Update T07_CENC Set T07_Exclusao = :p00, T07_ExcluidoPor = :p01 Where T07_NumCC = :p02
Update T08_FORN Set T08_Exclusao = :p00, T08_ExcluidoPor = :p01 Where T08_NumFornec = :p02
Update T08_FORN Set T08_Fornecedor = :p00, T08_Desativado = :p01, T08_RazaoSocial = :p02, T08_Contato = :p03, T08_CNPJ = :p04, T08_Inscricao = :p05, T08_Email = :p06, T08_Site = :p07, T08_Telefone1 = :p08, T08_Telefone2 = :p09, T08_Endereco = :p10, T08_Bairro = :p11, T08_Cidade = :p12, T08_Estado = :p13, T08_CEP = :p14, T08_PontoRefer = :p15, T08_Obs1 = :p16, T08_Obs2 = :p17 Where T08_NumFornec = :p18
Update T09_SETO Set T09_Exclusao = :p00, T09_ExcluidoPor = :p01 Where T09_NumSetor = :p02
Update T09_SETO Set T09_Setor = :p00, T09_Desativado = :p01 Where T09_NumSetor = :p02
Update T10_PED1 Set T10_Exclusao = :p00, T10_ExcluidoPor = :p01 Where T10_NumPedido = :p02
Update T10_PED1 Set T10_NumFornec = :p00, T10_Data = :p01, T10_Obs1 = :p02, T10_Obs2 = :p03 Where T10_NumPedido = :p04
Update T10_PED1 Set T10_VirouEntrada = :p00 Where T10_NumPedido = :p01
Update T12_ENT1 Set T12_Exclusao = :p00, T12_ExcluidoPor = :p01 Where T12_NumEntrada = :p02
Update T12_ENT1 Set T12_NumFornec = :p00, T12_Data = :p01, T12_Obs1 = :p02, T12_Obs2 = :p03, T12_NF = :p04 Where T12_NumEntrada = :p05
Update T13_ENT2 Set T13_Exclusao = :p00 Where T13_NumEntrada = :p01
Update T14_REQ1 Set T14_Exclusao = :p00, T14_ExcluidoPor = :p01 Where T14_NumRequis = :p02
Update T14_REQ1 Set T14_NumUsuario = :p00, T14_Data = :p01, T14_Obs1 = :p02, T14_Obs2 = :p03 Where T14_NumRequis = :p04
Update T14_REQ1 Set T14_VirouSaida = :p00 Where T14_NumRequis = :p01
Update T16_SAI1 Set T16_Exclusao = :p00, T16_ExcluidoPor = :p01 Where T16_NumSaida = :p02
Update T16_SAI1 Set T16_NumCC = :p00, T16_Data = :p01, T16_Obs1 = :p02, T16_Obs2 = :p03, T16_NF = :p04 Where T16_NumSaida = :p05
Update T17_SAI2 Set T17_Exclusao = :p00 Where T17_NumSaida = :p01
Update T18_PER1 Set T18_Data = :p00, T18_Obs1 = :p01, T18_Obs2 = :p02 Where T18_NumPerda = :p03
Update T18_PER1 Set T18_Exclusao = :p00, T18_ExcluidoPor = :p01 Where T18_NumPerda = :p02
Update T19_PER2 Set T19_Exclusao = :p00 Where T19_NumPerda = :p01
STATEMENTS
echo "ok    $compiled statements checked"
finish_group

# ---------------------------------------------------------------------------
echo "== lot upkeep"

# Registers the documents refer to.
sql "
Insert into T06_GRUP (T06_Desativado, T06_Grupo) Values (0, 'Fixadores');
Insert into T04_MATE (T04_Desativado, T04_CustoMedio, T04_EstqMinimo, T04_EstqIdeal, T04_Peso, T04_Unidade, T04_CodBarra, T04_NCM, T04_Obs1, T04_Obs2, T04_NumGrupo, T04_Material, T04_UsaLote)
     Values (0, 0, 10, 50, 0.01, 'UN', '7890001', '73181500', '', '', 1, 'Parafuso 6mm', 1);
Insert into T04_MATE (T04_Desativado, T04_CustoMedio, T04_EstqMinimo, T04_EstqIdeal, T04_Peso, T04_Unidade, T04_CodBarra, T04_NCM, T04_Obs1, T04_Obs2, T04_NumGrupo, T04_Material, T04_UsaLote)
     Values (0, 0, 10, 50, 0.01, 'UN', '7890002', '73181600', '', '', 1, 'Porca 6mm', 1);
Insert into T08_FORN (T08_Desativado, T08_Fornecedor) Values (0, 'Metalurgica Alfa');
Insert into T07_CENC (T07_Desativado, T07_CentroCusto) Values (0, 'Manutencao');
Insert into T01_USUA (T01_Desativado, T01_Usuario, T01_Senha) Values (0, 'ana', 'segredo');
"

# Entry 1 (new): lot L1 of material 1 and lot L2 of material 2, both created by
# the save; the keys read back after each insert are the new rows' numbers.
expect "entry 1 saved; keys read back after inserts" "1
1
2" "
BEGIN;
Insert into T12_ENT1 (T12_NumFornec, T12_NumPedido, T12_Data, T12_NF, T12_Obs1, T12_Obs2) Values (1, 0, '2024-03-01', '1001', '', '');
Select last_insert_rowid() as qUltimoNumero;
Insert into T05_LOTE (T05_Desativado, T05_NumMaterial, T05_Validade, T05_Local, T05_Lote, T05_Entradas, T05_Saidas) Values (0, 1, '2026-03-01', 'A1', 'L1', 0, 0);
Select last_insert_rowid() as qUltimoNumero;
Insert into T13_ENT2 (T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor) Values (1, 1, 10, 2.00);
Insert into T05_LOTE (T05_Desativado, T05_NumMaterial, T05_Validade, T05_Local, T05_Lote, T05_Entradas, T05_Saidas) Values (0, 2, '2026-03-01', 'A2', 'L2', 0, 0);
Select last_insert_rowid() as qUltimoNumero;
Insert into T13_ENT2 (T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor) Values (1, 2, 5, 3.00);
COMMIT;"
expect "L1 after entry 1" "10.00000 0.00000 2.00000 10.00000" "$(lot 1)"
expect "L2 after entry 1" "5.00000 0.00000 3.00000 5.00000" "$(lot 2)"

# Entry 2 (new): finds live lot L1 and receives 30 more at 4.00.
expect "entry 2 finds lot L1" 1 "
BEGIN;
Insert into T12_ENT1 (T12_NumFornec, T12_NumPedido, T12_Data, T12_NF, T12_Obs1, T12_Obs2) Values (1, 0, '2024-03-05', '1002', '', '');
Select T05_NumLote From T05_LOTE Where T05_Exclusao is Null and T05_Lote = 'L1' and T05_NumMaterial = 1;
Insert into T13_ENT2 (T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor) Values (2, 1, 30, 4.00);
COMMIT;"
expect "L1 after entry 2: weighted unit cost" "40.00000 0.00000 3.50000 40.00000" "$(lot 1)"

# Output 1 takes 6 from L1; loss 1 writes off 1.5 from L1.
sql "
BEGIN;
Insert into T16_SAI1 (T16_NumCC, T16_NumRequis, T16_Data, T16_NF, T16_NumUsuario, T16_Obs1, T16_Obs2) Values (1, 0, '2024-03-10', '', 1, '', '');
Insert into T17_SAI2 (T17_NumSaida, T17_NumLote, T17_Qtd) Values (1, 1, 6);
COMMIT;"
expect "L1 after output 1" "40.00000 6.00000 3.50000 34.00000" "$(lot 1)"
sql "
BEGIN;
Insert into T18_PER1 (T18_Data, T18_Obs1, T18_Obs2) Values ('2024-03-11', 'avaria', '');
Insert into T19_PER2 (T19_NumPerda, T19_NumLote, T19_Qtd) Values (1, 1, 1.5);
COMMIT;"
expect "L1 after loss 1" "40.00000 7.50000 3.50000 32.50000" "$(lot 1)"
expect "L2 untouched by output and loss" "5.00000 0.00000 3.00000 5.00000" "$(lot 2)"
expect "material balance from the lots" "32.50000" "
Select printf('%.5f', (Select Coalesce(Sum(T05_Entradas - T05_Saidas),0.00000) From T05_LOTE Where T05_NumMaterial = T04_NumMaterial and T05_Exclusao is Null)) From T04_MATE Where T04_NumMaterial = 1;"

# Deleting output 1 stamps its header, then its items.
sql "
BEGIN;
Update T16_SAI1 Set T16_Exclusao = '2024-03-12', T16_ExcluidoPor = 1 Where T16_NumSaida = 1;
Update T17_SAI2 Set T17_Exclusao = '2024-03-12' Where T17_NumSaida = 1;
COMMIT;"
expect "L1 after deleting output 1" "40.00000 1.50000 3.50000 38.50000" "$(lot 1)"
sql "Update T16_SAI1 Set T16_Exclusao = '2024-03-13', T16_ExcluidoPor = 1 Where T16_NumSaida = 1;"
expect "deleting output 1 again changes nothing" "40.00000 1.50000 3.50000 38.50000" "$(lot 1)"

# The two average costs agree with the lot cost.
expect "material average cost from the lots" "3.50000" "
Select printf('%.5f', (Select Coalesce(Round( Sum(T05_Entradas * T05_Custo) / (Sum(T05_Entradas) + 0.000001), 5) ,0.00000) From T05_LOTE Where T05_NumMaterial = T04_NumMaterial and T05_Exclusao is Null)) From T04_MATE Where T04_NumMaterial = 1;"
expect "average cost of receipts up to a date" "3.50000" "
Select printf('%.5f', Coalesce(Round(Sum(T13_Qtd * T13_Valor) / (Sum(T13_Qtd) + 0.000001), 5) ,0.00000)) From T12_ENT1, T13_ENT2, T05_LOTE Where T12_Exclusao is Null and T12_NumEntrada = T13_NumEntrada and T13_NumLote = T05_NumLote and T12_Data <= '2024-03-31' and T05_NumMaterial = 1;"

# Deleting entry 2 takes its receipt back out of L1.
sql "
BEGIN;
Update T12_ENT1 Set T12_Exclusao = '2024-03-14', T12_ExcluidoPor = 1 Where T12_NumEntrada = 2;
Update T13_ENT2 Set T13_Exclusao = '2024-03-14' Where T13_NumEntrada = 2;
COMMIT;"
expect "L1 after deleting entry 2" "10.00000 1.50000 2.00000 8.50000" "$(lot 1)"

# Rewriting entry 1: its items are replaced; L2 is no longer received.
sql "
BEGIN;
Update T12_ENT1 Set T12_NumFornec = 1, T12_Data = '2024-03-01', T12_Obs1 = '', T12_Obs2 = '', T12_NF = '1001' Where T12_NumEntrada = 1;
Delete From T13_ENT2 Where T13_NumEntrada = 1;
Insert into T13_ENT2 (T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor) Values (1, 1, 12, 2.50);
COMMIT;"
expect "L1 after rewriting entry 1" "12.00000 1.50000 2.50000 10.50000" "$(lot 1)"
expect "L2 after rewriting entry 1" "0.00000 0.00000 0.00000 0.00000" "$(lot 2)"
expect "lots with a positive balance" "1|L1|10.5" "
Select T05_NumLote, T05_Lote, (T05_Entradas - T05_Saidas) as T05_Saldo From T05_LOTE, T04_MATE Where T05_Exclusao is Null and T05_NumMaterial = T04_NumMaterial and T05_Saldo > 0 and NOT T05_Desativado;"

# Deleting loss 1.
sql "
BEGIN;
Update T18_PER1 Set T18_Exclusao = '2024-03-15', T18_ExcluidoPor = 1 Where T18_NumPerda = 1;
Update T19_PER2 Set T19_Exclusao = '2024-03-15' Where T19_NumPerda = 1;
COMMIT;"
expect "L1 after deleting loss 1" "12.00000 0.00000 2.50000 12.00000" "$(lot 1)"

# Items saved under a number that has no header count only once it has one.
sql "Insert into T17_SAI2 (T17_NumSaida, T17_NumLote, T17_Qtd) Values (77, 1, 100);"
expect "items without a header do not count" "12.00000 0.00000 2.50000 12.00000" "$(lot 1)"
sql "Insert into T16_SAI1 (T16_NumSaida, T16_NumCC, T16_NumRequis, T16_Data, T16_NumUsuario) Values (77, 1, 0, '2024-03-16', 1);"
expect "a header for them brings them in" "12.00000 100.00000 2.50000 -88.00000" "$(lot 1)"
sql "Delete From T16_SAI1 Where T16_NumSaida = 77; Delete From T17_SAI2 Where T17_NumSaida = 77;"
expect "removing header and items takes them out" "12.00000 0.00000 2.50000 12.00000" "$(lot 1)"

# The header's deletion stamp alone decides, whatever the items say.
sql "
BEGIN;
Insert into T16_SAI1 (T16_NumCC, T16_NumRequis, T16_Data, T16_NF, T16_NumUsuario, T16_Obs1, T16_Obs2) Values (1, 0, '2024-03-18', '', 1, '', '');
Insert into T17_SAI2 (T17_NumSaida, T17_NumLote, T17_Qtd) Values (last_insert_rowid(), 1, 2);
Insert into T18_PER1 (T18_Data, T18_Obs1, T18_Obs2) Values ('2024-03-18', '', '');
Insert into T19_PER2 (T19_NumPerda, T19_NumLote, T19_Qtd) Values (last_insert_rowid(), 1, 1);
COMMIT;"
expect "L1 after output and loss of 18/03" "12.00000 3.00000 2.50000 9.00000" "$(lot 1)"
sql "Update T16_SAI1 Set T16_Exclusao = '2024-03-19' Where T16_NumSaida = (Select Max(T16_NumSaida) From T16_SAI1);"
expect "output header stamped alone" "12.00000 1.00000 2.50000 11.00000" "$(lot 1)"
sql "Update T18_PER1 Set T18_Exclusao = '2024-03-19' Where T18_NumPerda = (Select Max(T18_NumPerda) From T18_PER1);"
expect "loss header stamped alone" "12.00000 0.00000 2.50000 12.00000" "$(lot 1)"
sql "Update T12_ENT1 Set T12_Exclusao = '2024-03-19' Where T12_NumEntrada = 1;"
expect "entry header stamped alone" "0.00000 0.00000 0.00000 0.00000" "$(lot 1)"
sql "Update T12_ENT1 Set T12_Exclusao = Null Where T12_NumEntrada = 1;
     Update T16_SAI1 Set T16_Exclusao = Null Where T16_NumSaida = (Select Max(T16_NumSaida) From T16_SAI1);"
expect "stamps cleared again" "12.00000 2.00000 2.50000 10.00000" "$(lot 1)"

# Item rows changed in place, and a header removed on its own.
sql "Update T17_SAI2 Set T17_Qtd = 5 Where T17_NumSaida = (Select Max(T16_NumSaida) From T16_SAI1);"
expect "output item quantity changed" "12.00000 5.00000 2.50000 7.00000" "$(lot 1)"
sql "Update T13_ENT2 Set T13_Valor = 3.00 Where T13_NumEntrada = 1;"
expect "entry item value changed" "12.00000 5.00000 3.00000 7.00000" "$(lot 1)"
sql "Update T18_PER1 Set T18_Exclusao = Null Where T18_NumPerda = (Select Max(T18_NumPerda) From T18_PER1);"
expect "loss header stamp cleared" "12.00000 6.00000 3.00000 6.00000" "$(lot 1)"
sql "Update T19_PER2 Set T19_Exclusao = '2024-03-20' Where T19_NumPerda = (Select Max(T18_NumPerda) From T18_PER1);"
expect "loss item stamped alone" "12.00000 5.00000 3.00000 7.00000" "$(lot 1)"
sql "Delete From T16_SAI1 Where T16_NumSaida = (Select Max(T16_NumSaida) From T16_SAI1);"
expect "output header removed alone" "12.00000 0.00000 3.00000 12.00000" "$(lot 1)"

# A receipt of quantity 0 gives cost 0, never a division error.
sql "
BEGIN;
Insert into T12_ENT1 (T12_NumFornec, T12_NumPedido, T12_Data, T12_NF, T12_Obs1, T12_Obs2) Values (1, 0, '2024-03-17', '1003', '', '');
Insert into T05_LOTE (T05_Desativado, T05_NumMaterial, T05_Validade, T05_Local, T05_Lote, T05_Entradas, T05_Saidas) Values (0, 2, '2026-03-01', 'A3', 'L3', 0, 0);
Insert into T13_ENT2 (T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor) Values (3, 3, 0, 9.00);
COMMIT;"
expect "lot received with quantity 0" "0.00000 0.00000 0.00000 0.00000" "$(lot 3)"

finish_group
echo "check.sh: all checks passed"
