// The safe backup writer on its own, as a scheduled backup calls it: what it
// replaces, what it refuses, and what a failed copy leaves behind.

#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../data/temp_dir.h"
#include "data/engine_error.h"
#include "formats/errors.h"
#include "tools/backup_writer.h"

namespace quelvar::tools {
namespace {

namespace fs = std::filesystem;

void Exec(const fs::path& db, const std::string& sql) {
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(raw);
  sqlite3_close(raw);
}

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
std::unique_ptr<sqlite3, Closer> OpenDatabase(const fs::path& db) {
  sqlite3* raw = nullptr;
  sqlite3_open(db.c_str(), &raw);
  return std::unique_ptr<sqlite3, Closer>(raw);
}

std::string Read(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class BackupWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(live_.parent_path());
    fs::create_directory(copies_);
    Exec(live_, "PRAGMA journal_mode = WAL; Create Table T(x TEXT); Insert Into T Values ('um')");
    fs::permissions(live_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  }
  testing::TempDir dir_;
  fs::path live_ = dir_.path() / "loja" / "QuelvarDB.db3";
  fs::path copies_ = dir_.path() / "copias";
};

TEST_F(BackupWriter, ReplacesAnEarlierBackupWithAWholeSingleFileCopy) {
  const fs::path target = copies_ / "Diario.db3";
  WriteBackupSafely(live_, target);
  Exec(live_, "Insert Into T Values ('dois')");
  WriteBackupSafely(live_, target);

  EXPECT_EQ(Names(copies_), std::vector<std::string>{"Diario.db3"});  // no side file, no leftover
  EXPECT_TRUE(CarriesBackupMark(target));
  EXPECT_FALSE(CarriesBackupMark(live_));
  EXPECT_EQ(fs::status(target).permissions(), fs::status(live_).permissions());
  sqlite3* copy = nullptr;
  ASSERT_EQ(sqlite3_open_v2(target.c_str(), &copy, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(copy, "Select count(*) From T", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 2);
  sqlite3_finalize(st);
  ASSERT_EQ(sqlite3_prepare_v2(copy, "PRAGMA journal_mode", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))), "delete");
  sqlite3_finalize(st);
  sqlite3_close(copy);
}

TEST_F(BackupWriter, RefusalsAndFailuresLeaveEveryFileAsItWas) {
  const fs::path earlier = copies_ / "Antigo.db3";
  WriteBackupSafely(live_, earlier);
  const std::string earlierBytes = Read(earlier);
  std::ofstream(copies_ / "notas.txt") << "texto";
  // Databases that are no backup of this server: another program's, and
  // another shop's live file beside this one (once put back from a backup).
  Exec(copies_ / "Outro.db3", "Create Table Y(z)");
  const fs::path neighbour = live_.parent_path() / "Estoque2.db3";
  WriteBackupSafely(live_, neighbour);
  ClearBackupMark(OpenDatabase(neighbour).get());
  const std::string otherBytes = Read(copies_ / "Outro.db3");
  const std::string neighbourBytes = Read(neighbour);
  const std::string liveBytes = Read(live_);

  struct Case {
    fs::path source, destination;
    std::string message;  // prefix of the failure's message
  };
  const std::vector<Case> cases = {
      {live_, live_, std::string(kBackupTargetProtected)},
      {live_, live_.string() + "-wal", std::string(kBackupTargetProtected)},
      {live_, live_.parent_path() / ".." / "loja" / "QuelvarDB.db3-journal", std::string(kBackupTargetProtected)},
      {live_, copies_ / "notas.txt", std::string(kBackupTargetNotBackup)},
      {live_, copies_ / "Outro.db3", std::string(kBackupTargetNotBackup)},
      {live_, neighbour, std::string(kBackupTargetNotBackup)},
      {live_, copies_ / "falta" / "x.db3", std::string(kBackupCopyFailure) + "No such file or directory"},
      {dir_.path() / "nao-existe.db3", earlier, "[SQLite] unable to open database file"},
  };
  for (const Case& c : cases) {
    try {
      WriteBackupSafely(c.source, c.destination);
      ADD_FAILURE() << c.destination << " was not refused";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << c.destination << ": " << e.what();
    }
  }
  EXPECT_EQ(Read(earlier), earlierBytes);
  EXPECT_EQ(Read(copies_ / "notas.txt"), "texto");
  EXPECT_EQ(Read(copies_ / "Outro.db3"), otherBytes);
  EXPECT_EQ(Read(neighbour), neighbourBytes);
  EXPECT_EQ(Names(copies_), (std::vector<std::string>{"Antigo.db3", "Outro.db3", "notas.txt"}));
  EXPECT_EQ(Read(live_), liveBytes);
}

TEST_F(BackupWriter, ExtraProtectedFilesAreRefusedToo) {
  const fs::path settings = dir_.path() / "Config1.ini";
  const std::vector<fs::path> guarded = {settings};
  EXPECT_THROW(WriteBackupSafely(live_, settings, guarded), Error);
  EXPECT_FALSE(fs::exists(settings));
}

}  // namespace
}  // namespace quelvar::tools
