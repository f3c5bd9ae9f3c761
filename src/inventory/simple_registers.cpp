#include "inventory/simple_registers.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "data/local_clock.h"
#include "data/tdm.h"
#include "formats/errors.h"
#include "formats/text_codec.h"
#include "inventory/register_support.h"
#include "inventory/event_handlers.h"
#include "inventory/statement.h"

namespace quelvar::inventory {

namespace {

constexpr std::array<UsageCheck, 1> kGroupUsage = {{
    {"Select T04_NumMaterial From T04_MATE Where T04_Exclusao is Null and T04_NumGrupo = :p00",
     "Este grupo está sendo utilizado no cadastro de materiais\rpelo item ", "T04_NumMaterial", true,
     " (podendo haver outros).\rPor este motivo a exclusão não poderá ser realizada."},
}};

constexpr std::array<UsageCheck, 1> kCostCentreUsage = {{
    {"Select T16_NumCC From T16_SAI1 Where T16_Exclusao is Null and T16_NumCC = :p00",
     "Este centro de custo está sendo utilizado no cadastro de saídas.\rPor este motivo a exclusão não poderá ser "
     "realizada."},
}};

constexpr std::array<UsageCheck, 1> kSectorUsage = {{
    {"Select T01_Usuario From T01_USUA Where T01_Exclusao is Null and T01_NumSetor = :p00",
     "Este Setor está sendo utilizado no cadastro de usuários\rpor ", "T01_Usuario", false,
     " (podendo haver outros).\rPor este motivo a exclusão não poderá ser realizada."},
}};

// Every live order counts, also one that has become an entry.
constexpr std::array<UsageCheck, 2> kSupplierUsage = {{
    {"Select T10_NumFornec From T10_PED1 Where T10_Exclusao is Null and T10_NumFornec = :p00",
     "Este Fornecedor está sendo utilizado no cadastro de pedidos.\rPor este motivo a exclusão não poderá ser "
     "realizada."},
    {"Select T12_NumFornec From T12_ENT1 Where T12_Exclusao is Null and T12_NumFornec = :p00",
     "Este Fornecedor está sendo utilizado no cadastro de entradas.\rPor este motivo a exclusão não poderá ser "
     "realizada."},
}};

constexpr std::array<std::string_view, 16> kSupplierTextColumns = {
    "T08_RazaoSocial", "T08_Contato",   "T08_CNPJ",     "T08_Inscricao", "T08_Email",  "T08_Site",
    "T08_Telefone1",   "T08_Telefone2", "T08_Endereco", "T08_Bairro",    "T08_Cidade", "T08_Estado",
    "T08_CEP",         "T08_PontoRefer", "T08_Obs1",    "T08_Obs2"};

constexpr std::array<UniqueColumn, 1> kSupplierUnique = {{
    {"T08_CNPJ", "Um outro fornecedor já foi gravado com este mesmo CNPJ.\rO nome do outro fornecedor é: "},
}};

constexpr SimpleRegister kGroup{
    .group = "DWServerEventsT06_GRUP",
    .table = "T06_GRUP",
    .keyColumn = "T06_NumGrupo",
    .nameColumn = "T06_Grupo",
    .deactivatedColumn = "T06_Desativado",
    .deletedColumn = "T06_Exclusao",
    .deletedByColumn = "T06_ExcluidoPor",
    .textColumns = {},
    .queryOption = "ConsultaGrupo",
    .saveOption = "GravaGrupo",
    .deleteFlag = 6,
    .duplicateMessage = "Um grupo com esta descrição já foi cadastrado anteriormente.",
    .uniqueColumns = {},
    .usageChecks = kGroupUsage,
    .deleteFailureRaises = false,
};

constexpr SimpleRegister kCostCentre{
    .group = "DWServerEventsT07_CENC",
    .table = "T07_CENC",
    .keyColumn = "T07_NumCC",
    .nameColumn = "T07_CentroCusto",
    .deactivatedColumn = "T07_Desativado",
    .deletedColumn = "T07_Exclusao",
    .deletedByColumn = "T07_ExcluidoPor",
    .textColumns = {},
    .queryOption = "ConsultaCenCusto",
    .saveOption = "GravaCenCusto",
    .deleteFlag = 7,
    .duplicateMessage = "Um centro de custo com esta descrição já foi cadastrado anteriormente.",
    .uniqueColumns = {},
    .usageChecks = kCostCentreUsage,
    .deleteFailureRaises = true,
};

constexpr SimpleRegister kSupplier{
    .group = "DWServerEventsT08_FORN",
    .table = "T08_FORN",
    .keyColumn = "T08_NumFornec",
    .nameColumn = "T08_Fornecedor",
    .deactivatedColumn = "T08_Desativado",
    .deletedColumn = "T08_Exclusao",
    .deletedByColumn = "T08_ExcluidoPor",
    .textColumns = kSupplierTextColumns,
    .queryOption = "ConsultaFornec",
    .saveOption = "GravaFornec",
    .deleteFlag = 8,
    .duplicateMessage = "Um fornecedor com esta descrição já foi cadastrado anteriormente.",
    .uniqueColumns = kSupplierUnique,
    .usageChecks = kSupplierUsage,
    .deleteFailureRaises = false,
};

constexpr SimpleRegister kSector{
    .group = "DWServerEventsT09_SETO",
    .table = "T09_SETO",
    .keyColumn = "T09_NumSetor",
    .nameColumn = "T09_Setor",
    .deactivatedColumn = "T09_Desativado",
    .deletedColumn = "T09_Exclusao",
    .deletedByColumn = "T09_ExcluidoPor",
    .textColumns = {},
    .queryOption = "ConsultaSetor",
    .saveOption = "GravaSetor",
    .deleteFlag = 9,
    .duplicateMessage = "Um setor com esta descrição já foi cadastrado anteriormente.",
    .uniqueColumns = {},
    .usageChecks = kSectorUsage,
    .deleteFailureRaises = false,
};

constexpr std::array<SimpleRegister, 4> kRegisters = {kGroup, kCostCentre, kSupplier, kSector};

std::string S(std::string_view v) { return std::string(v); }

// ":p00", ":p01", ...
std::string P(int index) {
  char text[16];
  std::snprintf(text, sizeof text, ":p%02d", index);
  return text;
}

// The refusal of a usage check whose statement found rows.
std::string Refusal(const UsageCheck& check, const Query& q) {
  if (check.namedColumn.empty()) return S(check.before);
  const QueryField field = q.FieldByName(check.namedColumn);
  const std::string named = check.sixDigits ? ZeroFilled6(field.AsInteger()) : field.AsString();
  return S(check.before) + named + S(check.after);
}

// "Select <key>, <name>[, <texts>], <deactivated> From <table> Where <deleted> is Null"
std::string ListSelect(const SimpleRegister& reg) {
  std::string columns = S(reg.keyColumn) + ", " + S(reg.nameColumn);
  for (std::string_view column : reg.textColumns) columns += ", " + S(column);
  columns += ", " + S(reg.deactivatedColumn);
  return "Select " + columns + " From " + S(reg.table) + " Where " + S(reg.deletedColumn) + " is Null";
}

// Fails with `message` (+ the found row's name when `withName`) when another
// live row has `value` in `column`.
void CheckUnique(TDM& dm, const SimpleRegister& reg, std::string_view column, const std::string& value,
                 std::int64_t n, std::string_view selected, std::string_view message, bool withName) {
  Query& q = dm.Query1;
  const std::string select = "Select " + S(selected) + " From " + S(reg.table) + " Where " + S(reg.deletedColumn) +
                             " is Null and " + S(column) + " = :p00";
  const std::string other = "and " + S(reg.keyColumn) + " <> :p01";
  if (n > 0)
    SetStatement(q, {select, other});
  else
    SetStatement(q, {select});
  q.Param(0).AsString(value);
  if (n > 0) q.Param(1).AsInteger(n);
  q.Open();
  if (q.RecordCount() > 0) {
    std::string text = S(message);
    if (withName) text += q.FieldByName(reg.nameColumn).AsString();
    throw Error(text);
  }
}

void Update(TDM& dm, const SimpleRegister& reg, MemTable& row, std::int64_t n) {
  Query& q = dm.Query1;
  std::string set = "Update " + S(reg.table) + " Set " + S(reg.nameColumn) + " = :p00, " +
                    S(reg.deactivatedColumn) + " = :p01";
  int index = 2;
  for (std::string_view column : reg.textColumns) set += ", " + S(column) + " = " + P(index++);
  SetStatement(q, {set + " Where " + S(reg.keyColumn) + " = " + P(index)});
  q.Param(0).AsString(row.AsString(reg.nameColumn));
  q.Param(1).AsBoolean(row.AsBoolean(reg.deactivatedColumn));
  index = 2;
  for (std::string_view column : reg.textColumns) q.Param(index++).AsString(row.AsString(column));
  q.Param(index).AsInteger(n);
  q.ExecSQL();
}

std::int64_t Insert(TDM& dm, const SimpleRegister& reg, MemTable& row) {
  Query& q = dm.Query1;
  std::string columns = S(reg.deactivatedColumn) + ", " + S(reg.nameColumn);
  std::string values = ":p00, :p01";
  int index = 2;
  for (std::string_view column : reg.textColumns) {
    columns += ", " + S(column);
    values += ", " + P(index++);
  }
  SetStatement(q, {"Insert into " + S(reg.table) + " (" + columns + ") Values (" + values + ")"});
  q.Param(0).AsBoolean(false);
  q.Param(1).AsString(row.AsString(reg.nameColumn));
  index = 2;
  for (std::string_view column : reg.textColumns) q.Param(index++).AsString(row.AsString(column));
  q.ExecSQL();
  SetStatement(q, {"Select last_insert_rowid() as qUltimoNumero"});
  q.Open();
  return q.FieldByName("qUltimoNumero").AsInteger();
}

template <const SimpleRegister& R>
MemTable& RunList(TDM& dm, const QueryArgs& args) {
  return ListRegister(dm, R, args);
}
template <const SimpleRegister& R>
void RunSave(TDM& dm, MemTable& header, MemTable& /*items*/, std::string& answer) {
  SaveRegister(dm, R, header, answer);
}
template <const SimpleRegister& R>
void RunDelete(TDM& dm, std::int64_t key, std::int64_t user, std::string& answer) {
  DeleteRegister(dm, R, key, user, answer);
}

}  // namespace

std::span<const SimpleRegister> SimpleRegisters() { return kRegisters; }

MemTable& ListRegister(TDM& dm, const SimpleRegister& reg, const QueryArgs& args) {
  Query& q = dm.Query1;
  SetStatement(q, {ListSelect(reg)});
  if (!args.pDesat) q.Add("and NOT " + S(reg.deactivatedColumn));
  if (!Trim(args.pFiltro).empty()) {
    q.Add("and " + S(reg.nameColumn) + " like :p00");
    q.Param(0).AsString("%" + args.pFiltro + "%");  // the filter as received
  }
  q.Open();
  q.LoadInto(dm.MemTable1);
  dm.MemTable1.SortOn(reg.nameColumn);
  return dm.MemTable1;
}

// The checks and the write share one immediate transaction, so two saves of
// the same name cannot both pass their checks.
void SaveRegister(TDM& dm, const SimpleRegister& reg, MemTable& row, std::string& answer) {
  try {
    std::int64_t n = row.AsInteger(reg.keyColumn);
    dm.Database1.StartTransactionImmediate();
    CheckUnique(dm, reg, reg.nameColumn, row.AsString(reg.nameColumn), n, reg.keyColumn, reg.duplicateMessage,
                false);
    for (const UniqueColumn& unique : reg.uniqueColumns) {
      const std::string value = row.AsString(unique.column);
      if (!Trim(value).empty()) CheckUnique(dm, reg, unique.column, value, n, reg.nameColumn, unique.message, true);
    }
    if (n > 0)
      Update(dm, reg, row, n);
    else
      n = Insert(dm, reg, row);
    dm.Database1.Commit();
    dm.Query1.Close();
    answer = std::to_string(n);
  } catch (const std::exception& e) {
    dm.Database1.Rollback();
    dm.Query1.Close();
    throw Error(e.what());
  }
}

// The usage checks and the mark share one immediate transaction, so a row
// cannot come into use between the check and the mark.
void DeleteRegister(TDM& dm, const SimpleRegister& reg, std::int64_t key, std::int64_t user, std::string& answer) {
  answer = "OK";
  try {
    Query& q = dm.Query1;
    dm.Database1.StartTransactionImmediate();
    for (const UsageCheck& check : reg.usageChecks) {
      SetStatement(q, {check.statement});
      q.Param(0).AsInteger(key);
      q.Open();
      if (q.RecordCount() > 0) throw Error(Refusal(check, q));
    }
    SetStatement(q, {"Update " + S(reg.table) + " Set " + S(reg.deletedColumn) + " = :p00, " +
                     S(reg.deletedByColumn) + " = :p01 Where " + S(reg.keyColumn) + " = :p02"});
    q.Param(0).AsDateTime(Today());
    q.Param(1).AsInteger(user);
    q.Param(2).AsInteger(key);
    q.ExecSQL();
    dm.Database1.Commit();
    q.Close();
  } catch (const std::exception& e) {
    dm.Database1.Rollback();
    dm.Query1.Close();
    if (reg.deleteFailureRaises) throw Error(e.what());
    answer = e.what();
  }
}

std::span<const QueryOption> SimpleRegisterQueryOptions() {
  static constexpr std::array<QueryOption, 4> kOptions = {{
      {kGroup.queryOption, RunList<kGroup>},
      {kCostCentre.queryOption, RunList<kCostCentre>},
      {kSupplier.queryOption, RunList<kSupplier>},
      {kSector.queryOption, RunList<kSector>},
  }};
  return kOptions;
}

std::span<const SaveOption> SimpleRegisterSaveOptions() {
  static constexpr std::array<SaveOption, 4> kOptions = {{
      {kGroup.saveOption, RunSave<kGroup>},
      {kCostCentre.saveOption, RunSave<kCostCentre>},
      {kSupplier.saveOption, RunSave<kSupplier>},
      {kSector.saveOption, RunSave<kSector>},
  }};
  return kOptions;
}

std::span<const DeleteOption> SimpleRegisterDeleteOptions() {
  static constexpr std::array<DeleteOption, 4> kOptions = {{
      {kGroup.deleteFlag, RunDelete<kGroup>},
      {kCostCentre.deleteFlag, RunDelete<kCostCentre>},
      {kSupplier.deleteFlag, RunDelete<kSupplier>},
      {kSector.deleteFlag, RunDelete<kSector>},
  }};
  return kOptions;
}

void RegisterSimpleRegisterHandlers(service::HandlerRegistry::Builder& registry) {
  for (const SimpleRegister& reg : kRegisters) {
    registry.Add(reg.group, "Consulta", ListEventHandler(reg.queryOption));
    registry.Add(reg.group, "Grava", SaveEventHandler(reg.saveOption));
  }
}

}  // namespace quelvar::inventory
