#include "inventory/materials.h"

#include <array>
#include <string_view>
#include <vector>

#include "data/local_clock.h"
#include "data/tdm.h"
#include "formats/errors.h"
#include "formats/text_codec.h"
#include "inventory/register_support.h"
#include "inventory/event_handlers.h"
#include "inventory/statement.h"

namespace quelvar::inventory {

namespace {

constexpr std::string_view kBalance =
    "(Select Coalesce(Sum(T05_Entradas - T05_Saidas),0.00000) From T05_LOTE Where T05_NumMaterial = T04_NumMaterial "
    "and T05_Exclusao is Null) as T04_Saldo";

constexpr std::string_view kComputedAverageCost =
    "(Select Coalesce(Round( Sum(T05_Entradas * T05_Custo) / (Sum(T05_Entradas) + 0.000001), 5) ,0.00000) From "
    "T05_LOTE Where T05_NumMaterial = T04_NumMaterial and T05_Exclusao is Null) as T04_CustoMedio";

// The select lists of the two lists, line by line.
const std::vector<std::string_view>& ListColumns() {
  static const std::vector<std::string_view> lines = {
      "Select T04_NumMaterial, T04_NumGrupo, T04_Material, T04_CustoMedio, T04_EstqMinimo, T04_EstqIdeal, ",
      "T04_Peso, T04_Unidade, T04_CodBarra, T04_NCM, T04_Obs1, T04_Obs2, T04_Desativado, T04_UsaLote, ",
      "T06_Grupo, ",
      kBalance,
  };
  return lines;
}

const std::vector<std::string_view>& List2Columns() {
  static const std::vector<std::string_view> lines = {
      "Select T04_NumMaterial, T04_NumGrupo, T04_Material, T04_EstqMinimo, T04_EstqIdeal, ",
      "T04_Peso, T04_Unidade, T04_CodBarra, T04_NCM, T04_Obs1, T04_Obs2, T04_Desativado, T04_UsaLote, ",
      "T06_Grupo, ",
      kBalance,
      ", ",
      kComputedAverageCost,
  };
  return lines;
}

MemTable& RunList(TDM& dm, const QueryArgs& args, const std::vector<std::string_view>& columns) {
  const std::string filter(Trim(args.pFiltro));
  Query& q = dm.Query1;
  q.Close();
  q.ClearSQL();
  for (std::string_view line : columns) q.Add(line);
  q.Add("From T04_MATE, T06_GRUP ");
  q.Add("Where T04_Exclusao is Null and T04_UsaLote and T04_NumGrupo = T06_NumGrupo ");
  if (!args.pDesat) q.Add("and NOT T04_Desativado ");
  if (!filter.empty()) {
    if (FloatOrZero(filter) > 0) {
      q.Add("and (T04_NumMaterial = :p00 ");
      q.Add(" or  T04_CodBarra    = :p00) ");
      q.ParamByName("p00").AsString(filter);
    } else {
      q.Add("and T04_Material like :p00 ");
      q.Param(0).AsString("%" + filter + "%");
    }
  }
  q.Open();
  q.LoadInto(dm.MemTable1);
  q.Close();
  dm.MemTable1.SortOn("T04_Material");
  return dm.MemTable1;
}

// Fails with `message` followed by the other material's number when the
// uniqueness check `condition` finds a live material other than `self`.
void CheckUnique(Query& q, std::string_view condition, std::string_view value, std::int64_t self,
                 std::string_view message) {
  SetStatement(q, {"Select T04_NumMaterial From T04_MATE ", "Where T04_Exclusao is Null ", condition});
  if (self > 0) q.Add("and T04_NumMaterial <> :p01 ");
  q.Param(0).AsString(value);
  if (self > 0) q.Param(1).AsInteger(self);
  q.Open();
  if (!q.Eof()) throw Error(std::string(message) + ZeroFilled6(q.FieldByName("T04_NumMaterial").AsInteger()));
}

struct UsageCheck {
  std::string_view statement;
  std::string_view message;
};

constexpr std::array<UsageCheck, 5> kUsageChecks = {{
    {"Select T11_NumMaterial From T10_PED1, T11_PED2 Where T10_Exclusao is Null and T10_VirouEntrada is Null and "
     "T10_NumPedido = T11_NumPedido and T11_NumMaterial = :p00",
     "Este material está sendo utilizado no cadastro de pedidos.\rPor este motivo a exclusão não poderá ser "
     "realizada."},
    {"Select T12_NumEntrada From T12_ENT1, T13_ENT2, T05_LOTE Where T12_Exclusao is Null and T12_NumEntrada = "
     "T13_NumEntrada and T13_NumLote = T05_NumLote and T05_NumMaterial = :p00",
     "Este material está sendo utilizado no cadastro de entradas.\rPor este motivo a exclusão não poderá ser "
     "realizada."},
    {"Select T15_NumMaterial From T14_REQ1, T15_REQ2 Where T14_Exclusao is Null and T14_VirouSaida is Null and "
     "T14_NumRequis = T15_NumRequis and T15_NumMaterial = :p00",
     "Este material está sendo utilizado no cadastro de requisições.\rPor este motivo a exclusão não poderá ser "
     "realizada."},
    {"Select T16_NumSaida From T16_SAI1, T17_SAI2, T05_LOTE Where T16_Exclusao is Null and T16_NumSaida = "
     "T17_NumSaida and T17_NumLote = T05_NumLote and T05_NumMaterial = :p00",
     "Este material está sendo utilizado no cadastro de saídas.\rPor este motivo a exclusão não poderá ser "
     "realizada."},
    {"Select T18_NumPerda From T18_PER1, T19_PER2, T05_LOTE Where T18_Exclusao is Null and T18_NumPerda = "
     "T19_NumPerda and T19_NumLote = T05_NumLote and T05_NumMaterial = :p00",
     "Este material está sendo utilizado no cadastro de perdas.\rPor este motivo a exclusão não poderá ser "
     "realizada."},
}};

// Positions :p02 to :p10 hold the same fields in the update and the insert.
void BindStockFields(Query& q, MemTable& header, const std::string& barcode) {
  q.Param(2).AsFloat(header.AsFloat("T04_EstqMinimo"));
  q.Param(3).AsFloat(header.AsFloat("T04_EstqIdeal"));
  q.Param(4).AsFloat(header.AsFloat("T04_Peso"));
  q.Param(5).AsString(header.AsString("T04_Unidade"));
  q.Param(6).AsString(barcode);
  q.Param(7).AsString(header.AsString("T04_NCM"));
  q.Param(8).AsString(header.AsString("T04_Obs1"));
  q.Param(9).AsString(header.AsString("T04_Obs2"));
  q.Param(10).AsInteger(header.AsInteger("T04_NumGrupo"));
}

}  // namespace

MemTable& ConsultaMaterial(TDM& dm, const QueryArgs& args) { return RunList(dm, args, ListColumns()); }

MemTable& ConsultaMaterial2(TDM& dm, const QueryArgs& args) { return RunList(dm, args, List2Columns()); }

void GravaMaterial(TDM& dm, MemTable& header, MemTable& /*items*/, std::string& answer) {
  Query& q = dm.Query1;
  // The checks run inside the write transaction, so two concurrent saves of
  // one description cannot both pass them.
  InWriteTransaction(dm.Database1, q, [&] {
    std::int64_t n = header.AsInteger("T04_NumMaterial");
    CheckUnique(q, "and T04_Material = :p00 ", header.AsString("T04_Material"), n,
                "Um material com esta descrição já foi cadastrado anteriormente.\rO número do outro item é ");
    const std::string barcode = header.AsString("T04_CodBarra");
    if (!Trim(barcode).empty())
      CheckUnique(q, "and T04_CodBarra = :p00 ", barcode, n,
                  "Um material com este código de barras já foi cadastrado anteriormente.\rO número do outro item "
                  "é ");
    if (n > 0) {
      SetStatement(q, {
                          "Update T04_MATE Set ",
                          "T04_Material   = :p00, ",
                          "T04_Desativado = :p01, ",
                          "T04_EstqMinimo = :p02, ",
                          "T04_EstqIdeal  = :p03, ",
                          "T04_Peso       = :p04, ",
                          "T04_Unidade    = :p05, ",
                          "T04_CodBarra   = :p06, ",
                          "T04_NCM        = :p07, ",
                          "T04_Obs1       = :p08, ",
                          "T04_Obs2       = :p09, ",
                          "T04_NumGrupo   = :p10, ",
                          "T04_UsaLote    = :p11  ",
                          "Where T04_NumMaterial = :p12 ",
                      });
      q.Param(0).AsString(header.AsString("T04_Material"));
      q.Param(1).AsBoolean(header.AsBoolean("T04_Desativado"));
      BindStockFields(q, header, barcode);
      q.Param(11).AsBoolean(header.AsBoolean("T04_UsaLote"));
      q.Param(12).AsInteger(n);
      q.ExecSQL();
    } else {
      SetStatement(q, {
                          "Insert into T04_MATE ",
                          "(T04_Desativado, T04_CustoMedio, T04_EstqMinimo, T04_EstqIdeal, T04_Peso, T04_Unidade, ",
                          " T04_CodBarra, T04_NCM, T04_Obs1, T04_Obs2, T04_NumGrupo, T04_Material, T04_UsaLote) ",
                          "Values ",
                          "(:p00, :p01, :p02, :p03, :p04, :p05, :p06, :p07, :p08, :p09, :p10, :p11, :p12) ",
                      });
      q.Param(0).AsBoolean(false);
      q.Param(1).AsFloat(0.0);
      BindStockFields(q, header, barcode);
      q.Param(11).AsString(header.AsString("T04_Material"));
      q.Param(12).AsBoolean(true);
      q.ExecSQL();
      SetStatement(q, {"Select last_insert_rowid() as qUltimoNumero"});
      q.Open();
      n = q.FieldByName("qUltimoNumero").AsInteger();
    }
    answer = std::to_string(n);
  });
}

void ExcluiMaterial(TDM& dm, std::int64_t numMaterial, std::int64_t numUsuario, std::string& answer) {
  answer = "OK";
  Query& q = dm.Query1;
  // The usage checks run inside the write transaction, so no document can
  // take the material between the checks and the mark.
  InWriteTransaction(dm.Database1, q, [&] {
    for (const UsageCheck& check : kUsageChecks) {
      SetStatement(q, {check.statement});
      q.Param(0).AsInteger(numMaterial);
      q.Open();
      if (!q.Eof()) throw Error(std::string(check.message));
    }
    SetStatement(q, {"Update T04_MATE Set T04_Exclusao = :p00, T04_ExcluidoPor = :p01 ",
                     "Where T04_NumMaterial = :p02 "});
    q.Param(0).AsDateTime(Today());
    q.Param(1).AsInteger(numUsuario);
    q.Param(2).AsInteger(numMaterial);
    q.ExecSQL();
  });
}

std::span<const QueryOption> MaterialQueryOptions() {
  static constexpr std::array<QueryOption, 2> kOptions = {{
      {"ConsultaMaterial", ConsultaMaterial},
      {"ConsultaMaterial2", ConsultaMaterial2},
  }};
  return kOptions;
}

std::span<const SaveOption> MaterialSaveOptions() {
  static constexpr std::array<SaveOption, 1> kOptions = {{{"GravaMaterial", GravaMaterial}}};
  return kOptions;
}

std::span<const DeleteOption> MaterialDeleteOptions() {
  static constexpr std::array<DeleteOption, 1> kOptions = {{{4, ExcluiMaterial}}};
  return kOptions;
}

void RegisterMaterialHandlers(service::HandlerRegistry::Builder& registry) {
  constexpr std::string_view kGroup = "DWServerEventsT04_MATE";
  struct ListEvent {
    std::string_view event;
    std::string_view option;
  };
  static constexpr std::array<ListEvent, 2> kLists = {{
      {"Consulta", "ConsultaMaterial"},
      {"Consulta2", "ConsultaMaterial2"},
  }};
  for (const ListEvent& list : kLists) registry.Add(kGroup, list.event, ListEventHandler(list.option));
  registry.Add(kGroup, "Grava", SaveEventHandler("GravaMaterial"));
}

}  // namespace quelvar::inventory
