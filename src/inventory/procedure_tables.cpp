#include "inventory/procedure_tables.h"

#include <initializer_list>
#include <vector>

#include "inventory/config_record.h"
#include "inventory/cost_calculation.h"
#include "inventory/documents.h"
#include "inventory/lots.h"
#include "inventory/materials.h"
#include "inventory/simple_registers.h"
#include "inventory/users.h"

namespace quelvar::inventory {

namespace {

template <typename Row>
std::vector<Row> Join(std::initializer_list<std::span<const Row>> families) {
  std::vector<Row> all;
  for (auto family : families) all.insert(all.end(), family.begin(), family.end());
  return all;
}

}  // namespace

// Built once, on first use, and never changed afterwards.
std::span<const QueryOption> QueryOptions() {
  static const std::vector<QueryOption> table = Join<QueryOption>({DocumentQueryOptions(), CostQueryOptions(), ConfigQueryOptions(), MaterialQueryOptions(), LotQueryOptions(), SimpleRegisterQueryOptions(), UserQueryOptions()});
  return table;
}

std::span<const SaveOption> SaveOptions() {
  static const std::vector<SaveOption> table = Join<SaveOption>({DocumentSaveOptions(), ConfigSaveOptions(), MaterialSaveOptions(), LotSaveOptions(), SimpleRegisterSaveOptions(), UserSaveOptions()});
  return table;
}

std::span<const DeleteOption> DeleteOptions() {
  static const std::vector<DeleteOption> table = Join<DeleteOption>({DocumentDeleteOptions(), MaterialDeleteOptions(), LotDeleteOptions(), SimpleRegisterDeleteOptions(), UserDeleteOptions(), });
  return table;
}

}  // namespace quelvar::inventory
