// Named parameters found in statement texts.
#include "data/sql_params.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quelvar {
namespace {

TEST(SqlParams, FoundInOrderOfFirstAppearanceOutsideLiteralsAndComments) {
  struct Case {
    std::string sql;
    std::vector<std::string> names;
  } cases[] = {
      {"", {}},
      {"select 1", {}},
      {"select :p00, :p01", {"p00", "p01"}},
      {"where a = :p01 and b = :p00 and c = :p01", {"p01", "p00"}},
      {"where a = :P00 or b = :p00", {"P00"}},
      {"values (:p00,:p01)\n and :p02", {"p00", "p01", "p02"}},
      {":p00:p01", {"p00", "p01"}},
      {"where a = ':p05' and b = :p00", {"p00"}},
      {"where a = 'it''s :p03' || :p00", {"p00"}},
      {"where \"col:p07\" = :p00", {"p00"}},
      {"where \"a\"\":p08\" = :p00", {"p00"}},
      {"where `x:p07` = :p00", {"p00"}},
      {"where [a:p07] = :p00", {"p00"}},
      {"select 1 -- :p09\n, :p00", {"p00"}},
      {"select 1 -- :p09", {}},
      {"select /* :p09 */ :p00", {"p00"}},
      {"select /* :p09 ", {}},
      {"where hora = '10:30'", {}},
      {"select a : b", {}},
      {"select 'unterminated :p00", {}},
      {"where x = :_nome1", {"_nome1"}},
      {"select 1 - :p00 / 2", {"p00"}},  // "-" and "/" alone start no comment
  };
  for (const auto& c : cases) EXPECT_EQ(ScanParamNames(c.sql), c.names) << c.sql;
}

}  // namespace
}  // namespace quelvar
