#pragma once
// The small registers the documents and the material catalogue refer to:
// material groups (T06_GRUP), cost centres (T07_CENC), suppliers (T08_FORN)
// and sectors (T09_SETO). One implementation, driven by one descriptor per
// register: table and columns, option strings, messages and usage checks.
// Each register lists (honouring deactivation, searching by name), saves
// (refusing a second live row with the same name, inserting or updating) and
// soft-deletes (refused while the row is in use).

#include <span>
#include <string_view>

#include "inventory/dispatch.h"
#include "service/handler_registry.h"

namespace quelvar::inventory {

// A statement that finds rows using the register's row (`p00` = its number),
// and the refusal it causes. When `namedColumn` is not empty the message is
// before + the first row's value of that column (six digits when
// `sixDigits`) + after; otherwise it is `before` alone.
struct UsageCheck {
  std::string_view statement;
  std::string_view before;
  std::string_view namedColumn = {};
  bool sixDigits = false;
  std::string_view after = {};
};

// A second column that must be unique among live rows when not blank; the
// refusal is `message` + the other row's name.
struct UniqueColumn {
  std::string_view column;
  std::string_view message;
};

struct SimpleRegister {
  std::string_view group;  // event group of the register's handlers
  std::string_view table;
  std::string_view keyColumn;
  std::string_view nameColumn;
  std::string_view deactivatedColumn;
  std::string_view deletedColumn;
  std::string_view deletedByColumn;
  // Further text columns, in their listed, updated and inserted order.
  std::span<const std::string_view> textColumns;
  std::string_view queryOption;
  std::string_view saveOption;
  int deleteFlag;
  std::string_view duplicateMessage;
  std::span<const UniqueColumn> uniqueColumns;
  std::span<const UsageCheck> usageChecks;
  // True: a refused or failed delete raises (the delete dispatch logs and
  // answers it); false: it is answered with its message, without a log line.
  bool deleteFailureRaises;
};

// The four registers: group, cost centre, supplier, sector.
std::span<const SimpleRegister> SimpleRegisters();

// The procedures, for any register.
MemTable& ListRegister(TDM& dm, const SimpleRegister& reg, const QueryArgs& args);
void SaveRegister(TDM& dm, const SimpleRegister& reg, MemTable& row, std::string& answer);
void DeleteRegister(TDM& dm, const SimpleRegister& reg, std::int64_t key, std::int64_t user, std::string& answer);

std::span<const QueryOption> SimpleRegisterQueryOptions();
std::span<const SaveOption> SimpleRegisterSaveOptions();
std::span<const DeleteOption> SimpleRegisterDeleteOptions();

// "Consulta" and "Grava" of the four groups ("Exclui" is the shared delete handler).
void RegisterSimpleRegisterHandlers(service::HandlerRegistry::Builder& registry);

}  // namespace quelvar::inventory
