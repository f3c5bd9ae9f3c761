// Database: opening on first use, the connect sequence, transactions, locking.
#include "data/database.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include <sqlite3.h>

#include "data/connection_pool.h"
#include "data/connect_settings.h"
#include "data/engine_error.h"
#include "data/sqlite_handles.h"
#include "data/query.h"
#include "temp_dir.h"

namespace quelvar {
namespace {

using testing::TempDir;

void Exec(Database& db, const std::string& sql) {
  Query q(db);
  q.Add(sql);
  q.ExecSQL();
}

std::int64_t Count(Database& db, const std::string& table) {
  Query q(db);
  q.Add("Select count(*) as n from " + table);
  q.Open();
  return q.FieldByName("n").AsInteger();
}

// The message of the Error that `action` raises.
std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

class DatabaseTest : public ::testing::Test {
 protected:
  std::function<std::string()> PathOf(const std::string& name) {
    return [file = dir.File(name)] { return file; };
  }
  TempDir dir;
};

TEST_F(DatabaseTest, NeverOpensWithoutAStatement) {
  int pathReads = 0;
  const std::string file = dir.File("never.db");
  {
    Database db([&] {
      ++pathReads;
      return file;
    });
    EXPECT_FALSE(db.Connected());
    EXPECT_FALSE(db.InTransaction());
    db.Rollback();  // nothing open: nothing happens, and no connection either
    EXPECT_FALSE(db.Connected());
  }
  EXPECT_EQ(pathReads, 0);
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(DatabaseTest, AnEmptyStatementDoesNotOpenTheFile) {
  const std::string file = dir.File("empty.db");
  Database db([&] { return file; });
  Query q(db);
  q.Add("   ");
  EXPECT_EQ(ErrorOf([&] { q.ExecSQL(); }), "The statement text is empty");
  EXPECT_FALSE(db.Connected());
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(DatabaseTest, ReadsThePathAtConnectAndCreatesTheFile) {
  std::string configured = dir.File("old.db");
  Database db([&] { return configured; });
  configured = dir.File("new.db");  // changed after the module was created
  Exec(db, "create table t(v)");
  EXPECT_TRUE(db.Connected());
  EXPECT_TRUE(std::filesystem::exists(dir.File("new.db")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("old.db")));
  configured = dir.File("other.db");  // an open connection keeps its file
  EXPECT_EQ(Count(db, "t"), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("other.db")));
}

// The value `pragma` reads on the connection of `db`.
std::string PragmaValue(Database& db, const std::string& pragma) {
  Query q(db);
  q.Add("PRAGMA " + pragma);
  q.Open();
  if (q.RecordCount() != 1 || q.FieldCount() != 1) return "(not one value)";
  return q.FieldByName(q.Fields()[0].name).AsString();
}

TEST_F(DatabaseTest, ConnectSequenceSettings) {
  // synchronous: 1 is Normal, 2 is Full; never 0 (Off).
  struct Case {
    JournalChoice journal;
    const char* synchronous;
    const char* journalMode;
  } journals[] = {
      {JournalChoice::kWriteAheadLog, "1", "wal"},
      {JournalChoice::kRollback, "2", "delete"},
  };
  for (const auto& j : journals) {
    ConnectionPool pool;
    pool.SetJournal(j.journal);
    Database db(PathOf(std::string("settings-") + j.journalMode + ".db"), &pool);
    const std::pair<const char*, const char*> cases[] = {
        {"busy_timeout", "10000"},       {"cache_size", "10000"},        {"locking_mode", "normal"},
        {"synchronous", j.synchronous}, {"journal_mode", j.journalMode}, {"foreign_keys", "1"},
    };
    for (const auto& [pragma, value] : cases) EXPECT_EQ(PragmaValue(db, pragma), value) << pragma << " " << j.journalMode;
  }
}

// What no statement on a configured connection may do: write the schema
// table by hand, read or set engine addresses, load code.
TEST_F(DatabaseTest, ConnectionsRefuseTheEngineInternals) {
  SqliteConnection db =
      OpenConfigured(dir.File("internals.db"), JournalChoice::kWriteAheadLog, LockingChoice::kNormal, true);
  ASSERT_EQ(sqlite3_exec(db.get(), "Create Table T(x)", nullptr, nullptr, nullptr), SQLITE_OK);
  struct Case {
    const char* sql;
    bool refused;  // false: runs, but hands out no address
  } cases[] = {
      {"PRAGMA writable_schema = 1; Update sqlite_master Set sql = 'Create Table T(y)' Where name = 'T'", true},
      {"Select load_extension('libm.so.6')", true},
      {"Select fts3_tokenizer('simple', x'0100000000000000')", true},
      {"Select fts3_tokenizer('simple') Is Null Or length(fts3_tokenizer('simple')) = 0", false},
  };
  for (const Case& c : cases) {
    if (c.refused) {
      // Every statement of the text, so that a first PRAGMA does not hide what follows.
      EXPECT_NE(sqlite3_exec(db.get(), c.sql, nullptr, nullptr, nullptr), SQLITE_OK) << c.sql;
      continue;
    }
    sqlite3_stmt* raw = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db.get(), c.sql, -1, &raw, nullptr), SQLITE_OK) << c.sql << ": " << sqlite3_errmsg(db.get());
    SqliteStatement statement(raw);
    ASSERT_EQ(sqlite3_step(raw), SQLITE_ROW) << sqlite3_errmsg(db.get());
    EXPECT_EQ(sqlite3_column_int(raw, 0), 1) << c.sql;
  }
}

TEST_F(DatabaseTest, ARollbackJournalFileIsConvertedOnceWithEveryRow) {
  const std::string file = dir.File("old.db");
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
    SqliteConnection old(raw);
    ASSERT_EQ(sqlite3_exec(raw,
                           "PRAGMA journal_mode = Delete; create table t(v); "
                           "with recursive n(i) as (select 1 union all select i + 1 from n where i < 500) "
                           "insert into t select i from n",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
  }
  {
    Database db([&] { return file; });
    EXPECT_EQ(PragmaValue(db, "journal_mode"), "wal");
    EXPECT_EQ(Count(db, "t"), 500);
    Exec(db, "insert into t values (501)");
  }
  // Closed: the log was folded back into the file, which stays in the log mode
  // for every later connection, whatever opens it.
  EXPECT_FALSE(std::filesystem::exists(file + "-wal"));
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  SqliteConnection plain(raw);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(raw, "select count(*), (select journal_mode from pragma_journal_mode) from t", -1,
                               &st, nullptr),
            SQLITE_OK);
  SqliteStatement statement(st);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 501);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)), "wal");
}

TEST_F(DatabaseTest, AReadInProgressDoesNotHoldUpAWriter) {
  // In the log mode a reader sees the last committed state while a writer
  // commits beside it; the old journal made the writer wait for the reader.
  Database reader(PathOf("read.db"));
  Database writer(PathOf("read.db"));
  Exec(writer, "create table t(v)");
  Exec(writer, "insert into t values (1)");
  reader.StartTransaction();
  EXPECT_EQ(Count(reader, "t"), 1);  // the reader's snapshot is taken
  const auto started = std::chrono::steady_clock::now();
  writer.StartTransactionImmediate();
  Exec(writer, "insert into t values (2)");
  writer.Commit();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(Count(reader, "t"), 1);
  reader.Rollback();
  EXPECT_EQ(Count(reader, "t"), 2);
}

TEST_F(DatabaseTest, ForeignKeysAreEnforced) {
  Database db(PathOf("fk.db"));
  Exec(db, "create table pai(k integer primary key)");
  Exec(db, "create table filho(k integer primary key, pai integer references pai(k))");
  EXPECT_EQ(ErrorOf([&] { Exec(db, "insert into filho(pai) values (7)"); }),
            "[SQLite] FOREIGN KEY constraint failed");
}

TEST_F(DatabaseTest, OpenFailuresCarryTheEngineTextAndAllowARetry) {
  std::string configured = dir.File("missing-folder/x.db");
  Database db([&] { return configured; });
  EXPECT_EQ(ErrorOf([&] { db.Handle(); }), "[SQLite] unable to open database file");
  EXPECT_FALSE(db.Connected());
  configured = "";
  EXPECT_EQ(ErrorOf([&] { db.StartTransaction(); }), "[SQLite] unable to open database file");
  EXPECT_FALSE(db.Connected());
  configured = dir.File("fixed.db");
  db.StartTransaction();
  EXPECT_TRUE(db.Connected());
  EXPECT_TRUE(db.InTransaction());
}

TEST_F(DatabaseTest, AFileThatIsNotADatabase) {
  const std::string file = dir.File("garbage.db");
  std::ofstream(file) << std::string(4096, 'x');
  Database db([&] { return file; });
  try {
    Count(db, "sqlite_master");
    ADD_FAILURE() << "no error";
  } catch (const EngineError& e) {
    EXPECT_EQ(std::string(e.what()), "[SQLite] file is not a database");
    EXPECT_EQ(e.Code(), SQLITE_NOTADB);
  }
}

TEST_F(DatabaseTest, TransactionsCommitKeepRollbackDiscards) {
  Database db(PathOf("tx.db"));
  Exec(db, "create table t(v)");

  db.StartTransaction();
  EXPECT_TRUE(db.InTransaction());
  Exec(db, "insert into t values (1)");
  db.Rollback();
  EXPECT_FALSE(db.InTransaction());
  EXPECT_EQ(Count(db, "t"), 0);

  db.StartTransaction();
  Exec(db, "insert into t values (2)");
  db.Commit();
  EXPECT_FALSE(db.InTransaction());
  EXPECT_EQ(Count(db, "t"), 1);

  db.Rollback();  // no transaction: nothing happens
  EXPECT_EQ(Count(db, "t"), 1);
  EXPECT_EQ(ErrorOf([&] { db.Commit(); }), "[SQLite] cannot commit - no transaction is active");

  db.StartTransaction();
  EXPECT_EQ(ErrorOf([&] { db.StartTransaction(); }), "[SQLite] cannot start a transaction within a transaction");
  db.Rollback();
}

TEST_F(DatabaseTest, ClosingRollsBackAnOpenTransaction) {
  {
    Database db(PathOf("close.db"));
    Exec(db, "create table t(v)");
    db.StartTransaction();
    Exec(db, "insert into t values (1)");
  }
  Database again(PathOf("close.db"));
  EXPECT_EQ(Count(again, "t"), 0);
  again.StartTransaction();
  Exec(again, "insert into t values (1)");
  again.Close();
  EXPECT_FALSE(again.Connected());
  EXPECT_EQ(Count(again, "t"), 0);  // reopens on use
}

TEST_F(DatabaseTest, DeferredTransactionTakesNoWriteLockUntilItWrites) {
  Database a(PathOf("deferred.db"));
  Database b(PathOf("deferred.db"));
  Exec(a, "create table t(v)");
  a.StartTransaction();
  EXPECT_TRUE(a.InTransaction());
  // Under "BEGIN IMMEDIATE" this write would wait out the busy timeout and fail.
  Exec(b, "insert into t values (1)");
  EXPECT_EQ(Count(b, "t"), 1);
  Exec(a, "insert into t values (2)");  // a takes the write lock now
  a.Commit();
  EXPECT_EQ(Count(b, "t"), 2);
}

TEST_F(DatabaseTest, WriterAfterReadMeetsAHeldWriteLockAsDatabaseIsLocked) {
  // b read first inside its transaction while a holds the write lock: the
  // engine cannot wait for a (a deadlock) and reports the lock at once.
  Database a(PathOf("locked.db"));
  Database b(PathOf("locked.db"));
  Exec(a, "create table t(v)");
  a.StartTransaction();
  Exec(a, "insert into t values (1)");
  b.StartTransaction();
  EXPECT_EQ(Count(b, "t"), 0);
  try {
    Exec(b, "insert into t values (2)");
    ADD_FAILURE() << "no error";
  } catch (const EngineError& e) {
    EXPECT_EQ(std::string(e.what()), "[SQLite] database is locked");
    EXPECT_EQ(e.Code(), SQLITE_BUSY);
  }
  b.Rollback();
  a.Commit();
  EXPECT_EQ(Count(b, "t"), 1);
}

TEST_F(DatabaseTest, ImmediateTransactionsSerialise) {
  const auto path = PathOf("immediate.db");
  {
    Database setup(path);
    Exec(setup, "create table t(v)");
  }
  std::promise<void> holding;
  auto holder = std::async(std::launch::async, [&] {
    Database a(path);
    a.StartTransactionImmediate();
    Exec(a, "insert into t values ('a')");
    holding.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Exec(a, "insert into t values ('a2')");
    a.Commit();
  });
  holding.get_future().wait();
  Database b(path);
  b.StartTransactionImmediate();  // waits for a's commit under the busy timeout
  EXPECT_EQ(Count(b, "t"), 2);    // a's whole transaction is visible
  Exec(b, "insert into t values ('b')");
  b.Commit();
  holder.get();
  EXPECT_EQ(Count(b, "t"), 3);
}

}  // namespace
}  // namespace quelvar
