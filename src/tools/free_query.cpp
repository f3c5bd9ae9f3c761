#include "tools/free_query.h"

#include <array>

#include "data/tdm.h"
#include "inventory/statement.h"

namespace quelvar::tools {

MemTable& QueryDinamica(TDM& dm, const inventory::QueryArgs& args) {
  inventory::SetStatement(dm.Query1, {args.pFiltro});
  dm.Query1.Open();
  dm.Query1.LoadInto(dm.MemTable1);
  return dm.MemTable1;
}

std::span<const inventory::QueryOption> FreeQueryOptions() {
  static constexpr std::array<inventory::QueryOption, 1> kOptions = {{{"QueryDinamica", QueryDinamica}}};
  return kOptions;
}

void QueryDinamicaEvent(TDM& dm, TDWParams& params, std::string& /*result*/) {
  const std::string sql = params.Item("SQL").GetAsString();
  params.Item("Tabela").SetAsString(inventory::Consulta(dm, "QueryDinamica", sql, false, "", ""));
}

}  // namespace quelvar::tools
