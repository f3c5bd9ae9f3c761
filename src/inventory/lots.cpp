#include "inventory/lots.h"

#include <array>
#include <string_view>

#include "data/local_clock.h"
#include "data/tdm.h"
#include "formats/errors.h"
#include "formats/text_codec.h"
#include "inventory/register_support.h"
#include "inventory/event_handlers.h"
#include "inventory/statement.h"

namespace quelvar::inventory {

namespace {

MemTable& LoadSorted(TDM& dm, std::string_view sortKey) {
  dm.Query1.Open();
  dm.Query1.LoadInto(dm.MemTable1);
  dm.Query1.Close();
  if (!sortKey.empty()) dm.MemTable1.SortOn(sortKey);
  return dm.MemTable1;
}

MemTable& RunLookup(TDM& dm, const QueryArgs& args, bool positiveBalanceOnly) {
  Query& q = dm.Query1;
  SetStatement(q, {
                      "Select T05_NumLote, T05_Lote, T05_Validade, T05_Local, T05_Custo, T05_Entradas, T05_Saidas, ",
                      "T04_Material, (T05_Entradas - T05_Saidas) as T05_Saldo ",
                      "From T05_LOTE, T04_MATE ",
                      "Where T05_Exclusao is Null and T05_NumMaterial = T04_NumMaterial ",
                  });
  if (positiveBalanceOnly) q.Add("and T05_Saldo > 0 ");
  if (!args.pDesat) q.Add("and NOT T05_Desativado ");
  if (!args.pFiltro.empty()) {
    q.Add("and T05_NumMaterial = :p00 ");
    q.Param(0).AsInteger(IntegerOrZero(args.pFiltro));
  }
  return LoadSorted(dm, "T04_Material;T05_Lote");
}

struct UsageCheck {
  std::string_view statement;
  std::string_view message;
};

constexpr std::array<UsageCheck, 3> kUsageChecks = {{
    {"Select T13_NumLote From T12_ENT1, T13_ENT2 Where T12_Exclusao is Null and T12_NumEntrada = T13_NumEntrada "
     "and T13_NumLote = :p00",
     "Este lote está sendo utilizado no cadastro de entradas.\rPor este motivo a exclusão não poderá ser "
     "realizada."},
    {"Select T17_NumLote From T16_SAI1, T17_SAI2 Where T16_Exclusao is Null and T16_NumSaida = T17_NumSaida and "
     "T17_NumLote = :p00",
     "Este lote está sendo utilizado no cadastro de saídas.\rPor este motivo a exclusão não poderá ser realizada."},
    {"Select T19_NumLote From T18_PER1, T19_PER2 Where T18_Exclusao is Null and T18_NumPerda = T19_NumPerda and "
     "T19_NumLote = :p00",
     "Este lote está sendo utilizado no cadastro de perdas.\rPor este motivo a exclusão não poderá ser realizada."},
}};

}  // namespace

MemTable& ConsultaLote(TDM& dm, const QueryArgs& args) {
  Query& q = dm.Query1;
  SetStatement(q, {
                      "Select T05_NumLote, T05_Lote, T05_NumMaterial, T05_Validade, T05_Custo, T05_Entradas, ",
                      "T05_Saidas, T05_Local, T05_Obs1, T05_Obs2, T05_Desativado, T04_Material, ",
                      "(T05_Entradas - T05_Saidas) as T05_Saldo ",
                      "From T05_LOTE, T04_MATE ",
                      "Where T05_Exclusao is Null and T05_NumMaterial = T04_NumMaterial ",
                  });
  if (!args.pDesat) q.Add("and NOT T05_Desativado ");
  if (!Trim(args.pFiltro).empty()) {
    q.Add("and T05_Lote like :p00 ");
    q.Param(0).AsString("%" + args.pFiltro + "%");
  }
  return LoadSorted(dm, "T05_Lote");
}

MemTable& ConsultaLookLote(TDM& dm, const QueryArgs& args) { return RunLookup(dm, args, false); }

MemTable& ConsultaLookLote2(TDM& dm, const QueryArgs& args) { return RunLookup(dm, args, true); }

MemTable& ConsultaLoteMat(TDM& dm, const QueryArgs& args) {
  Query& q = dm.Query1;
  SetStatement(q, {
                      "Select T05_NumLote, T05_Lote, T05_Validade, T05_Local, T05_Custo, ",
                      "(T05_Entradas - T05_Saidas) as T05_Saldo ",
                      "From T05_LOTE ",
                      "Where T05_NumMaterial = :p00 and T05_Lote = :p01 ",
                  });
  q.Param(0).AsInteger(IntegerOrZero(args.pData1));
  q.Param(1).AsString(args.pFiltro);
  return LoadSorted(dm, "");
}

MemTable& ConsultaFirstLote(TDM& dm, const QueryArgs& args) {
  Query& q = dm.Query1;
  SetStatement(q, {
                      "Select T12_Data From T12_ENT1, T13_ENT2 ",
                      "Where T12_Exclusao is Null and T13_Exclusao is Null ",
                      "and T12_NumEntrada = T13_NumEntrada and T13_NumLote = :p00 ",
                      "Order by T12_Data Limit 1",
                  });
  q.Param(0).AsInteger(IntegerOrZero(args.pFiltro));
  return LoadSorted(dm, "");
}

void GravaLote(TDM& dm, MemTable& header, MemTable& /*items*/, std::string& answer) {
  Query& q = dm.Query1;
  // The name check runs inside the write transaction, so two concurrent
  // renames to one name cannot both pass it.
  InWriteTransaction(dm.Database1, q, [&] {
    const std::int64_t n = header.AsInteger("T05_NumLote");
    SetStatement(q, {"Select T05_NumLote From T05_LOTE ",
                     "Where T05_Exclusao is Null and T05_Lote = :p00 and T05_NumMaterial = :p01 "});
    if (n > 0) q.Add("and T05_NumLote <> :p02 ");
    q.Param(0).AsString(header.AsString("T05_Lote"));
    q.Param(1).AsInteger(header.AsInteger("T05_NumMaterial"));
    if (n > 0) q.Param(2).AsInteger(n);
    q.Open();
    if (!q.Eof()) throw Error("Um lote com esta descrição já foi cadastrado anteriormente para este material.");

    SetStatement(q, {
                        "Update T05_LOTE Set ",
                        "T05_Lote       = :p00, ",
                        "T05_Desativado = :p01, ",
                        "T05_Validade   = :p02, ",
                        "T05_Local      = :p03, ",
                        "T05_Obs1       = :p04, ",
                        "T05_Obs2       = :p05  ",
                        "Where T05_NumLote = :p06 ",
                    });
    q.Param(0).AsString(header.AsString("T05_Lote"));
    q.Param(1).AsBoolean(header.AsBoolean("T05_Desativado"));
    // A lot without an expiry date keeps none, rather than failing the save.
    if (header.IsNull("T05_Validade"))
      q.Param(2).Clear();
    else
      q.Param(2).AsDate(header.AsDateTime("T05_Validade"));
    q.Param(3).AsString(header.AsString("T05_Local"));
    q.Param(4).AsString(header.AsString("T05_Obs1"));
    q.Param(5).AsString(header.AsString("T05_Obs2"));
    q.Param(6).AsInteger(n);
    q.ExecSQL();
    answer = std::to_string(n);
  });
}

void ExcluiLote(TDM& dm, std::int64_t numLote, std::int64_t numUsuario, std::string& answer) {
  answer = "OK";
  Query& q = dm.Query1;
  // The usage checks run inside the write transaction, so no document can
  // take the lot between the checks and the mark.
  InWriteTransaction(dm.Database1, q, [&] {
    for (const UsageCheck& check : kUsageChecks) {
      SetStatement(q, {check.statement});
      q.Param(0).AsInteger(numLote);
      q.Open();
      if (!q.Eof()) throw Error(std::string(check.message));
    }
    SetStatement(q, {"Update T05_LOTE Set T05_Exclusao = :p00, T05_ExcluidoPor = :p01 ",
                     "Where T05_NumLote = :p02 "});
    q.Param(0).AsDateTime(Today());
    q.Param(1).AsInteger(numUsuario);
    q.Param(2).AsInteger(numLote);
    q.ExecSQL();
  });
}

std::span<const QueryOption> LotQueryOptions() {
  static constexpr std::array<QueryOption, 5> kOptions = {{
      {"ConsultaLote", ConsultaLote},
      {"ConsultaLookLote", ConsultaLookLote},
      {"ConsultaLookLote2", ConsultaLookLote2},
      {"ConsultaLoteMat", ConsultaLoteMat},
      {"ConsultaFirstLote", ConsultaFirstLote},
  }};
  return kOptions;
}

std::span<const SaveOption> LotSaveOptions() {
  static constexpr std::array<SaveOption, 1> kOptions = {{{"GravaLote", GravaLote}}};
  return kOptions;
}

std::span<const DeleteOption> LotDeleteOptions() {
  static constexpr std::array<DeleteOption, 1> kOptions = {{{5, ExcluiLote}}};
  return kOptions;
}

void RegisterLotHandlers(service::HandlerRegistry::Builder& registry) {
  constexpr std::string_view kGroup = "DWServerEventsT05_LOTE";
  struct ListEvent {
    std::string_view event;
    std::string_view option;
  };
  // "Desativados" of ConsultaLookLote2 is declared as text; it is read as a boolean all the same.
  static constexpr std::array<ListEvent, 3> kLists = {{
      {"Consulta", "ConsultaLote"},
      {"ConsultaLookupLote", "ConsultaLookLote"},
      {"ConsultaLookLote2", "ConsultaLookLote2"},
  }};
  for (const ListEvent& list : kLists) registry.Add(kGroup, list.event, ListEventHandler(list.option));
  registry.Add(kGroup, "ConsultaLoteMaterial", [](TDM& dm, TDWParams& params, std::string&) {
    const std::string lote = params.Item("Lote").GetAsString();
    const std::string material = params.Item("NumMaterial").GetAsString();
    params.Item("Tabela").SetAsString(Consulta(dm, "ConsultaLoteMat", lote, false, material, ""));
  });
  registry.Add(kGroup, "ConsultaPrimeiroLote", [](TDM& dm, TDWParams& params, std::string&) {
    const std::string numLote = params.Item("NumLote").GetAsString();
    params.Item("Tabela").SetAsString(Consulta(dm, "ConsultaFirstLote", numLote, false, "", ""));
  });
  registry.Add(kGroup, "Grava", [](TDM& dm, TDWParams& params, std::string&) {
    const std::string tabela = params.Item("Tabela").GetAsString();
    params.Item("Resposta").SetAsString(Grava(dm, "GravaLote", tabela, ""));
  });
}

}  // namespace quelvar::inventory
