#pragma once
// The server's running state, shared by the headless program and the operator
// window: the configured database path (`vLocalDB`), the port (`vPorta`), the
// version text (`FVersao`), the event service and its listener.
//
// Start() is the listener (re)start of the host: stop the listener, hand it
// the event service, set the port, start it, and set the version text. When
// the start fails the listener stays stopped and the version text keeps its
// previous value. Meant to be driven from one thread (the window's thread, or
// the headless program's main thread); request threads only read the database
// path, which is published whole.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "replica/replicator.h"
#include "data/database_path.h"
#include "service/event_service.h"
#include "service/listener.h"
#include "service/metrics.h"
#include "data/operator_console.h"
#include "service/service_monitor.h"
#include "host/standard_handlers.h"

namespace quelvar::host {

// The version text the listener start sets (`FVersao`).
inline constexpr std::string_view kServerVersion = "1.5";
// The window caption until the listener has first started.
inline constexpr std::string_view kDesignCaption = "Servidor do Banco de Dados do Quelvar 1.5 - Porta 8040";

// "Servidor do Banco de Dados do Quelvar " + version + " - Porta " + port.
std::string ServerCaption(std::string_view version, int port);

class ServerControl {
 public:
  // `selfUpdate` Off: "AtualizaServidor" never replaces the program (an
  // installation whose updates come with its system package).
  ServerControl(OperatorConsole& console, std::filesystem::path programFolder,
                SelfUpdate selfUpdate = SelfUpdate::On);
  ~ServerControl();  // stops the listener

  ServerControl(const ServerControl&) = delete;
  ServerControl& operator=(const ServerControl&) = delete;

  // `vLocalDB` as configured: the next service module connects to this file
  // (a relative path being taken from the program folder), with the journal
  // the settings file selects (journal_settings.h).
  void SetDatabasePath(std::string path);
  std::string DatabasePath() const;
  // The file the service modules open (the configured path made absolute).
  std::string DatabaseFile() const;
  std::shared_ptr<quelvar::DatabasePath> SharedDatabasePath() const { return databasePath_; }

  // `vPorta`: the port the next Start() uses.
  void SetPort(int port) { port_ = port; }
  int Port() const { return port_; }

  // Stops, sets the handler, the port and the listener's options of
  // Config1.ini (credentials, address, TLS, limits: read again at every
  // start), starts, sets the version text and tells the start (SetOnStarted).
  // Throws service::ListenerError (the listener stopped, the version text
  // unchanged) when the port is outside 0-65535 or cannot be opened, or the
  // options cannot be used. Any thread (the window's, the panel's restarts).
  void Start();
  // `started` runs after each successful Start, on the thread that started,
  // while no other start can finish: it must only hand the news on (the
  // window queues a refresh of its caption). nullptr: none.
  void SetOnStarted(std::function<void()> started);
  // Stops the listener; harmless when already stopped.
  void Stop();
  // The graceful stop: StopAccepting() closes the port, WaitIdle() gives the
  // open connections up to `limit` to finish (true when every one has).
  // Stop() cuts off what is left.
  void StopAccepting();
  bool WaitIdle(std::chrono::milliseconds limit);
  std::size_t OpenConnections() const;

  // The figures behind GET /metrics.
  service::ServiceMetrics& Metrics() { return metrics_; }

  // The replication whose figures /metrics shows and whose lagging replicas
  // /healthz names (none: nullptr). Safe while requests run.
  void SetReplication(std::shared_ptr<replica::Replicator> replication) { replication_.store(std::move(replication)); }
  // The running replication; nullptr when none is configured.
  std::shared_ptr<replica::Replicator> Replication() const { return replication_.load(); }

  bool Listening() const;
  // The port actually bound (differs from Port() only for port 0); 0 when stopped.
  std::uint16_t BoundPort() const;
  // The TLS port actually bound; 0 when stopped or without TLS.
  std::uint16_t BoundTlsPort() const;
  // The listener, for its connection count and its graceful stop.
  service::Listener& Listener() { return listener_; }

  // `FVersao`: empty until the listener has first started.
  std::string Version() const;
  // The window caption: the design caption until the first start.
  std::string Caption() const;

  OperatorConsole& Console() const { return console_; }
  // The console the service modules count and log on (the figures see it).
  OperatorConsole& ModuleConsole() { return meteredConsole_; }
  const std::filesystem::path& ProgramFolder() const { return programFolder_; }

 private:
  OperatorConsole& console_;
  const std::filesystem::path programFolder_;
  const std::shared_ptr<quelvar::DatabasePath> databasePath_;
  std::string configuredDb_;
  service::ServiceMetrics metrics_;
  std::atomic<std::shared_ptr<replica::Replicator>> replication_;
  service::MeteredConsole meteredConsole_;
  service::EventService service_;
  service::ServiceMonitor monitor_;
  service::Listener listener_;
  int port_ = 0;
  mutable std::mutex started_;  // guards the three below
  std::string version_;
  int startedPort_ = 0;  // the port of the caption
  std::function<void()> onStarted_;
};

}  // namespace quelvar::host
