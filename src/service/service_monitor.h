#pragma once
// The monitoring door in front of the event service. With the same
// credentials as every request (the listener checks them first):
//
//   GET /healthz  200 "ok" when the configured database opens, answers a
//                 query and holds the shipped schema's tables; otherwise 503
//                 with the reason (health_check.h).
//                 While the database is healthy the status stays 200 and
//                 the note of a lagging replica follows "ok" on lines of
//                 its own.
//   GET /metrics  the figures of metrics.h in the Prometheus text format,
//                 then those of the replicas.
//
// Every other request goes to the event service unchanged, timed and counted
// by the group and event its path names. The two pages create no service
// module, so they do not move the request counter.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "data/database_path.h"
#include "service/event_catalogue.h"
#include "service/http_exchange.h"
#include "service/metrics.h"

namespace quelvar::service {

inline constexpr std::string_view kHealthPath = "/healthz";
inline constexpr std::string_view kMetricsPath = "/metrics";

enum class BackupKind { Automatic, Manual, Neither };

struct MonitorSources {
  std::shared_ptr<DatabasePath> databasePath;
  std::filesystem::path backupFolder;
  std::function<std::size_t()> openConnections;  // may be empty
  // The kind of a file of the backup folder, by its name (may be empty: every
  // file counts as a manual backup).
  std::function<BackupKind(std::string_view name)> backupKind;
  // More families appended to /metrics (the replicas'); may be empty.
  std::function<std::string()> extraMetrics;
  // Lines added below "ok" on /healthz (a replica that lags); may be empty.
  std::function<std::string()> healthNote;
};

// The labels of a request path: the catalogue's group and event names it
// names, "other" for a name the catalogue does not hold, "" for none.
std::pair<std::string, std::string> RequestLabels(const EventCatalogue& catalogue, std::string_view path);

// Size of a database file and its "-wal" side file; 0 for what is missing.
std::uint64_t DatabaseBytes(const std::string& databaseFile);
// Age in seconds of the most recently modified regular file in `folder` of
// that kind (every file is of kind Manual when `kindOf` is empty).
std::optional<double> NewestFileAgeSeconds(const std::filesystem::path& folder, BackupKind kind,
                                           const std::function<BackupKind(std::string_view name)>& kindOf);

class ServiceMonitor final : public RequestHandler {
 public:
  // `inner`, `catalogue` and `metrics` must outlive the monitor.
  ServiceMonitor(RequestHandler& inner, const EventCatalogue& catalogue, ServiceMetrics& metrics,
                 MonitorSources sources)
      : inner_(inner), catalogue_(catalogue), metrics_(metrics), sources_(std::move(sources)) {}

  void Handle(const HttpRequest& request, HttpReply& reply) override;

 private:
  void Health(HttpReply& reply) const;
  void Metrics(HttpReply& reply) const;

  RequestHandler& inner_;
  const EventCatalogue& catalogue_;
  ServiceMetrics& metrics_;
  const MonitorSources sources_;
};

}  // namespace quelvar::service
