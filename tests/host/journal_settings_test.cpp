// The journal setting of Config1.ini: its values, and the server taking it
// from the settings file each time the database path is set.
#include "host/journal_settings.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "host/server_control.h"

namespace quelvar::host {
namespace {

TEST(JournalSetting, OnlyAYesKeepsTheRollbackJournal) {
  const struct {
    const char* text;
    JournalChoice journal;
  } cases[] = {
      {"1", JournalChoice::kRollback},         {"S", JournalChoice::kRollback},
      {" sim ", JournalChoice::kRollback},     {"TRUE", JournalChoice::kRollback},
      {"0", JournalChoice::kWriteAheadLog},    {"", JournalChoice::kWriteAheadLog},
      {"nao", JournalChoice::kWriteAheadLog},  {"off", JournalChoice::kWriteAheadLog},
      {"11", JournalChoice::kWriteAheadLog},   {"Delete", JournalChoice::kWriteAheadLog},
  };
  for (const auto& c : cases) EXPECT_EQ(JournalFromText(c.text), c.journal) << '"' << c.text << '"';
}

struct SilentConsole final : OperatorConsole {
  void countModule() override {}
  void log(std::string) override {}
};

TEST(JournalSetting, TheServerReadsItWhenTheDatabasePathIsSet) {
  std::string pattern = (std::filesystem::temp_directory_path() / "quelvar-journal-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path folder = pattern;
  SilentConsole console;
  ServerControl server(console, folder);
  auto write = [&](const std::string& text) { std::ofstream(folder / "Config1.ini", std::ios::binary) << text; };
  const struct {
    const char* settings;  // nullptr: no settings file
    JournalChoice journal;
  } cases[] = {
      {nullptr, JournalChoice::kWriteAheadLog},
      {"[INDICE]\r\nLocalQuelvarDB=x.db3\r\nDiarioRollback=1\r\n", JournalChoice::kRollback},
      {"[INDICE]\nDiarioRollback=0\n", JournalChoice::kWriteAheadLog},
      {"[OUTRA]\nDiarioRollback=1\n", JournalChoice::kWriteAheadLog},
      {"[indice]\ndiariorollback = Sim\n", JournalChoice::kRollback},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(folder / "Config1.ini");
    if (c.settings) write(c.settings);
    server.SetDatabasePath((folder / "QuelvarDB.db3").string());
    EXPECT_EQ(server.SharedDatabasePath()->Connections().Journal(), c.journal) << (c.settings ? c.settings : "none");
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quelvar::host
