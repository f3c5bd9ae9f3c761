// The replicator and the restore in one process, against a folder replica:
// writes through the pool's writer lock (as requests make them), the log
// folded and restarted by the replicator, a maintenance hold, a replica that
// goes away and comes back.

#include "replica/replicator.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "data/shipped_schema.h"
#include "replica/folder_store.h"
#include "replica/replica_objects.h"
#include "replica/replica_restore.h"
#include "replica/wal_format.h"
#include "temp_dir.h"

namespace quelvar::replica {
namespace {

using namespace std::chrono_literals;

struct RecordingConsole : OperatorConsole {
  void countModule() override {}
  void log(std::string entry) override {
    std::lock_guard lock(mutex);
    entries += entry + "\n";
  }
  std::string Entries() {
    std::lock_guard lock(mutex);
    return entries;
  }
  std::mutex mutex;
  std::string entries;
};

std::string Text(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  std::string out = "<error>";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
    out = sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0)
              ? reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))
              : "<none>";
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

// A folder replica whose uploads a test shapes (Put); the rest goes to the
// folder as it is.
class ShapedFolderStore : public ReplicaStore {
 public:
  explicit ShapedFolderStore(std::filesystem::path root) : folder_(std::move(root)) {}
  std::optional<std::vector<std::uint8_t>> Get(const std::string& key, std::chrono::milliseconds limit) override {
    return folder_.Get(key, limit);
  }
  std::vector<std::string> List(const std::string& prefix, std::chrono::milliseconds limit) override {
    return folder_.List(prefix, limit);
  }
  void Remove(const std::string& key, std::chrono::milliseconds limit) override { folder_.Remove(key, limit); }

 protected:
  FolderStore folder_;
};

// A folder replica whose uploads fail now and then after the object was
// stored (as a timeout after the storage took it); it records every write.
class FlakyStore final : public ShapedFolderStore {
 public:
  using ShapedFolderStore::ShapedFolderStore;
  void Put(const std::string& key, std::span<const std::uint8_t> bytes, std::chrono::milliseconds limit) override {
    folder_.Put(key, bytes, limit);
    std::lock_guard lock(mutex_);
    auto [it, fresh] = written_.emplace(key, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    if (!fresh && it->second != std::vector<std::uint8_t>(bytes.begin(), bytes.end())) ++rewrittenWithOtherBytes_;
    if (key.ends_with("snapshot") || ++puts_ % 3 != 0) return;
    throw StoreError("timed out after the object was stored");
  }
  int RewrittenWithOtherBytes() {
    std::lock_guard lock(mutex_);
    return rewrittenWithOtherBytes_;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::vector<std::uint8_t>> written_;
  int puts_ = 0;
  int rewrittenWithOtherBytes_ = 0;
};

// A folder replica whose snapshot uploads wait until the test opens the gate
// (a slow link while a generation's snapshot goes out).
class GatedStore final : public ShapedFolderStore {
 public:
  using ShapedFolderStore::ShapedFolderStore;
  void Put(const std::string& key, std::span<const std::uint8_t> bytes, std::chrono::milliseconds limit) override {
    if (key.ends_with("snapshot")) {
      std::unique_lock lock(mutex_);
      opened_.wait(lock, [this] { return open_; });
    }
    folder_.Put(key, bytes, limit);
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

class InProcessReplication : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ = dir_.File("QuelvarDB.db3");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, std::string(ShippedSchema()).c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    std::filesystem::create_directories(dir_.path() / "replica");
    std::filesystem::create_directories(dir_.path() / "second");
    path_ = std::make_shared<DatabasePath>(database_);
  }
  void TearDown() override {
    if (replicator_) replicator_->Stop();
  }

  // Replica1 in the folder "replica" (through `store` when given); a second
  // replica when `second` is given.
  void StartReplication(std::chrono::milliseconds interval = 100ms, std::unique_ptr<ReplicaStore> store = nullptr,
                        ReplicaSettings settings = {}, std::unique_ptr<ReplicaStore> second = nullptr) {
    settings.replicas = {{"Replica1", (dir_.path() / "replica").string()}};
    settings.interval = interval;
    settings.firstDrillAfter = 1h;
    // The system clock, moved forward by the test at will.
    settings.clockMs = [this] { return RealMs() + skipMs_.load(); };
    std::vector<std::unique_ptr<ReplicaStore>> stores;
    if (!store) store = std::make_unique<FolderStore>(dir_.path() / "replica");
    stores.push_back(std::move(store));
    if (second) {
      settings.replicas.push_back({"Replica2", (dir_.path() / "second").string()});
      stores.push_back(std::move(second));
    }
    replicator_ = std::make_unique<Replicator>(settings, std::move(stores), path_, console_);
    replicator_->Start();
  }

  // One write transaction as a request makes it: under the writers' lock, on
  // a pooled connection.
  void Save(const std::string& sql) {
    ConnectionPool& pool = path_->Connections();
    WriterHold hold;
    ASSERT_TRUE(hold.Acquire(pool.Writers(), 10s));
    ConnectionPool::Loan loan = pool.Borrow(database_);
    ASSERT_EQ(sqlite3_exec(loan.connection.get(), ("BEGIN;" + sql + ";COMMIT").c_str(), nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(loan.connection.get());
    pool.Return(std::move(loan));
  }

  // Waits until the replica holds every commit so far.
  bool CaughtUp() {
    std::this_thread::sleep_for(300ms);
    for (int i = 0; i < 200; ++i) {
      const std::string m = replicator_->MetricsText();
      if (m.find("quelvar_replica_lag_bytes{replica=\"Replica1\"} 0\n") != std::string::npos &&
          m.find("quelvar_replica_up{replica=\"Replica1\"} 1\n") != std::string::npos) {
        return true;
      }
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  std::string Restore(std::optional<std::int64_t> at = std::nullopt, const std::string& folder = "replica") {
    const std::string file = dir_.File("restored-" + std::to_string(++restores_) + ".db3");
    FolderStore store(dir_.path() / folder);
    last_ = RestoreFromReplica(store, at, file);
    return file;
  }

  std::size_t Generations() { return GenerationNames().size(); }

  std::vector<std::string> GenerationNames() {
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(dir_.path() / "replica" / "generations")) {
      if (entry.is_directory()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  static std::int64_t RealMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  // The replicator's clock now.
  std::int64_t NowMs() { return RealMs() + skipMs_.load(); }
  void Skip(std::chrono::milliseconds by) { skipMs_ += by.count(); }

  // Waits (as long as a loaded machine may need) until `done` holds.
  template <typename Done>
  bool Eventually(Done done, std::chrono::seconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (done()) return true;
      std::this_thread::sleep_for(50ms);
    }
    return done();
  }

  testing::TempDir dir_;
  std::string database_;
  std::shared_ptr<DatabasePath> path_;
  RecordingConsole console_;
  std::unique_ptr<Replicator> replicator_;
  RestoreOutcome last_;
  int restores_ = 0;
  std::atomic<std::int64_t> skipMs_{0};
};

TEST_F(InProcessReplication, TheLogIsFoldedAndRestartedWithoutBreakingTheGeneration) {
  StartReplication();
  // Enough transactions for several checkpoints (one every 1,000 frames) and
  // log restarts, in bursts that the replica catches up with (however slow
  // the machine).
  for (int i = 1; i <= 2500; ++i) {
    Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (" + std::to_string(i) + ", 'g" +
         std::to_string(i) + "')");
    if (i % 250 == 0) {
      ASSERT_TRUE(CaughtUp()) << console_.Entries();
    }
  }
  ASSERT_TRUE(CaughtUp()) << console_.Entries();
  // The log was folded back and started again: the current one holds only
  // the last of the commits.
  const auto header = ReadWalHeader(database_ + "-wal");
  ASSERT_TRUE(header);
  EXPECT_LT(ReadCommittedFrames(database_ + "-wal", StartOf(*header), std::size_t(1) << 30, false).commits.size(),
            1000u);
  EXPECT_EQ(Generations(), 1u) << console_.Entries();
  const std::string file = Restore();
  EXPECT_EQ(last_.stop, "");
  EXPECT_GT(last_.segments, 1u);
  EXPECT_EQ(Text(file, "SELECT count(*) FROM T06_GRUP"), "2500");
  EXPECT_EQ(Text(file, "PRAGMA integrity_check"), "ok");
}

TEST_F(InProcessReplication, AMaintenanceHoldStartsANewGeneration) {
  StartReplication();
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (1, 'a')");
  ASSERT_TRUE(CaughtUp());
  EXPECT_EQ(Generations(), 1u);
  {
    ConnectionPool::MaintenanceHold hold(path_->Connections());
    // What a compaction does outside the writers' lock: the log folded and
    // emptied behind the replicator's back.
    sqlite3* db = nullptr;
    sqlite3_open(database_.c_str(), &db);
    sqlite3_exec(db, "INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (2, 'b'); VACUUM", nullptr, nullptr,
                 nullptr);
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_close(db);
  }
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (3, 'c')");
  ASSERT_TRUE(CaughtUp());
  EXPECT_EQ(Generations(), 2u) << console_.Entries();
  EXPECT_NE(console_.Entries().find("started (a restore or an integrity check changed the database file)"),
            std::string::npos)
      << console_.Entries();
  EXPECT_EQ(Text(Restore(), "SELECT group_concat(T06_Grupo) FROM T06_GRUP"), "a,b,c");
}

TEST_F(InProcessReplication, AGenerationStartedOnALongLogIsWholeFromItsSnapshotOn) {
  // The server died with a long log (more than the tracker reads at once):
  // here a connection that keeps it from being folded as it closes.
  sqlite3* keeper = nullptr;
  ASSERT_EQ(sqlite3_open(database_.c_str(), &keeper), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(keeper, "PRAGMA wal_autocheckpoint = 0; CREATE TABLE Big (b BLOB)", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  constexpr int kRows = 120;  // 1 MiB each
  for (int i = 0; i < kRows; ++i) {
    ASSERT_EQ(sqlite3_exec(keeper, "INSERT INTO Big VALUES (randomblob(1048576))", nullptr, nullptr, nullptr),
              SQLITE_OK);
  }
  StartReplication();
  // Reading, copying and packing 120 MiB takes a while on a slow or
  // instrumented build.
  ASSERT_TRUE(Eventually(
      [this] {
        return std::filesystem::exists(dir_.path() / "replica" / "generations") && Generations() == 1 &&
               std::filesystem::exists(dir_.path() / "replica" / "generations" / GenerationNames()[0] / "snapshot");
      },
      300s))
      << console_.Entries();
  sqlite3_close(keeper);
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (1, 'a')");
  ASSERT_TRUE(CaughtUp()) << console_.Entries();
  ASSERT_EQ(Generations(), 1u) << console_.Entries();
  // The replica loses every segment after the first (a crash cut the
  // shipping short): what is left must still be one moment of the database.
  const auto generation = dir_.path() / "replica" / "generations" / GenerationNames()[0];
  std::vector<std::filesystem::path> segments;
  for (auto& entry : std::filesystem::directory_iterator(generation)) {
    if (entry.path().filename() != "snapshot") segments.push_back(entry.path());
  }
  std::sort(segments.begin(), segments.end());
  for (std::size_t i = 1; i < segments.size(); ++i) std::filesystem::remove(segments[i]);
  const std::string file = Restore();
  EXPECT_EQ(Text(file, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(Text(file, "SELECT count(*) FROM Big"), std::to_string(kRows));
}

TEST_F(InProcessReplication, AStartOnTheSameLogGoesOnWithTheGenerationAndOnAFoldedOneStartsANewOne) {
  StartReplication();
  ASSERT_TRUE(CaughtUp()) << console_.Entries();  // the save below goes out as a segment
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (1, 'a')");
  ASSERT_TRUE(CaughtUp()) << console_.Entries();
  // As after a crash: the log is not folded as the replicator stops (another
  // connection keeps it), and a save is committed but not shipped.
  sqlite3* keeper = nullptr;
  ASSERT_EQ(sqlite3_open(database_.c_str(), &keeper), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(keeper, "SELECT count(*) FROM T06_GRUP", nullptr, nullptr, nullptr), SQLITE_OK);
  replicator_->Stop();
  replicator_.reset();
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (2, 'b')");
  StartReplication();
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (3, 'c')");
  ASSERT_TRUE(CaughtUp()) << console_.Entries();
  sqlite3_close(keeper);
  EXPECT_EQ(Generations(), 1u) << console_.Entries();
  EXPECT_NE(console_.Entries().find("resumed (the log still holds its last commit)"), std::string::npos)
      << console_.Entries();
  EXPECT_EQ(Text(Restore(), "SELECT group_concat(T06_Grupo) FROM T06_GRUP"), "a,b,c");
  EXPECT_EQ(last_.stop, "");

  // A stop that folds the log (the last connection closes): the generation
  // cannot go on.
  replicator_->Stop();
  replicator_.reset();
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (4, 'd')");
  StartReplication();
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (5, 'e')");
  ASSERT_TRUE(CaughtUp()) << console_.Entries();
  EXPECT_EQ(Generations(), 2u) << console_.Entries();
  EXPECT_EQ(Text(Restore(), "SELECT group_concat(T06_Grupo) FROM T06_GRUP"), "a,b,c,d,e");
  EXPECT_EQ(last_.stop, "");
}

TEST_F(InProcessReplication, AReplicaAwayGetsTheLogKeptAndOneLineEachWay) {
  StartReplication();
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (1, 'a')");
  ASSERT_TRUE(CaughtUp());
  // The disk goes: the folder is not there.
  std::filesystem::rename(dir_.path() / "replica", dir_.path() / "unplugged");
  for (int i = 2; i <= 20; ++i) {
    Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (" + std::to_string(i) + ", 'x" + std::to_string(i) +
         "')");
    std::this_thread::sleep_for(20ms);
  }
  std::this_thread::sleep_for(1500ms);
  EXPECT_NE(replicator_->HealthNote().find("replica Replica1 ("), std::string::npos);
  std::filesystem::rename(dir_.path() / "unplugged", dir_.path() / "replica");
  ASSERT_TRUE(CaughtUp()) << console_.Entries();
  EXPECT_EQ(replicator_->HealthNote(), "");
  const std::string log = console_.Entries();
  auto count = [&log](const std::string& text) {
    int n = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("is unreachable"), 1) << log;
  EXPECT_EQ(count("is back after"), 1) << log;
  EXPECT_EQ(count("continuity kept"), 1) << log;
  EXPECT_EQ(Generations(), 1u);
  EXPECT_EQ(Text(Restore(), "SELECT count(*) FROM T06_GRUP"), "20");
}

TEST_F(InProcessReplication, AFailedUploadIsSentAgainWithTheSameBytes) {
  auto flaky = std::make_unique<FlakyStore>(dir_.path() / "replica");
  FlakyStore& store = *flaky;
  StartReplication(100ms, std::move(flaky));
  for (int i = 1; i <= 12; ++i) {
    Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (" + std::to_string(i) + ", 'g" + std::to_string(i) +
         "')");
    std::this_thread::sleep_for(150ms);  // each save a segment of its own, more or less
  }
  std::this_thread::sleep_for(3s);  // the retries (1 s, then 2 s)
  ASSERT_TRUE(CaughtUp()) << console_.Entries();
  EXPECT_EQ(store.RewrittenWithOtherBytes(), 0);
  EXPECT_EQ(Generations(), 1u) << console_.Entries();
  EXPECT_EQ(Text(Restore(), "SELECT count(*) FROM T06_GRUP"), "12");
  EXPECT_EQ(last_.stop, "");
}

TEST_F(InProcessReplication, ARestoreStopsAtTheMomentAndAtADamagedSegment) {
  StartReplication();
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (1, 'a')");
  ASSERT_TRUE(CaughtUp());
  const auto between = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  std::this_thread::sleep_for(200ms);
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (2, 'b')");
  ASSERT_TRUE(CaughtUp());
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (3, 'c')");
  ASSERT_TRUE(CaughtUp());
  EXPECT_EQ(Text(Restore(between), "SELECT group_concat(T06_Grupo) FROM T06_GRUP"), "a");
  EXPECT_LE(last_.lastCommitMs, between);
  EXPECT_EQ(Text(Restore(), "SELECT group_concat(T06_Grupo) FROM T06_GRUP"), "a,b,c");
  // The newest segment damaged: the replay keeps what comes before it and says why.
  std::filesystem::path newest;
  for (auto& g : std::filesystem::directory_iterator(dir_.path() / "replica" / "generations")) {
    for (auto& f : std::filesystem::directory_iterator(g.path())) {
      if (f.path().filename() != "snapshot" && (newest.empty() || f.path() > newest)) newest = f.path();
    }
  }
  ASSERT_FALSE(newest.empty());
  std::filesystem::resize_file(newest, std::filesystem::file_size(newest) - 3);
  EXPECT_EQ(Text(Restore(), "SELECT group_concat(T06_Grupo) FROM T06_GRUP"), "a,b");
  EXPECT_NE(last_.stop.find("damaged or incomplete"), std::string::npos) << last_.stop;
  // An existing file is never written over.
  const std::string existing = dir_.File("restored-1.db3");
  const auto size = std::filesystem::file_size(existing);
  FolderStore store(dir_.path() / "replica");
  EXPECT_THROW(RestoreFromReplica(store, std::nullopt, existing), std::runtime_error);
  EXPECT_EQ(std::filesystem::file_size(existing), size);
}

TEST_F(InProcessReplication, OneReplicasSlowSnapshotHoldsNoSegmentOfTheOther) {
  auto gated = std::make_unique<GatedStore>(dir_.path() / "second");
  GatedStore& gate = *gated;
  StartReplication(100ms, nullptr, {}, std::move(gated));
  // Replica2's snapshot hangs; Replica1 receives its snapshot and every save.
  for (int i = 1; i <= 5; ++i) {
    Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (" + std::to_string(i) + ", 'g" + std::to_string(i) +
         "')");
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_TRUE(CaughtUp()) << console_.Entries();
  EXPECT_EQ(Text(Restore(), "SELECT count(*) FROM T06_GRUP"), "5");
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "second" / "generations"));
  // The link comes back: Replica2 gets its snapshot, then what followed it.
  gate.Open();
  ASSERT_TRUE(Eventually([&] {
    const std::string m = replicator_->MetricsText();
    return m.find("quelvar_replica_lag_bytes{replica=\"Replica2\"} 0\n") != std::string::npos &&
           m.find("quelvar_replica_up{replica=\"Replica2\"} 1\n") != std::string::npos &&
           m.find("quelvar_replica_generation_age_seconds{replica=\"Replica2\"}") != std::string::npos;
  })) << console_.Entries();
  EXPECT_EQ(Text(Restore(std::nullopt, "second"), "SELECT count(*) FROM T06_GRUP"), "5");
}

// The calendar of generations, on a clock the test moves forward by days.
TEST_F(InProcessReplication, ASnapshotOlderThanADayStartsANewGeneration) {
  StartReplication();
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (1, 'a')");
  ASSERT_TRUE(CaughtUp());
  const std::vector<std::string> first = GenerationNames();
  ASSERT_EQ(first.size(), 1u);
  // 23 hours on: the snapshot is not a day old yet.
  Skip(23h);
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (2, 'b')");
  ASSERT_TRUE(CaughtUp());
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(GenerationNames(), first) << console_.Entries();
  // Past the day: a new generation with a fresh snapshot.
  Skip(2h);
  // The line is written once the new snapshot is stored, a moment after its
  // folder appears.
  ASSERT_TRUE(Eventually([&] {
    return Generations() == 2 && console_.Entries().find("started (daily snapshot)") != std::string::npos;
  })) << console_.Entries();
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (3, 'c')");
  ASSERT_TRUE(CaughtUp());
  EXPECT_EQ(Text(Restore(), "SELECT group_concat(T06_Grupo) FROM T06_GRUP"), "a,b,c");
  EXPECT_NE(last_.generation, first.front());
}

TEST_F(InProcessReplication, AGenerationGoesOnceALaterOneStartedBeforeTheRetention) {
  ReplicaSettings settings;
  settings.retentionDays = 1;
  StartReplication(100ms, nullptr, settings);
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (1, 'a')");
  ASSERT_TRUE(CaughtUp());
  const std::string g1 = GenerationNames().at(0);
  // A day and an hour on: the daily snapshot starts g2. g1 stays: a restore
  // to a moment a day ago still needs it.
  Skip(25h);
  ASSERT_TRUE(Eventually([&] { return Generations() == 2; })) << console_.Entries();
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (2, 'b')");
  ASSERT_TRUE(CaughtUp());
  const std::string g2 = GenerationNames().at(1);
  EXPECT_EQ(GenerationNames(), (std::vector<std::string>{g1, g2}));
  // Another day: g3 starts, and g2 began before the retention's horizon, so
  // g1 goes; g2 stays as long as g3 is younger than the retention.
  Skip(25h);
  ASSERT_TRUE(Eventually([&] {
    const auto names = GenerationNames();
    return names.size() == 2 && names.front() == g2;
  })) << console_.Entries();
  ASSERT_TRUE(CaughtUp());
  EXPECT_EQ(Text(Restore(), "SELECT group_concat(T06_Grupo) FROM T06_GRUP"), "a,b");
}

// The shutdown and the operator's restart of the replication may stop it at
// the same moment: both return, and what was saved is shipped.
TEST_F(InProcessReplication, TwoStopsAtOnceBothReturn) {
  StartReplication();
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (1, 'a')");
  {
    std::jthread first([this] { replicator_->Stop(); });
    std::jthread second([this] { replicator_->Stop(); });
  }
  replicator_->Stop();  // and once more, with nothing left to stop
  EXPECT_EQ(Text(Restore(), "SELECT group_concat(T06_Grupo) FROM T06_GRUP"), "a");
}

TEST_F(InProcessReplication, TheNewestCompleteGenerationStaysWhateverItsAge) {
  ReplicaSettings settings;
  settings.retentionDays = 1;
  settings.snapshotEvery = std::chrono::hours(24 * 30);
  StartReplication(100ms, nullptr, settings);
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (1, 'a')");
  ASSERT_TRUE(CaughtUp());
  const std::string g1 = GenerationNames().at(0);
  replicator_->Stop();
  replicator_.reset();
  // A generation whose snapshot upload a crash cut short, a day after g1:
  // it cannot be restored, so it does not stand in for g1.
  const std::string cut = NewGenerationName(NowMs() + 24 * 3600 * 1000);
  std::filesystem::create_directories(dir_.path() / "replica" / "generations" / cut);
  std::ofstream(dir_.path() / "replica" / "generations" / cut / "0000000000000001") << "cut short";
  // Three days on the server starts again: g3. A restore two days back needs
  // g1 (the newest complete generation started before that moment).
  Skip(72h);
  StartReplication(100ms, nullptr, settings);
  Save("INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) VALUES (2, 'b')");
  ASSERT_TRUE(CaughtUp());
  ASSERT_TRUE(Eventually([&] { return Generations() == 3; })) << console_.Entries();
  std::this_thread::sleep_for(500ms);
  const std::string g3 = GenerationNames().at(2);
  EXPECT_EQ(GenerationNames(), (std::vector<std::string>{g1, cut, g3})) << console_.Entries();
  // Two more days: g3 itself is older than the retention. It is the newest
  // complete generation and stays; everything before it goes.
  Skip(48h);
  ASSERT_TRUE(Eventually([&] { return Generations() == 1; })) << console_.Entries();
  EXPECT_EQ(GenerationNames(), (std::vector<std::string>{g3}));
  EXPECT_EQ(Text(Restore(), "SELECT group_concat(T06_Grupo) FROM T06_GRUP"), "a,b");
}

}  // namespace
}  // namespace quelvar::replica
