#include "tools/free_query.h"

#include "data/engine_error.h"
#include "data/tdm.h"
#include "formats/errors.h"
#include "inventory/statement.h"
#include "tools/free_query_guard.h"
#include "tools/free_query_slots.h"
#include "tools/safety_settings.h"

namespace quelvar::tools {

MemTable& QueryDinamica(TDM& dm, const inventory::QueryArgs& args) {
  const FreeQueryBudget budget = ReadFreeQueryBudget(dm.ProgramFolder());
  const FreeQuerySlot slot(budget.atOnce);
  inventory::SetStatement(dm.Query1, {args.pFiltro});
  FreeQueryGuard guard(dm.Database1.Handle(), budget);
  guard.RequireReadOnly(args.pFiltro);
  guard.Start();
  try {
    dm.Query1.Open();
  } catch (const EngineError& e) {
    dm.Query1.Close();
    if (const std::string budget = guard.ExceededMessage(e.Code()); !budget.empty()) throw Error(budget);
    throw;
  }
  dm.Query1.LoadInto(dm.MemTable1);
  return dm.MemTable1;
}

void QueryDinamicaEvent(TDM& dm, TDWParams& params, std::string& /*result*/) {
  const std::string sql = params.Item("SQL").GetAsString();
  params.Item("Tabela").SetAsString(inventory::ConsultaPor(dm, "QueryDinamica", QueryDinamica, {sql, false, "", ""}));
}

}  // namespace quelvar::tools
