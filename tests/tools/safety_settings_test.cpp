// The free query's budgets as Config1.ini sets them, and which paths count as
// the server's own files.

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../data/temp_dir.h"
#include "service/protected_files.h"
#include "tools/safety_settings.h"

namespace quelvar::tools {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

TEST(SafetySettings, BudgetsComeFromTheIndiceSectionOrTheirDefaults) {
  struct Case {
    std::string ini;
    std::int64_t seconds;
    std::uint64_t mib;
  } cases[] = {
      {"", 60, 512},
      {"[INDICE]\r\nPorta=8040\r\n", 60, 512},
      {"[INDICE]\r\nConsultaLivreSegundos=5\r\nConsultaLivreMemoriaMiB=64\r\n", 5, 64},
      {"[indice]\nconsultalivresegundos = 7 \n", 7, 512},
      {"[OUTRA]\nConsultaLivreSegundos=5\n[INDICE]\nPorta=1\n", 60, 512},
      {"[INDICE]\nConsultaLivreSegundos=0\nConsultaLivreMemoriaMiB=-3\n", 60, 512},
      {"[INDICE]\nConsultaLivreSegundos=dez\nConsultaLivreMemoriaMiB=12x\n", 60, 512},
      {"[INDICE]\nConsultaLivreSegundos=\"9\"\n", 9, 512},
      {"[INDICE]\nConsultaLivreSegundos=99999999999999999999\n", 60, 512},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    if (!c.ini.empty()) Write(dir.path() / "Config1.ini", c.ini);
    const FreeQueryBudget budget = ReadFreeQueryBudget(dir.path());
    EXPECT_EQ(budget.time.count(), c.seconds) << c.ini;
    EXPECT_EQ(budget.memoryMiB, c.mib) << c.ini;
  }
}

TEST(ProtectedFiles, EveryWayOfNamingTheDatabaseAndItsSideFilesMatches) {
  testing::TempDir dir;
  const fs::path db = dir.path() / "loja" / "QuelvarDB.db3";
  fs::create_directories(db.parent_path());
  fs::create_directories(dir.path() / "outra");
  Write(db, "x");
  Write(dir.path() / "outra" / "livre.db3", "y");
  fs::create_symlink(db, dir.path() / "outra" / "atalho.db3");
  fs::create_hard_link(db, dir.path() / "outra" / "vinculo.db3");
  fs::create_symlink(dir.path() / "loja", dir.path() / "pasta");
  const std::vector<fs::path> guarded = service::ProtectedFiles(db, dir.path());

  struct Case {
    fs::path candidate;
    bool matches;
  } cases[] = {
      {db, true},
      {dir.path() / "loja" / ".." / "loja" / "QuelvarDB.db3", true},
      {dir.path() / "outra" / "atalho.db3", true},
      {dir.path() / "outra" / "vinculo.db3", true},
      {dir.path() / "pasta" / "QuelvarDB.db3", true},
      {dir.path() / "pasta" / "QuelvarDB.db3-wal", true},  // need not exist
      {db.string() + "-journal", true},
      {db.string() + "-shm", true},
      {dir.path() / "Config1.ini", true},
      {dir.path() / "outra" / "livre.db3", false},
      {dir.path() / "outra" / "QuelvarDB.db3", false},
      {db.string() + "-outro", false},
  };
  for (const Case& c : cases) EXPECT_EQ(service::IsProtectedFile(c.candidate, guarded), c.matches) << c.candidate;
}

}  // namespace
}  // namespace quelvar::tools
