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

#include "data/engine_error.h"
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

TEST_F(DatabaseTest, ConnectSequenceSettings) {
  Database db(PathOf("settings.db"));
  struct Case {
    const char* pragma;
    const char* value;
  } cases[] = {
      {"busy_timeout", "10000"}, {"cache_size", "10000"},   {"locking_mode", "normal"},
      {"synchronous", "0"},      {"journal_mode", "delete"}, {"foreign_keys", "1"},
  };
  for (const auto& c : cases) {
    Query q(db);
    q.Add(std::string("PRAGMA ") + c.pragma);
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1) << c.pragma;
    ASSERT_EQ(q.FieldCount(), 1) << c.pragma;
    EXPECT_EQ(q.FieldByName(q.Fields()[0].name).AsString(), c.value) << c.pragma;
  }
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
