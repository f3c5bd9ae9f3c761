// The connection pool and the writers' lock: reuse, the reset between
// requests, draining, and writers queueing in arrival order.
#include "data/connection_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "data/database.h"
#include "data/engine_error.h"
#include "data/query.h"
#include "data/writer_lock.h"
#include "temp_dir.h"

namespace quelvar {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

void Exec(Database &db, const std::string &sql) {
  Query q(db);
  q.Add(sql);
  q.ExecSQL();
}

std::string Value(Database &db, const std::string &sql) {
  Query q(db);
  q.Add(sql);
  q.Open();
  return q.FieldByName(q.Fields()[0].name).AsString();
}

std::string ErrorOf(const std::function<void()> &action) {
  try {
    action();
  } catch (const Error &e) {
    return e.what();
  }
  return "(no error)";
}

class ConnectionPoolTest : public ::testing::Test {
 protected:
  std::function<std::string()> PathOf(const std::string &name) {
    return [file = dir.File(name)] { return file; };
  }
  // The connection a module of `pool` uses, after running one statement.
  sqlite3 *HandleOfAModule(const std::string &name) {
    Database db(PathOf(name), &pool);
    return db.Handle();
  }
  TempDir dir;
  ConnectionPool pool{2};
};

TEST_F(ConnectionPoolTest, AModuleReusesTheConnectionTheLastOneGaveBack) {
  sqlite3 *first = HandleOfAModule("a.db");
  EXPECT_EQ(pool.IdleCount(), 1u);
  EXPECT_EQ(HandleOfAModule("a.db"), first);
  EXPECT_EQ(pool.IdleCount(), 1u);
}

TEST_F(ConnectionPoolTest, NothingOfARequestSurvivesIntoTheNext) {
  {
    Database db(PathOf("reset.db"), &pool);
    Exec(db, "create table t(v)");
  }
  sqlite3 *handle = nullptr;
  {
    Database db(PathOf("reset.db"), &pool);
    handle = db.Handle();
    Exec(db, "create temp table scratch(v)");
    Exec(db, "create temp view scratch_view as select * from scratch");
    Exec(db, "create temp trigger on_main after insert on t begin select 1; end");
    Exec(db, "attach database '" + dir.File("other.db") + "' as other");
    Exec(db, "PRAGMA foreign_keys = Off");
    Exec(db, "PRAGMA query_only = On");
    // A statement left unfinished and a transaction left open.
    sqlite3_stmt *st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(handle, "select 1 union all select 2", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    ASSERT_EQ(
        sqlite3_exec(handle, "PRAGMA query_only = Off; BEGIN; insert into t values (1)", nullptr, nullptr, nullptr),
        SQLITE_OK);
    Exec(db, "PRAGMA query_only = On");
    // The module is destroyed without Close: the pool must clean up alone.
    db.Pool().Return(ConnectionPool::Loan{});  // an empty loan is ignored
  }
  Database next(PathOf("reset.db"), &pool);
  ASSERT_EQ(next.Handle(), handle);  // the same connection, reset
  EXPECT_EQ(sqlite3_next_stmt(handle, nullptr), nullptr);
  EXPECT_FALSE(next.InTransaction());
  EXPECT_EQ(Value(next, "select count(*) from t"), "0");
  EXPECT_EQ(Value(next, "select count(*) from temp.sqlite_master"), "0");
  EXPECT_EQ(Value(next, "select count(*) from pragma_database_list"),
            "2");  // main and temp
  EXPECT_EQ(Value(next, "PRAGMA foreign_keys"), "1");
  EXPECT_EQ(Value(next, "PRAGMA query_only"), "0");
  Exec(next, "insert into t values (2)");
}

TEST_F(ConnectionPoolTest, DrainPathChangeAndJournalChangeCloseWhatWasOpen) {
  struct Case {
    const char *what;
    std::function<void()> change;
    const char *nextFile;
    std::size_t idleAfterTheChange;
  } cases[] = {
      {"drain", [&] { pool.Drain(); }, "a.db", 0},
      {"another path", [&] { HandleOfAModule("b.db"); }, "b.db", 1},
      {"journal setting", [&] { pool.SetJournal(JournalChoice::kRollback); }, "a.db", 0},
      {"maintenance", [&] { ConnectionPool::MaintenanceHold hold(pool); }, "a.db", 0},
  };
  for (const Case &c : cases) {
    pool.SetJournal(JournalChoice::kWriteAheadLog);
    Database onLoan(PathOf("a.db"), &pool);
    onLoan.Handle();
    HandleOfAModule("a.db");
    ASSERT_EQ(pool.IdleCount(), 1u) << c.what;
    c.change();
    onLoan.Close();  // out on loan across the change: closed, not kept
    EXPECT_EQ(pool.IdleCount(), c.idleAfterTheChange) << c.what;
    sqlite3 *next = HandleOfAModule(c.nextFile);
    EXPECT_EQ(pool.IdleCount(), 1u) << c.what;  // the new connection only
    EXPECT_EQ(HandleOfAModule(c.nextFile), next) << c.what;
    pool.Drain();
  }
}

TEST_F(ConnectionPoolTest, KeepsAtMostItsCapacityAndNothingDuringMaintenance) {
  {
    Database a(PathOf("cap.db"), &pool), b(PathOf("cap.db"), &pool), c(PathOf("cap.db"), &pool);
    a.Handle(), b.Handle(), c.Handle();
  }
  EXPECT_EQ(pool.IdleCount(), 2u);
  {
    ConnectionPool::MaintenanceHold hold(pool);
    EXPECT_EQ(pool.IdleCount(), 0u);
    HandleOfAModule("cap.db");
    EXPECT_EQ(pool.IdleCount(), 0u);
  }
  HandleOfAModule("cap.db");
  EXPECT_EQ(pool.IdleCount(), 1u);
}

TEST(WriterLock, WaitersGetItInArrivalOrderAndTimeOut) {
  WriterLock lock;
  ASSERT_TRUE(lock.TryLockFor(0ms));
  EXPECT_FALSE(lock.TryLockFor(50ms));  // held: the waiter gives up
  std::mutex m;
  std::vector<int> order;
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&, i] {
      ASSERT_TRUE(lock.TryLockFor(10s));
      {
        std::lock_guard g(m);
        order.push_back(i);
      }
      lock.Unlock();
    });
    // Each waiter is queued before the next one starts.
    std::this_thread::sleep_for(30ms);
  }
  lock.Unlock();
  for (auto &t : waiters) t.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_FALSE(lock.Held());
}

TEST_F(ConnectionPoolTest, WritersOfOneServerQueueInsteadOfFailing) {
  {
    Database setup(PathOf("w.db"), &pool);
    Exec(setup, "create table t(v)");
  }
  // Deferred transactions that read, then write: the engine alone would fail
  // the later writer at once ("database is locked"); queued, both commit.
  constexpr int kWriters = 6;
  std::atomic<int> failures{0};
  std::vector<std::thread> writers;
  for (int i = 0; i < kWriters; ++i) {
    writers.emplace_back([&] {
      try {
        Database db(PathOf("w.db"), &pool);
        db.StartTransaction();
        const std::string before = Value(db, "select count(*) from t");
        std::this_thread::sleep_for(20ms);
        Exec(db, "insert into t values (" + before + ")");
        db.Commit();
      } catch (const Error &) {
        ++failures;
      }
    });
  }
  for (auto &t : writers) t.join();
  EXPECT_EQ(failures, 0);
  Database check(PathOf("w.db"), &pool);
  // Each writer saw the rows of the ones before it.
  EXPECT_EQ(Value(check, "select group_concat(v) from (select v from t order by v)"), "0,1,2,3,4,5");
  EXPECT_FALSE(pool.Writers().Held());
}

TEST_F(ConnectionPoolTest, EveryWayATransactionEndsLetsTheWriterLockGo) {
  {
    Database setup(PathOf("end.db"), &pool);
    Exec(setup, "create table t(v primary key)");
  }
  struct Case {
    const char *what;
    std::function<void(Database &)> end;
  } cases[] = {
      {"commit", [](Database &db) { db.Commit(); }},
      {"rollback", [](Database &db) { db.Rollback(); }},
      {"close", [](Database &db) { db.Close(); }},
      {"failed statement then rollback",
       [](Database &db) {
         EXPECT_NE(ErrorOf([&] { Exec(db, "insert into t values (1), (1)"); }), "(no error)");
         db.Rollback();
       }},
  };
  for (const Case &c : cases) {
    Database db(PathOf("end.db"), &pool);
    db.StartTransactionImmediate();
    EXPECT_TRUE(pool.Writers().Held()) << c.what;
    c.end(db);
    EXPECT_FALSE(pool.Writers().Held()) << c.what;
  }
  {
    Database db(PathOf("end.db"), &pool);
    db.StartTransaction();
  }  // destroyed inside the transaction
  EXPECT_FALSE(pool.Writers().Held());
  // A write outside a transaction holds it only while it runs; a read never.
  Database db(PathOf("end.db"), &pool);
  Exec(db, "insert into t values (9)");
  EXPECT_EQ(Value(db, "select count(*) from t"), "1");
  EXPECT_FALSE(pool.Writers().Held());
  ASSERT_TRUE(pool.Writers().TryLockFor(0ms));
  EXPECT_EQ(Value(db, "select count(*) from t"), "1");  // a read does not queue
  pool.Writers().Unlock();
}

}  // namespace
}  // namespace quelvar
