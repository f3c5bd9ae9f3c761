#include "inventory/documents.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "data/date_texts.h"
#include "data/local_clock.h"
#include "data/tdm.h"
#include "formats/errors.h"
#include "formats/text_codec.h"
#include "inventory/document_date.h"
#include "inventory/document_kinds.h"
#include "inventory/register_support.h"
#include "inventory/statement.h"

namespace quelvar::inventory {

namespace {

constexpr std::size_t kKindCount = 5;

MemTable& LoadSorted(TDM& dm, std::string_view sortKey) {
  dm.Query1.Open();
  dm.Query1.LoadInto(dm.MemTable1);
  dm.Query1.Close();
  dm.MemTable1.SortOn(sortKey);
  return dm.MemTable1;
}

// The list steps shared by the list with items and the header list.
MemTable& RunList(const DocumentKind& kind, std::string_view statement, TDM& dm, const QueryArgs& args) {
  Query& q = dm.Query1;
  SetStatement(q, {statement});
  if (!Trim(args.pData1).empty()) {
    q.Add(kind.dateFromCondition);
    q.Add(kind.dateToCondition);
    q.Param(0).AsDate(DocumentDate(args.pData1));
    q.Param(1).AsDate(DocumentDate(args.pData2));
  }
  if (!Trim(args.pFiltro).empty()) {
    const std::int32_t number = IntegerOrZero(args.pFiltro);
    if (number <= 0) {
      q.Add(kind.textCondition);
      q.ParamByName("p02").AsString("%" + args.pFiltro + "%");
    } else {
      q.Add(kind.numberCondition);
      q.ParamByName("p02").AsInteger(number);
    }
  }
  return LoadSorted(dm, kind.sortKey);
}

MemTable& RunItemList(const DocumentKind& kind, TDM& dm, const QueryArgs& args) {
  Query& q = dm.Query1;
  SetStatement(q, {kind.itemListStatement});
  q.Param(0).AsInteger(IntegerOrZero(args.pFiltro));
  return LoadSorted(dm, "T04_Material");
}

std::int64_t LastInsertedNumber(Query& q) {
  SetStatement(q, {"Select last_insert_rowid() as qUltimoNumero"});
  q.Open();
  return q.FieldByName("qUltimoNumero").AsInteger();
}

void BindDate(QueryParam& param, const MemTable& row, std::string_view field) {
  if (row.IsNull(field))
    param.Clear();
  else
    param.AsDate(row.AsDateTime(field));
}

// Runs `statement` with its parameters taken, in order, from `bindings`.
void Execute(Query& q, std::string_view statement, std::span<const Binding> bindings, const MemTable& row,
             std::int64_t number, std::int64_t lot) {
  SetStatement(q, {statement});
  for (std::size_t i = 0; i < bindings.size(); ++i) {
    QueryParam& param = q.Param(static_cast<int>(i));
    const Binding& b = bindings[i];
    switch (b.from) {
      case BindFrom::Integer: param.AsInteger(row.AsInteger(b.field)); break;
      case BindFrom::Real: param.AsFloat(row.AsFloat(b.field)); break;
      case BindFrom::Text: param.AsString(row.AsString(b.field)); break;
      case BindFrom::Date: BindDate(param, row, b.field); break;
      case BindFrom::DocumentNumber: param.AsInteger(number); break;
      case BindFrom::ResolvedLot: param.AsInteger(lot); break;
    }
  }
  q.ExecSQL();
}

// The live lot of the row's name and material, created when there is none.
// Runs inside the save's write transaction, so no other save can create the
// same lot between the lookup and the insert.
std::int64_t ResolveLot(Query& q, const MemTable& row) {
  SetStatement(q, {"Select T05_NumLote From T05_LOTE Where T05_Exclusao is Null and T05_Lote = :p00 and "
                   "T05_NumMaterial = :p01"});
  q.Param(0).AsString(row.AsString("T05_Lote"));
  q.Param(1).AsInteger(row.AsInteger("T05_NumMaterial"));
  q.Open();
  if (!q.Eof()) return q.FieldByName("T05_NumLote").AsInteger();
  SetStatement(q, {"Insert into T05_LOTE (T05_Desativado, T05_NumMaterial, T05_Validade, T05_Local, T05_Lote, "
                   "T05_Entradas, T05_Saidas) Values (:p00, :p01, :p02, :p03, :p04, :p05, :p06)"});
  q.Param(0).AsBoolean(false);
  q.Param(1).AsInteger(row.AsInteger("T05_NumMaterial"));
  BindDate(q.Param(2), row, "T05_Validade");
  q.Param(3).AsString(row.AsString("T05_Local"));
  q.Param(4).AsString(row.AsString("T05_Lote"));
  q.Param(5).AsInteger(0);
  q.Param(6).AsInteger(0);
  q.ExecSQL();
  return LastInsertedNumber(q);
}

void InsertItems(const DocumentKind& kind, Query& q, MemTable& items, std::int64_t number) {
  if (!items.Active()) return;
  for (items.First(); !items.Eof(); items.Next()) {
    const std::int64_t lot = kind.itemsNameLots ? ResolveLot(q, items) : 0;
    Execute(q, kind.itemInsert, kind.itemInsertBindings, items, number, lot);
  }
}

void RunSave(const DocumentKind& kind, TDM& dm, MemTable& header, MemTable& items, std::string& answer) {
  Query& q = dm.Query1;
  header.First();
  std::int64_t number = header.AsInteger(kind.headerNumberField);
  // One write transaction, taken at its start: header, items, lots and the
  // follow-up mark are saved whole or not at all, and two saves never
  // interleave their lot lookups.
  InWriteTransaction(dm.Database1, q, [&] {
    if (number > 0) {
      Execute(q, kind.headerUpdate, kind.headerUpdateBindings, header, number, 0);
      SetStatement(q, {kind.itemDelete});
      q.Param(0).AsInteger(number);
      q.ExecSQL();
      InsertItems(kind, q, items, number);
    } else {
      Execute(q, kind.headerInsert, kind.headerInsertBindings, header, 0, 0);
      number = LastInsertedNumber(q);
      // Items saved under a number that had no header (or whose header a
      // restore took back) keep that number: the new header goes above them
      // rather than adopting them.
      SetStatement(q, {kind.highestItemNumber});
      q.Open();
      const std::int64_t highestItem = q.FieldByName("qMaiorNumero").AsInteger();
      if (number <= highestItem) {
        SetStatement(q, {kind.headerRenumber});
        q.Param(0).AsInteger(highestItem + 1);
        q.Param(1).AsInteger(number);
        q.ExecSQL();
        number = highestItem + 1;
      }
      InsertItems(kind, q, items, number);
      if (!kind.followUp.sourceField.empty()) {
        const std::int64_t source = header.AsInteger(kind.followUp.sourceField);
        if (source > 0) {
          SetStatement(q, {kind.followUp.statement});
          q.Param(0).AsDateTime(Today());
          q.Param(1).AsInteger(source);
          q.ExecSQL();
        }
      }
    }
    answer = std::to_string(number);
  });
}

void RunDelete(const DocumentKind& kind, TDM& dm, std::int64_t number, std::int64_t user, std::string& answer) {
  answer = "OK";
  Query& q = dm.Query1;
  try {
    InWriteTransaction(dm.Database1, q, [&] {
      SetStatement(q, {kind.headerDeletion});
      q.Param(0).AsDateTime(Today());
      q.Param(1).AsInteger(user);
      q.Param(2).AsInteger(number);
      q.ExecSQL();
      if (!kind.itemDeletion.empty()) {
        SetStatement(q, {kind.itemDeletion});
        q.Param(0).AsDateTime(Today());
        q.Param(1).AsInteger(number);
        q.ExecSQL();
      }
    });
  } catch (const std::exception& e) {
    // Answered, not logged.
    answer = e.what();
  }
}

template <std::size_t K>
MemTable& ListWithItems(TDM& dm, const QueryArgs& args) {
  const DocumentKind& kind = DocumentKinds()[K];
  return RunList(kind, kind.listWithItemsStatement, dm, args);
}
template <std::size_t K>
MemTable& HeaderList(TDM& dm, const QueryArgs& args) {
  const DocumentKind& kind = DocumentKinds()[K];
  return RunList(kind, kind.headerListStatement, dm, args);
}
template <std::size_t K>
MemTable& ItemList(TDM& dm, const QueryArgs& args) {
  return RunItemList(DocumentKinds()[K], dm, args);
}
template <std::size_t K>
void Save(TDM& dm, MemTable& header, MemTable& items, std::string& answer) {
  RunSave(DocumentKinds()[K], dm, header, items, answer);
}
template <std::size_t K>
void Delete(TDM& dm, std::int64_t number, std::int64_t user, std::string& answer) {
  RunDelete(DocumentKinds()[K], dm, number, user, answer);
}

template <std::size_t... K>
std::array<QueryOption, 3 * kKindCount> MakeQueryOptions(std::index_sequence<K...>) {
  std::array<QueryOption, 3 * kKindCount> rows{};
  std::size_t i = 0;
  ((rows[i++] = {DocumentKinds()[K].listWithItemsOption, ListWithItems<K>},
    rows[i++] = {DocumentKinds()[K].headerListOption, HeaderList<K>},
    rows[i++] = {DocumentKinds()[K].itemListOption, ItemList<K>}),
   ...);
  return rows;
}
template <std::size_t... K>
std::array<SaveOption, kKindCount> MakeSaveOptions(std::index_sequence<K...>) {
  return {{{DocumentKinds()[K].saveOption, Save<K>}...}};
}
template <std::size_t... K>
std::array<DeleteOption, kKindCount> MakeDeleteOptions(std::index_sequence<K...>) {
  return {{{DocumentKinds()[K].deleteFlag, Delete<K>}...}};
}

}  // namespace

std::span<const QueryOption> DocumentQueryOptions() {
  static const auto rows = MakeQueryOptions(std::make_index_sequence<kKindCount>{});
  return rows;
}

std::span<const SaveOption> DocumentSaveOptions() {
  static const auto rows = MakeSaveOptions(std::make_index_sequence<kKindCount>{});
  return rows;
}

std::span<const DeleteOption> DocumentDeleteOptions() {
  static const auto rows = MakeDeleteOptions(std::make_index_sequence<kKindCount>{});
  return rows;
}

void RegisterDocumentHandlers(service::HandlerRegistry::Builder& registry) {
  for (const DocumentKind& kind : DocumentKinds()) {
    struct DateRangeList {
      std::string_view event;
      std::string_view option;
    };
    const std::array<DateRangeList, 2> lists = {{{"Consulta", kind.listWithItemsOption},
                                                 {"ConsultaMaster", kind.headerListOption}}};
    for (const DateRangeList& list : lists) {
      const std::string_view option = list.option;
      registry.Add(kind.group, list.event, [option](TDM& dm, TDWParams& params, std::string&) {
        const std::string filter = params.Item("Filtro").GetAsString();
        const std::string data1 = params.Item("Data1").GetAsString();
        const std::string data2 = params.Item("Data2").GetAsString();
        params.Item("Tabela").SetAsString(Consulta(dm, option, filter, false, data1, data2));
      });
    }
    const std::string_view itemOption = kind.itemListOption;
    registry.Add(kind.group, "ConsultaDetail", [itemOption](TDM& dm, TDWParams& params, std::string&) {
      const std::string filter = params.Item("Filtro").GetAsString();
      params.Item("Tabela").SetAsString(Consulta(dm, itemOption, filter, false, "", ""));
    });
    const std::string_view saveOption = kind.saveOption;
    registry.Add(kind.group, "Grava", [saveOption](TDM& dm, TDWParams& params, std::string&) {
      const std::string tabela = params.Item("Tabela").GetAsString();
      const std::string tabelaDet = params.Item("TabelaDet").GetAsString();
      params.Item("Resposta").SetAsString(Grava(dm, saveOption, tabela, tabelaDet));
    });
  }
}

}  // namespace quelvar::inventory
