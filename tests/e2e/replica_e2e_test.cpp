// Continuous replication seen from outside: the server binary replicating to
// a folder and to a local S3-compatible server, killed, cut off from its
// replica, and the database rebuilt with --restore-replica.

#include <signal.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "database_file.h"
#include "entry_saves.h"
#include "raw_http.h"
#include "s3_server.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kIntervalMs = 200;

// Entry saves from several clients until stopped; every answer with its time.
// Each client pauses `pause` between saves (a busy shop, not a flood).
class SaveStream {
 public:
  struct Answer {
    int entry;
    Clock::time_point at;
    std::chrono::milliseconds took;
  };

  SaveStream(std::uint16_t port, int clients, int firstItem,
             std::chrono::milliseconds pause = std::chrono::milliseconds(10)) {
    for (int c = 0; c < clients; ++c) {
      threads_.emplace_back([this, port, c, firstItem, pause] {
        const std::string header = EntryHeader();
        for (int i = 0; !stop_; ++i) {
          const auto started = Clock::now();
          int entry = 0;
          try {
            const EventReply reply = CallEvent(port, kEntries, "Grava",
                                               {{"Tabela", StringParam("Tabela", header)},
                                                {"TabelaDet", StringParam("TabelaDet", ItemsOf(firstItem + c * 100000 + i))},
                                                {"Resposta", OutParam("Resposta")}},
                                               std::chrono::seconds(30));
            if (reply.status != 200) break;
            entry = std::atoi(reply.Text("Resposta").c_str());
            if (reply.Text("Resposta").empty()) break;
          } catch (const std::exception&) {
            break;
          }
          {
            std::lock_guard lock(mutex_);
            if (entry > 0) {
              answers_.push_back({entry, Clock::now(),
                                  std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started)});
            } else {
              ++failures_;
            }
          }
          std::this_thread::sleep_for(pause);
        }
      });
    }
  }
  ~SaveStream() { Stop(); }

  void Stop() {
    stop_ = true;
    for (std::thread& t : threads_) {
      if (t.joinable()) t.join();
    }
  }
  std::vector<Answer> Answers() {
    std::lock_guard lock(mutex_);
    return answers_;
  }
  int Failures() {
    std::lock_guard lock(mutex_);
    return failures_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Answer> answers_;
  int failures_ = 0;
  std::vector<std::thread> threads_;
};

ParsedReply Get(std::uint16_t port, const std::string& path) {
  return ParseReply(Exchange(port, "GET " + path + " HTTP/1.1\r\n" + GoodAuthorizationLine() + "\r\n").bytes);
}

// Entry number -> its live item count, of every entry header in the file.
std::map<int, int> ItemCounts(const std::string& file) {
  std::map<int, int> out;
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db,
                         "Select h.T12_NumEntrada, (Select Count(*) From T13_ENT2 i "
                         "Where i.T13_NumEntrada = h.T12_NumEntrada) From T12_ENT1 h",
                         -1, &stmt, nullptr) == SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW) out[sqlite3_column_int(stmt, 0)] = sqlite3_column_int(stmt, 1);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

// How many of `entries` the file lacks, or holds without their two items.
int MissingSaves(const std::string& file, const std::vector<int>& entries) {
  const std::map<int, int> items = ItemCounts(file);
  int missing = 0;
  for (int entry : entries) {
    const auto it = items.find(entry);
    if (it == items.end() || it->second != 2) ++missing;
  }
  return missing;
}

std::vector<int> EntriesOf(const std::vector<SaveStream::Answer>& answers) {
  std::vector<int> out;
  for (const auto& a : answers) out.push_back(a.entry);
  return out;
}

// Lots whose received quantity differs from their live entry items.
constexpr const char* kLotsOff =
    "Select Count(*) From T05_LOTE l Where Abs(l.T05_Entradas - (Select Total(T13_Qtd) From T13_ENT2, T12_ENT1 "
    "Where T13_NumLote = l.T05_NumLote And T13_Exclusao Is Null And T12_NumEntrada = T13_NumEntrada "
    "And T12_Exclusao Is Null)) > 1e-9";

std::string LocalSecondText(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

class Replication : public ::testing::Test {
 protected:
  Replication() {
    char pattern[] = "/tmp/quelvar-replica-XXXXXX";
    root_ = ::mkdtemp(pattern);
    std::filesystem::create_directories(root_ / "replica");
  }
  ~Replication() override {
    server_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  std::string S3Source() const { return std::string("s3://") + S3Server::kBucket + "/loja"; }
  std::string FolderSource() const { return (root_ / "replica").string(); }

  // A server with a fresh database replicating to the folder and the bucket.
  void StartServer(const std::string& extra = "") {
    ServerProcess::Options o = ServerProcess::FreshDatabase();
    // The first of two equal keys counts: `extra` goes first.
    o.extraConfig = extra + "Replica1=" + FolderSource() + "\nReplica2=" + S3Source() + "\nReplicaS3Endpoint=" +
                    s3_.Endpoint() + "\nReplicaS3Chaves=" + s3_.KeyFile().string() +
                    "\nReplicaIntervaloMs=" + std::to_string(kIntervalMs) + "\n";
    server_ = std::make_unique<ServerProcess>(o);
    server_->StartWithFreshDatabase();
    ASSERT_TRUE(server_->WaitUntilAccepting()) << server_->Stderr();
    ExecSql(server_->databasePath(), kEntrySavesFixture);
    ASSERT_TRUE(server_->WaitForStderr("Replica2: " + S3Source() + " generation", std::chrono::seconds(20)))
        << server_->Stderr();
  }

  struct Restored {
    int code = -1;
    std::string out;
    std::string err;
    std::string file;
  };
  Restored Restore(const std::string& source, std::optional<std::string> at = std::nullopt) {
    ServerProcess::Options o;
    o.writeConfig = false;
    o.createDatabaseFile = false;
    ServerProcess tool(o);
    Restored r;
    r.file = (root_ / ("restored-" + std::to_string(++restores_) + ".db3")).string();
    std::vector<std::string> args = {"--restore-replica", source, "--data-folder",
                                     server_->programFolder().string(), "--to", r.file};
    if (at) {
      args.push_back("--at");
      args.push_back(*at);
    }
    r.code = tool.Run(args, std::chrono::seconds(120));
    r.out = tool.Stdout();
    r.err = tool.Stderr();
    return r;
  }

  // The metric's value for a replica, or "" when absent.
  std::string Metric(const std::string& name, const std::string& replica) {
    const std::string body = Get(server_->port(), "/metrics").body;
    const std::string key = name + "{replica=\"" + replica + "\"} ";
    const std::size_t at = body.find(key);
    if (at == std::string::npos) return "";
    return body.substr(at + key.size(), body.find('\n', at) - at - key.size());
  }

  // Waits until the replica holds every commit made so far: once the
  // replicator has read the log again (it polls every 50 ms), its figures say
  // what the replica lacks.
  bool WaitCaughtUp(const std::string& replica, std::chrono::seconds limit = std::chrono::seconds(30)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      if (Metric("quelvar_replica_lag_bytes", replica) == "0" && Metric("quelvar_replica_up", replica) == "1") {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::filesystem::path root_;
  S3Server s3_;
  std::unique_ptr<ServerProcess> server_;
  int restores_ = 0;
};

TEST_F(Replication, EveryReplicaRestoresEverySaveAnsweredBeforeAKill) {
  const char* env = std::getenv("QUELVAR_REPLICA_KILLS");
  const int rounds = env ? std::max(1, std::atoi(env)) : 24;
  StartServer();
  std::mt19937 random(24);
  std::uniform_int_distribution<int> runMs(2500, 4000);
  std::vector<int> kept;  // entries every restore must hold
  const auto bound = std::chrono::milliseconds(kIntervalMs + 1000);
  int countedRounds = 0;
  int resumedRounds = 0;  // rounds after a kill where both replicas went on with their generation
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    if (round > 0) {
      server_->Start({"--headless"});
      ASSERT_TRUE(server_->WaitUntilAccepting()) << server_->Stderr();
    }
    // The saves start at once. After a kill the log is not folded, so each
    // replica usually goes on with its generation ("generation ... resumed").
    // When it cannot (the log was restarted after its last segment, or no
    // segment was sent yet), it starts a new generation, and a restore can
    // use that only once its snapshot is stored: until then the replica's
    // newest restorable generation is the one that ended at the previous
    // kill. So the saves of a round count only if both replicas' lines
    // ("resumed", or "started" once the snapshot is stored; seen by polling)
    // came more than the bound before the kill; then every one answered more
    // than the bound before the kill must be there.
    const std::vector<std::string> started = {"Replica1: " + FolderSource() + " generation",
                                              "Replica2: " + S3Source() + " generation"};
    auto stored = [&] {
      const std::string err = server_->Stderr();
      return std::all_of(started.begin(), started.end(),
                         [&err](const std::string& line) { return err.find(line) != std::string::npos; });
    };
    std::optional<Clock::time_point> storedAt;
    if (round == 0) storedAt = Clock::now();  // StartServer waited for them
    SaveStream saves(server_->port(), 3, round * 1000000);
    const auto killAt = Clock::now() + std::chrono::milliseconds(runMs(random));
    while (Clock::now() < killAt) {
      if (!storedAt && stored()) storedAt = Clock::now();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(::kill(server_->pid(), SIGKILL), 0);
    const auto killed = Clock::now();
    saves.Stop();
    EXPECT_EQ(server_->WaitExit(), -1);
    EXPECT_EQ(saves.Failures(), 0);
    const auto answers = saves.Answers();
    ASSERT_FALSE(answers.empty()) << server_->Stderr();
    const bool roundCounts = storedAt && *storedAt < killed - bound;
    countedRounds += roundCounts;
    if (round > 0) {
      const std::string err = server_->Stderr();
      resumedRounds += std::all_of(started.begin(), started.end(), [&err](const std::string& line) {
        const std::size_t at = err.find(line);
        return at != std::string::npos && err.find(" resumed (", at) < err.find('\n', at);
      });
    }
    if (!roundCounts) std::cerr << "round " << round << ": the generations were neither resumed nor stored in time\n";
    for (const auto& a : answers) {
      if (roundCounts && a.at < killed - bound) kept.push_back(a.entry);
    }
    for (const std::string& source : {FolderSource(), S3Source()}) {
      SCOPED_TRACE(source);
      const Restored restored = Restore(source);
      ASSERT_EQ(restored.code, 0) << restored.err;
      EXPECT_EQ(SqlText(restored.file, "PRAGMA integrity_check"), "ok");
      EXPECT_EQ(MissingSaves(restored.file, kept), 0)
          << "of " << kept.size() << " saves answered long enough before the kill\n"
          << restored.out << server_->Stderr();
      int headersWithoutTwoItems = 0;
      for (const auto& [entry, count] : ItemCounts(restored.file)) headersWithoutTwoItems += count != 2;
      EXPECT_EQ(headersWithoutTwoItems, 0);
      EXPECT_EQ(SqlText(restored.file, kLotsOff), "0");
    }
  }
  // The table says something only if the rounds after a restart count too.
  if (rounds > 1) {
    EXPECT_GT(countedRounds, 1);
    // A kill just after the log was folded and restarted leaves nothing to
    // go on with; of several kills, some land elsewhere.
    if (rounds >= 6) {
      EXPECT_GT(resumedRounds, 0);
    }
    std::cerr << countedRounds << " of " << rounds << " rounds counted; after " << resumedRounds
              << " of the kills both replicas went on with their generation\n";
  }
}

TEST_F(Replication, RestoreAtAMomentHoldsExactlyTheSavesCommittedBeforeIt) {
  StartServer();
  auto save = [&](int i) {
    const EventReply reply = CallEvent(server_->port(), kEntries, "Grava",
                                       {{"Tabela", StringParam("Tabela", EntryHeader())},
                                        {"TabelaDet", StringParam("TabelaDet", ItemsOf(i))},
                                        {"Resposta", OutParam("Resposta")}});
    return std::atoi(reply.Text("Resposta").c_str());
  };
  std::vector<int> before, after;
  for (int i = 0; i < 5; ++i) before.push_back(save(i));
  // The moment is the whole second after the last early save; the later saves
  // come once that second is over.
  const std::time_t moment = std::time(nullptr) + 1;
  while (std::chrono::system_clock::now() <
         std::chrono::system_clock::from_time_t(moment + 1) + std::chrono::milliseconds(300)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (int i = 5; i < 9; ++i) after.push_back(save(i));
  ASSERT_TRUE(WaitCaughtUp("Replica1"));
  ASSERT_TRUE(WaitCaughtUp("Replica2"));

  for (const std::string& source : {FolderSource(), S3Source()}) {
    SCOPED_TRACE(source);
    const Restored then = Restore(source, LocalSecondText(moment));
    ASSERT_EQ(then.code, 0) << then.err;
    EXPECT_NE(then.out.find("generation "), std::string::npos) << then.out;
    EXPECT_NE(then.out.find("last commit " + LocalSecondText(moment).substr(0, 10)), std::string::npos) << then.out;
    std::map<int, int> expected;
    for (int e : before) expected[e] = 2;
    EXPECT_EQ(ItemCounts(then.file), expected);

    const Restored newest = Restore(source);
    ASSERT_EQ(newest.code, 0) << newest.err;
    for (int e : after) expected[e] = 2;
    EXPECT_EQ(ItemCounts(newest.file), expected);
    EXPECT_EQ(SqlText(newest.file, "PRAGMA integrity_check"), "ok");
  }

  // Before the first generation there is nothing to restore; an existing file
  // is never written over.
  const Restored tooEarly = Restore(FolderSource(), LocalSecondText(std::time(nullptr) - 86400));
  EXPECT_NE(tooEarly.code, 0);
  EXPECT_NE(tooEarly.err.find("holds nothing as old as"), std::string::npos) << tooEarly.err;
  EXPECT_FALSE(std::filesystem::exists(tooEarly.file));
  const Restored first = Restore(FolderSource());
  ASSERT_EQ(first.code, 0) << first.err;
  const auto size = std::filesystem::file_size(first.file);
  ServerProcess::Options o;
  o.writeConfig = false;
  o.createDatabaseFile = false;
  ServerProcess tool(o);
  EXPECT_NE(tool.Run({"--restore-replica", FolderSource(), "--to", first.file}, std::chrono::seconds(60)), 0);
  EXPECT_NE(tool.Stderr().find("never written over"), std::string::npos) << tool.Stderr();
  EXPECT_EQ(std::filesystem::file_size(first.file), size);
  EXPECT_NE(Restore(FolderSource(), "2026-13-45 99:00:00").code, 0);
}

TEST_F(Replication, AnOutageOfTheBucketNeitherFailsNorLosesASave) {
  StartServer();
  SaveStream saves(server_->port(), 2, 0);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  s3_.Kill();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  // /healthz stays 200 and names the replica that lags.
  const ParsedReply health = Get(server_->port(), "/healthz");
  EXPECT_EQ(health.statusLine, "HTTP/1.1 200 OK");
  EXPECT_NE(health.body.find("replica Replica2 (" + S3Source() + ") lags"), std::string::npos) << health.body;
  EXPECT_EQ(health.body.find("Replica1"), std::string::npos) << health.body;
  s3_.Start();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  saves.Stop();
  ASSERT_TRUE(WaitCaughtUp("Replica2")) << server_->Stderr();
  EXPECT_EQ(saves.Failures(), 0);
  const auto answers = saves.Answers();
  ASSERT_FALSE(answers.empty());
  std::chrono::milliseconds slowest{0};
  for (const auto& a : answers) slowest = std::max(slowest, a.took);
  EXPECT_LT(slowest, std::chrono::seconds(10)) << "a save waited as long as the writers' timeout";
  std::printf("[ figures  ] %zu saves during the outage; the slowest answered in %lld ms\n", answers.size(),
              static_cast<long long>(slowest.count()));

  // One line at the outage, one at the recovery.
  const std::string log = server_->Stderr();
  auto count = [&log](const std::string& text) {
    int n = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("Replica2 --> " + S3Source() + " is unreachable"), 1) << log;
  EXPECT_EQ(count("Replica2: " + S3Source() + " is back after"), 1) << log;
  EXPECT_EQ(count("Replica1 -->"), 0) << log;
  EXPECT_NE(Metric("quelvar_replica_errors_total", "Replica2"), "0");

  const Restored restored = Restore(S3Source());
  ASSERT_EQ(restored.code, 0) << restored.err;
  EXPECT_EQ(MissingSaves(restored.file, EntriesOf(answers)), 0) << "of " << answers.size() << " saves";
}

TEST_F(Replication, PastTheLogBoundTheReplicaStartsANewGeneration) {
  StartServer("ReplicaLimiteLogMiB=1\n");
  SaveStream saves(server_->port(), 2, 0);
  s3_.Kill();
  // The log passes its bound while the bucket is away: the server folds it
  // anyway and says the replica lost continuity.
  ASSERT_TRUE(server_->WaitForStderr("Replica2 --> " + S3Source() + " lost continuity", std::chrono::seconds(120)))
      << server_->Stderr();
  s3_.Start();
  ASSERT_TRUE(server_->WaitForStderr("Replica2: " + S3Source() + " is back after", std::chrono::seconds(60)))
      << server_->Stderr();
  EXPECT_NE(server_->Stderr().find("; new generation "), std::string::npos) << server_->Stderr();
  saves.Stop();
  EXPECT_EQ(saves.Failures(), 0);
  ASSERT_TRUE(WaitCaughtUp("Replica2"));
  ASSERT_TRUE(WaitCaughtUp("Replica1"));
  for (const std::string& source : {FolderSource(), S3Source()}) {
    SCOPED_TRACE(source);
    const Restored restored = Restore(source);
    ASSERT_EQ(restored.code, 0) << restored.err;
    EXPECT_EQ(SqlText(restored.file, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(MissingSaves(restored.file, EntriesOf(saves.Answers())), 0) << "of " << saves.Answers().size();
    EXPECT_EQ(SqlText(restored.file, kLotsOff), "0");
  }
}

TEST_F(Replication, TheRestoreDrillRestoresTheNewestReplicaAndSaysSo) {
  StartServer("ReplicaEnsaioSegundos=2\n");
  const EventReply reply = CallEvent(server_->port(), kEntries, "Grava",
                                     {{"Tabela", StringParam("Tabela", EntryHeader())},
                                      {"TabelaDet", StringParam("TabelaDet", ItemsOf(1))},
                                      {"Resposta", OutParam("Resposta")}});
  ASSERT_GT(std::atoi(reply.Text("Resposta").c_str()), 0) << reply.body;
  ASSERT_TRUE(server_->WaitForStderr("restore drill of Replica1 passed: generation ", std::chrono::seconds(30)))
      << server_->Stderr();
  const std::string page = Get(server_->port(), "/metrics").body;
  EXPECT_NE(page.find("\nquelvar_replica_drill_age_seconds "), std::string::npos) << page;
  EXPECT_NE(page.find("\nquelvar_replica_drill_failures_total 0\n"), std::string::npos) << page;
  EXPECT_NE(page.find("\nquelvar_replica_generation_age_seconds{replica=\"Replica2\"} "), std::string::npos);
  EXPECT_NE(page.find("\nquelvar_replica_last_shipped_timestamp_seconds{replica=\"Replica1\"} "), std::string::npos);
}

TEST_F(Replication, SettingsThatCannotBeUsedStopTheStart) {
  const std::filesystem::path openKeys = root_ / "keys-for-all";
  std::filesystem::copy_file(s3_.KeyFile(), openKeys);
  std::filesystem::permissions(openKeys, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
  struct Case {
    std::string config;
    std::string message;
  };
  const std::string s3 = "Replica1=" + S3Source() + "\nReplicaS3Endpoint=" + s3_.Endpoint() + "\n";
  for (const Case& c : {Case{s3 + "ReplicaS3Chaves=" + openKeys.string() + "\n", "may be read by others"},
                        Case{s3, "needs ReplicaS3Chaves"},
                        Case{"Replica1=" + FolderSource() + "\nReplicaIntervaloMs=soon\n", "ReplicaIntervaloMs"}}) {
    SCOPED_TRACE(c.config);
    ServerProcess::Options o = ServerProcess::FreshDatabase();
    o.extraConfig = c.config;
    ServerProcess server(o);
    EXPECT_EQ(server.Run({"--headless", "--create-database"}), 1);
    EXPECT_NE(server.Stderr().find("the replication cannot start"), std::string::npos) << server.Stderr();
    EXPECT_NE(server.Stderr().find(c.message), std::string::npos) << server.Stderr();
  }
}

TEST_F(Replication, WithTheRollbackJournalEachChangeGoesOutAsASnapshot) {
  // 60 intervals of 50 ms: a snapshot at most every 3 s.
  StartServer("DiarioRollback=1\nReplicaIntervaloMs=50\n");
  EXPECT_NE(server_->Stderr().find("there is no log to ship"), std::string::npos) << server_->Stderr();
  const EventReply reply = CallEvent(server_->port(), kEntries, "Grava",
                                     {{"Tabela", StringParam("Tabela", EntryHeader())},
                                      {"TabelaDet", StringParam("TabelaDet", ItemsOf(1))},
                                      {"Resposta", OutParam("Resposta")}});
  const int entry = std::atoi(reply.Text("Resposta").c_str());
  ASSERT_GT(entry, 0) << reply.body;
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  std::map<int, int> items;
  while (Clock::now() < deadline) {
    const Restored restored = Restore(FolderSource());
    ASSERT_EQ(restored.code, 0) << restored.err;
    items = ItemCounts(restored.file);
    if (items.count(entry)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  EXPECT_EQ(items, (std::map<int, int>{{entry, 2}}));
  EXPECT_EQ(SqlText(server_->databasePath(), "PRAGMA journal_mode"), "delete");
}

}  // namespace
}  // namespace quelvar::test
