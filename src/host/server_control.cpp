#include "host/server_control.h"

#include <exception>
#include <utility>

#include "host/journal_settings.h"
#include "host/listener_settings.h"
#include "host/settings.h"

namespace quelvar::host {

std::string ServerCaption(std::string_view version, int port) {
  std::string caption = "Servidor do Banco de Dados do Quelvar ";
  caption += version;
  caption += " - Porta ";
  caption += std::to_string(port);
  return caption;
}

ServerControl::ServerControl(OperatorConsole& console, std::filesystem::path programFolder,
                             service::SelfUpdate selfUpdate)
    : console_(console),
      programFolder_(std::move(programFolder)),
      databasePath_(std::make_shared<service::DatabasePath>(std::string())),
      meteredConsole_(console_, metrics_),
      service_(meteredConsole_, programFolder_, databasePath_, service::BuildEventCatalogue(),
               service::StandardHandlers(selfUpdate)),
      monitor_(service_, service_.Catalogue(), metrics_,
               service::MonitorSources{databasePath_, programFolder_ / "Backup",
                                       [this] { return listener_.OpenConnections(); },
                                       [this] {
                                         const auto replication = replication_.load();
                                         return replication ? replication->MetricsText() : std::string();
                                       },
                                       [this] {
                                         const auto replication = replication_.load();
                                         return replication ? replication->HealthNote() : std::string();
                                       }}),
      listener_(monitor_) {}

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
  version_ = std::string(kServerVersion);
  startedPort_ = port_;
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
  if (version_.empty()) return std::string(kDesignCaption);
  return ServerCaption(version_, startedPort_);
}

}  // namespace quelvar::host
