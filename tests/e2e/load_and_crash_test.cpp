// The server killed with SIGKILL in the middle of a stream of entry saves:
// after a restart the database file is sound, every save whose answer reached
// the client is there with its items, and no entry header lost its items.

#include <signal.h>
#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "catalogue_support.h"
#include "entry_saves.h"
#include "data/date_texts.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

// Run as it is, and with continuous replication to a folder on.
class LoadAndCrash : public ::testing::TestWithParam<bool> {
 protected:
  static ServerProcess::Options Options() {
    ServerProcess::Options o = ServerProcess::FreshDatabase();
    if (GetParam()) o.extraConfig = "Replica1=replica\nReplicaIntervaloMs=200\n";
    return o;
  }
  LoadAndCrash() : server_(Options()) { std::filesystem::create_directories(server_.programFolder() / "replica"); }
  void SetUp() override {
    server_.StartWithFreshDatabase();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.Stderr();
    ExecSql(server_.databasePath(), kEntrySavesFixture);
  }
  // The first column of the first row, or the engine's message when the
  // statement fails.
  std::string Sql(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(server_.databasePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* stmt = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      out = std::string("error: ") + sqlite3_errmsg(db);
    } else if (const int rc = sqlite3_step(stmt); rc == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(stmt, 0);
      out = text ? reinterpret_cast<const char*>(text) : "<null>";
    } else {
      out = rc == SQLITE_DONE ? "<none>" : std::string("error: ") + sqlite3_errmsg(db);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return out;
  }

  ServerProcess server_;
};

TEST_P(LoadAndCrash, KilledServerKeepsEveryAnsweredSaveWhole) {
  const std::string header = EntryHeader();
  constexpr int kClients = 3;
  constexpr int kAnswersBeforeKill = 30;
  std::mutex mutex;
  std::condition_variable answered;
  std::vector<std::string> numbers;  // every answered entry number
  std::vector<std::string> others;   // any other answer text
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; !stop; ++i) {
        std::string answer;
        try {
          const EventReply reply = CallEvent(server_.port(), kEntries, "Grava",
                                             {{"Tabela", StringParam("Tabela", header)},
                                              {"TabelaDet", StringParam("TabelaDet", ItemsOf(c * 100000 + i))},
                                              {"Resposta", OutParam("Resposta")}});
          if (reply.status != 200) break;  // the connection died with the server
          answer = reply.Text("Resposta");
          if (answer.empty()) break;  // reply cut short: no answer arrived
        } catch (const std::exception&) {
          break;  // refused or cut: the server is gone
        }
        std::lock_guard lock(mutex);
        (std::atoi(answer.c_str()) > 0 ? numbers : others).push_back(answer);
        answered.notify_all();
      }
    });
  }
  {
    std::unique_lock lock(mutex);
    answered.wait(lock, [&] { return numbers.size() + others.size() >= kAnswersBeforeKill; });
  }
  ASSERT_EQ(::kill(server_.pid(), SIGKILL), 0);
  stop = true;
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(server_.WaitExit(), -1);  // killed, not a normal end

  EXPECT_TRUE(others.empty()) << others.front();
  ASSERT_GE(numbers.size(), static_cast<std::size_t>(kAnswersBeforeKill));

  // Restart on the same file. The first save of the restarted server is also
  // the first use of the file since the kill (a write left half-done is rolled
  // back then); it succeeds with the next number.
  server_.Start({"--headless"});
  ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.Stderr();
  const EventReply after = CallEvent(server_.port(), kEntries, "Grava",
                                     {{"Tabela", StringParam("Tabela", header)},
                                      {"TabelaDet", StringParam("TabelaDet", ItemsOf(999999))},
                                      {"Resposta", OutParam("Resposta")}});
  ASSERT_GT(std::atoi(after.Text("Resposta").c_str()), 0) << after.body;
  EXPECT_EQ(after.Text("Resposta"), Sql("Select Max(T12_NumEntrada) From T12_ENT1"));

  EXPECT_EQ(Sql("PRAGMA integrity_check"), "ok");
  for (const std::string& n : numbers) {
    EXPECT_EQ(Sql("Select Count(*) From T13_ENT2 Where T13_NumEntrada = " + n), "2") << "entry " << n;
  }
  EXPECT_EQ(Sql("Select Count(*) From T12_ENT1 h Where Not Exists "
                "(Select 1 From T13_ENT2 i Where i.T13_NumEntrada = h.T12_NumEntrada)"),
            "0");
  EXPECT_EQ(Sql("Select Count(*) From T13_ENT2 i Where Not Exists "
                "(Select 1 From T12_ENT1 h Where h.T12_NumEntrada = i.T13_NumEntrada)"),
            "0");
}

INSTANTIATE_TEST_SUITE_P(Replication, LoadAndCrash, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "ToAFolder" : "Off";
                         });

}  // namespace
}  // namespace quelvar::test
