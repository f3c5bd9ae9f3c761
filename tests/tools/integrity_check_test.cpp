// The integrity check and compaction ("Reordena") under each journal setting:
// they keep their answers, never switch the file's journal mode, and run while
// the server's other connections are open.

#include "tools/integrity_check.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "data/connect_settings.h"
#include "data/query.h"
#include "data/sqlite_handles.h"
#include "data/tdm.h"
#include "data/database_path.h"

namespace quelvar::tools {
namespace {

class LogConsole final : public OperatorConsole {
 public:
  void countModule() override {}
  void log(std::string entry) override { entries.push_back(std::move(entry)); }
  std::vector<std::string> entries;
};

class Folder {
 public:
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quelvar-check-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    path_ = pattern;
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string &name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string Value(Database &db, const std::string &sql) {
  Query q(db);
  q.Add(sql);
  q.Open();
  return q.FieldByName(q.Fields()[0].name).AsString();
}

void Exec(Database &db, const std::string &sql) {
  Query q(db);
  q.Add(sql);
  q.ExecSQL();
}

// The journal mode written in the file itself, read by a plain connection.
std::string FileJournalMode(const std::string &file) {
  sqlite3 *raw = nullptr;
  sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  SqliteConnection db(raw);
  sqlite3_stmt *st = nullptr;
  sqlite3_prepare_v2(raw, "PRAGMA journal_mode", -1, &st, nullptr);
  SqliteStatement statement(st);
  if (sqlite3_step(st) != SQLITE_ROW) return sqlite3_errmsg(raw);
  return reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
}

TEST(IntegrityCheck, KeepsTheJournalAndItsAnswersWhileOtherConnectionsAreOpen) {
  struct Case {
    JournalChoice journal;
    const char *mode;
  } cases[] = {{JournalChoice::kWriteAheadLog, "wal"}, {JournalChoice::kRollback, "delete"}};
  for (const Case &c : cases) {
    Folder folder;
    LogConsole console;
    auto path = std::make_shared<DatabasePath>(folder.File("QuelvarDB.db3"));
    path->Connections().SetJournal(c.journal);
    {
      TDM setup(console, path, "/");
      Exec(setup.Database1, "create table t(v)");
      Exec(setup.Database1,
           "with recursive n(i) as (select 1 union all select "
           "i + 1 from n where i < 2000) "
           "insert into t select randomblob(200) from n");
      Exec(setup.Database1, "delete from t where rowid % 2 = 0");
    }
    path->Connections().Drain();  // the last connection folds the log into the file
    const auto sizeBefore = std::filesystem::file_size(folder.File("QuelvarDB.db3"));

    TDM dm(console, path, "/");
    // The module's own connection is open, as the backup's is before its check.
    EXPECT_EQ(Value(dm.Database1, "select count(*) from t"), "1000") << c.mode;
    std::string answer = "unset";
    ReordenaBanco(dm, answer);
    EXPECT_EQ(answer, "OK") << c.mode;
    EXPECT_TRUE(console.entries.empty()) << c.mode << ": " << console.entries.front();
    EXPECT_EQ(FileJournalMode(folder.File("QuelvarDB.db3")), c.mode);
    EXPECT_EQ(Value(dm.Database1, "PRAGMA journal_mode"), c.mode);
    EXPECT_EQ(Value(dm.Database1, "select count(*) from t"), "1000") << c.mode;
    dm.Database1.Close();
    path->Connections().Drain();
    // Compacted: the deleted half of the rows no longer takes room.
    EXPECT_LT(std::filesystem::file_size(folder.File("QuelvarDB.db3")), sizeBefore * 3 / 4) << c.mode;
  }
}

TEST(IntegrityCheck, ADamagedFileIsReportedNotOk) {
  Folder folder;
  LogConsole console;
  const std::string file = folder.File("QuelvarDB.db3");
  auto path = std::make_shared<DatabasePath>(file);
  {
    TDM setup(console, path, "/");
    Exec(setup.Database1, "create table t(v text)");
    Exec(setup.Database1, "create index ix on t(v)");
    Exec(setup.Database1, "insert into t values ('a'), ('b'), ('c')");
  }
  path->Connections().Drain();
  {
    // The index loses track of a row: the check must see it. (The server's
    // own connections refuse such a write; a plain one does it.)
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA writable_schema = On", nullptr, nullptr, nullptr);
    EXPECT_EQ(sqlite3_exec(db,
                           "update sqlite_master set sql = 'create index ix on "
                           "t(v desc)' where name = 'ix'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  TDM dm(console, path, "/");
  IntegrityValidator validator(dm, file);
  EXPECT_FALSE(validator.Check());
  ASSERT_FALSE(console.entries.empty());
  EXPECT_EQ(console.entries.front().rfind("Validate MSG: \r", 0), 0u) << console.entries.front();
}

}  // namespace
}  // namespace quelvar::tools
