#include "host/server_control.h"

#include <exception>
#include <utility>

#include "host/backup_schedule.h"
#include "host/journal_settings.h"
#include "host/listener_settings.h"
#include "host/settings.h"
#include "tools/restore.h"

namespace quelvar::host {

std::string ServerCaption(std::string_view version, int port) {
  std::string caption = "Servidor do Banco de Dados do Quelvar ";
  caption += version;
  caption += " - Porta ";
  caption += std::to_string(port);
  return caption;
}

namespace {

// The schedule's backups are automatic; the copies a restore keeps and the
// hidden files of copies in progress are no backups of the operator's.
service::BackupKind BackupKindOf(std::string_view name) {
  if (IsAutomaticBackupName(name)) return service::BackupKind::Automatic;
  if (name.empty() || name.front() == '.' || name.starts_with(tools::kBeforeRestorePrefix))
    return service::BackupKind::Neither;
  return service::BackupKind::Manual;
}

}  // namespace

ServerControl::ServerControl(OperatorConsole& console, std::filesystem::path programFolder,
                             SelfUpdate selfUpdate)
    : console_(console),
      programFolder_(std::move(programFolder)),
      databasePath_(std::make_shared<quelvar::DatabasePath>(std::string())),
      meteredConsole_(console_, metrics_),
      service_(meteredConsole_, programFolder_, databasePath_, service::BuildEventCatalogue(),
               StandardHandlers(selfUpdate)),
      monitor_(service_, service_.Catalogue(), metrics_,
               service::MonitorSources{databasePath_, programFolder_ / "Backup",
                                        [this] { return listener_.OpenConnections(); }, BackupKindOf,
                                        [this] {
                                          const auto replication = replication_.load();
                                          return replication ? replication->MetricsText() : std::string();
                                        },
                                        [this] {
                                          const auto replication = replication_.load();
                                          return replication ? replication->HealthNote() : std::string();
                                        }}),
      listener_(monitor_) {
  // Refused credentials are logged by address and count, never with what was tried.
  listener_.SetLoginFailureReport([this](const std::string& address, std::size_t failures) {
    meteredConsole_.log("Login --> \r" + std::to_string(failures) +
                        (failures == 1 ? " tentativa" : " tentativas") +
                        " de acesso com usuário ou senha errados de " + address);
  });
}

ServerControl::~ServerControl() { listener_.SetActive(false); }

void ServerControl::SetDatabasePath(std::string path) {
  // The journal goes with the database: read from the settings file each time
  // the path is set from it.
  databasePath_->Connections().SetJournal(ReadJournalSetting(programFolder_));
  databasePath_->set(DatabaseFileFor(programFolder_, path));
  configuredDb_ = std::move(path);
}

std::string ServerControl::DatabasePath() const { return configuredDb_; }

std::string ServerControl::DatabaseFile() const { return *databasePath_->get(); }

void ServerControl::Start() {
  listener_.SetActive(false);
  listener_.SetHandler(monitor_);
  if (port_ < 0 || port_ > 65535) {
    throw service::ListenerError("port " + std::to_string(port_) + " is outside the range 0-65535");
  }
  listener_.SetPort(static_cast<std::uint16_t>(port_));
  try {
    listener_.SetOptions(LoadListenerOptions(programFolder_));
  } catch (const std::exception& failure) {
    throw service::ListenerError(failure.what());
  }
  listener_.SetActive(true);
  std::lock_guard guard(started_);
  version_ = std::string(kServerVersion);
  startedPort_ = port_;
  if (onStarted_) onStarted_();
}

void ServerControl::SetOnStarted(std::function<void()> started) {
  std::lock_guard guard(started_);
  onStarted_ = std::move(started);
}

std::string ServerControl::Version() const {
  std::lock_guard guard(started_);
  return version_;
}

void ServerControl::Stop() { listener_.SetActive(false); }

void ServerControl::StopAccepting() { listener_.StopAccepting(); }

bool ServerControl::WaitIdle(std::chrono::milliseconds limit) {
  return listener_.WaitIdle(std::chrono::steady_clock::now() + limit);
}

std::size_t ServerControl::OpenConnections() const { return listener_.OpenConnections(); }

bool ServerControl::Listening() const { return listener_.Active(); }

std::uint16_t ServerControl::BoundPort() const { return listener_.BoundPort(); }

std::uint16_t ServerControl::BoundTlsPort() const { return listener_.BoundTlsPort(); }

std::string ServerControl::Caption() const {
  std::lock_guard guard(started_);
  if (version_.empty()) return std::string(kDesignCaption);
  return ServerCaption(version_, startedPort_);
}

}  // namespace quelvar::host
