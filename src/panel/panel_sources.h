#pragma once
// What the panel needs of the program around it, wired by the host: the
// server's running state, the settings file, the replicas. Every function may
// be called from request threads at any time.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "service/connection_roster.h"
#include "data/database_path.h"
#include "data/operator_console.h"

namespace quelvar::panel {

// The panel's login, from the settings file (read at every login).
struct PanelCredentials {
  std::string user;          // UsuarioPainel
  std::string passwordHash;  // SenhaPainel; "" when not set
};

// What a change of a setting restarts to take effect.
enum class Restarts { Nothing, Listener, Replication };

// One setting as the configuration page shows it.
struct SettingField {
  std::string key;
  std::string value;
  Restarts restarts = Restarts::Nothing;
};

// The outcome of writing the settings.
struct SettingsOutcome {
  bool written = false;
  std::string message;  // the refusal, or what happens next
};

// The outcome of the last integrity check of the database and when it ran.
struct IntegrityResult {
  bool ok = false;
  std::time_t when = 0;
};

// One line about one replica: its name and its state (lag, last shipment).
struct ReplicaLine {
  std::string name;
  std::string state;
};

struct PanelSources {
  // The service modules' console (the request counter and the operator log),
  // the configured database and the program folder: what the backup,
  // restore and maintenance actions run with.
  OperatorConsole* console = nullptr;
  std::shared_ptr<DatabasePath> databasePath;
  std::filesystem::path programFolder;

  std::function<PanelCredentials()> credentials;
  std::function<std::string()> version;
  std::function<std::size_t()> openConnections;
  // The settings the configuration page shows, in order.
  std::function<std::vector<SettingField>()> readSettings;
  // Validates `values` (key, new value) as a start-up would, and when every
  // one is sound writes the settings file whole with them.
  std::function<SettingsOutcome(const std::vector<std::pair<std::string, std::string>>& values)> writeSettings;
  // The last integrity check, whatever ran it; not set (or nothing) when none ran.
  std::function<std::optional<IntegrityResult>()> lastIntegrity;
  // The replicas' state; not set when no replication is wired.
  std::function<std::vector<ReplicaLine>()> replicas;
  // The clients connected now and the last refusals, when the listener keeps them.
  const service::ConnectionRoster* roster = nullptr;
};

}  // namespace quelvar::panel
