#include "host/panel_wiring.h"

#include <chrono>
#include <exception>
#include <fstream>
#include <sstream>
#include <utility>

#include "host/log_format.h"
#include "host/panel_settings.h"
#include "host/replica_config.h"
#include "host/replication_start.h"
#include "host/settings.h"
#include "panel/panel_texts.h"

namespace quelvar::host {
namespace {

// The answer leaves before the listener it went through is restarted.
constexpr std::chrono::milliseconds kRestartDelay{1000};

std::string FileText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

panel::PanelSources SourcesOf(ServerControl& server) {
  panel::PanelSources sources;
  sources.console = &server.ModuleConsole();
  sources.databasePath = server.SharedDatabasePath();
  sources.programFolder = server.ProgramFolder();
  const std::filesystem::path folder = server.ProgramFolder();
  sources.credentials = [folder] { return ReadPanelCredentials(folder); };
  sources.version = [] { return std::string(QUELVAR_VERSION) + " (Quelvar " + std::string(kServerVersion) + ")"; };
  sources.openConnections = [&server] { return server.OpenConnections(); };
  sources.readSettings = [folder] { return ReadPanelSettings(folder); };
  sources.roster = &server.Listener().Roster();
  sources.lastIntegrity = [&server]() -> std::optional<panel::IntegrityResult> {
    const auto outcome = server.Metrics().LastIntegrity();
    if (!outcome) return std::nullopt;
    return panel::IntegrityResult{outcome->ok, outcome->when};
  };
  sources.replicas = [&server] {
    std::vector<panel::ReplicaLine> lines;
    if (const auto replication = server.Replication()) {
      for (const replica::Replicator::State& state : replication->States()) {
        lines.push_back({state.name + " (" + state.target + ")", state.summary});
      }
    }
    return lines;
  };
  return sources;
}

}  // namespace

std::string PanelLevelOf(std::string_view entry) { return std::string(LevelName(LevelOfEntry(entry))); }

PanelWiring::PanelWiring(ServerControl& server, panel::RecentLog& log)
    : server_(server),
      log_(log),
      door_(
          [this, &server] {
            panel::PanelSources sources = SourcesOf(server);
            sources.writeSettings = [this](const auto& values) { return WriteSettings(values); };
            return sources;
          }(),
          log, ReadPanelIdleTime(server.ProgramFolder())),
      restarter_([this] { Restarts(); }) {
  server_.Listener().SetEntrance(&door_);
}

PanelWiring::~PanelWiring() {
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  restarter_.join();
  door_.Wake();
  server_.Stop();
  server_.Listener().SetEntrance(nullptr);
}

panel::SettingsOutcome PanelWiring::WriteSettings(const std::vector<std::pair<std::string, std::string>>& values) {
  const std::filesystem::path folder = server_.ProgramFolder();
  const std::string problem = CheckPanelSettings(values, folder);
  if (!problem.empty()) return {false, problem};
  const std::string before = FileText(folder / std::string(kConfigFileName));
  SettingsRestarts restarts;
  try {
    restarts = WritePanelSettings(values, folder);
  } catch (const std::exception& failure) {
    return {false, failure.what()};
  }
  if (!restarts.listener && !restarts.replication) {
    return {true, "Configuração gravada. Um novo horário de backup automático vale a partir do próximo início do "
                  "servidor."};
  }
  {
    std::lock_guard guard(lock_);
    if (restarts.listener && !pendingRestart_) pendingRestart_ = before;
    pendingReplication_ = pendingReplication_ || restarts.replication;
  }
  wake_.notify_all();
  if (!restarts.listener) {
    return {true, "Configuração gravada. A replicação será reiniciada em instantes com a nova configuração."};
  }
  return {true, "Configuração gravada. O servidor será reiniciado em instantes com a nova configuração."};
}

void PanelWiring::RestartReplication() {
  try {
    const replica::ReplicaSettings settings = ReadReplicaSettings(server_.ProgramFolder());
    if (const auto running = server_.Replication()) running->Stop();
    server_.SetReplication(nullptr);
    StartReplication(server_, settings);
    log_.log(std::string(panel::kLogPrefix) + "replicação reiniciada com a nova configuração");
  } catch (const std::exception& failure) {
    log_.log(std::string(panel::kFailurePrefix) + "a replicação não reiniciou: " + failure.what());
  }
}

void PanelWiring::RestartListener(const std::string& before) {
  const std::filesystem::path file = server_.ProgramFolder() / std::string(kConfigFileName);
  // The listener on the port the file names now.
  auto startFromFile = [this, &file] {
    server_.SetPort(PortFromText(IniFile::Load(file).Get(kConfigSection, kPortKey).value_or("")));
    server_.Start();
  };
  door_.Wake();
  try {
    startFromFile();
    log_.log(std::string(panel::kLogPrefix) + "servidor reiniciado com a nova configuração");
  } catch (const std::exception& failure) {
    log_.log(std::string(panel::kFailurePrefix) + "o servidor não reiniciou com a nova configuração: " +
             failure.what() + "\rA configuração anterior foi restaurada.");
    try {
      IniFile::FromText(before).Save(file);
      startFromFile();
    } catch (const std::exception& again) {
      log_.log(std::string(panel::kFailurePrefix) + "o servidor não reiniciou: " + again.what());
    }
  }
}

void PanelWiring::Restarts() {
  std::unique_lock guard(lock_);
  for (;;) {
    wake_.wait(guard, [this] { return stopping_ || pendingRestart_.has_value() || pendingReplication_; });
    if (stopping_) return;
    wake_.wait_for(guard, kRestartDelay, [this] { return stopping_; });
    if (stopping_) return;
    const bool replication = std::exchange(pendingReplication_, false);
    const std::optional<std::string> before = std::exchange(pendingRestart_, std::nullopt);
    guard.unlock();
    if (before) RestartListener(*before);
    // After the listener: the replication reads the file as the listener left it.
    if (replication) RestartReplication();
    guard.lock();
  }
}

}  // namespace quelvar::host
