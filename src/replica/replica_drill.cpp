#include "replica/replica_drill.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "replica/replica_restore.h"
#include "replica/replica_store.h"

namespace quelvar::replica {

void RunRestoreDrill(const ReplicaSettings &settings, OperatorConsole &console, ReplicaFigures &figures) {
  if (settings.replicas.empty()) return;
  const ReplicaTarget &newest = settings.replicas.front();
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("quelvar-drill-" + std::to_string(::getpid()) + ".db3");
  std::error_code ec;
  std::filesystem::remove(file, ec);
  try {
    auto store = OpenStore(newest.target, settings.s3);
    const auto started = std::chrono::steady_clock::now();
    const RestoreOutcome outcome = RestoreFromReplica(*store, std::nullopt, file);
    const auto took = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
    console.log("Replication: restore drill of " + newest.name + " passed: generation " + outcome.generation +
                ", last commit " + LocalMomentText(outcome.lastCommitMs) + ", " + std::to_string(outcome.segments) +
                " segment(s), " + std::to_string(took.count()) + " s");
    std::lock_guard lock(figures.mutex);
    figures.lastGoodDrillMs = settings.NowMs();
  } catch (const std::exception &failure) {
    console.log("Replication: restore drill of " + newest.name + " --> " + failure.what());
    std::lock_guard lock(figures.mutex);
    ++figures.drillFailures;
  }
  std::filesystem::remove(file, ec);
}

}  // namespace quelvar::replica
