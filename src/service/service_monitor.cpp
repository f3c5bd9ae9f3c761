#include "service/service_monitor.h"

#include <chrono>
#include <exception>
#include <system_error>

#include "service/health_check.h"

namespace quelvar::service {
namespace {

namespace fs = std::filesystem;

// Group and event segments of a path, by the path rule of the intake: the
// last segment names the event (the one before it when the path ends in
// "/"), the one before that the group.
std::pair<std::string_view, std::string_view> PathNames(std::string_view path) {
  if (!path.empty() && path.front() == '/') path.remove_prefix(1);
  if (!path.empty() && path.back() == '/') path.remove_suffix(1);
  if (path.empty()) return {};
  const std::size_t last = path.rfind('/');
  if (last == std::string_view::npos) return {std::string_view(), path};
  const std::string_view event = path.substr(last + 1);
  const std::string_view before = path.substr(0, last);
  const std::size_t previous = before.rfind('/');
  return {previous == std::string_view::npos ? before : before.substr(previous + 1), event};
}

}  // namespace

std::pair<std::string, std::string> RequestLabels(const EventCatalogue& catalogue, std::string_view path) {
  const auto [groupName, eventName] = PathNames(path);
  const TDWServerEvents* group = nullptr;
  std::string groupLabel;
  if (!groupName.empty()) {
    for (const TDWServerEvents& candidate : catalogue.Groups()) {
      if (candidate.Qualifies(groupName)) {
        group = &candidate;
        break;
      }
    }
    groupLabel = group != nullptr ? group->Name() : "other";
  }
  std::string eventLabel;
  if (!eventName.empty()) {
    eventLabel = "other";
    for (const TDWServerEvents& candidate : catalogue.Groups()) {
      if (group != nullptr && &candidate != group) continue;
      if (const TDWEvent* event = candidate.Find(eventName)) {
        eventLabel = event->Name;
        break;
      }
    }
  }
  return {groupLabel, eventLabel};
}

std::uint64_t DatabaseBytes(const std::string& databaseFile) {
  std::uint64_t total = 0;
  for (const std::string& file : {databaseFile, databaseFile + "-wal"}) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (!ec) total += size;
  }
  return total;
}

std::optional<double> NewestFileAgeSeconds(const fs::path& folder, BackupKind kind,
                                           const std::function<BackupKind(std::string_view name)>& kindOf) {
  std::error_code ec;
  std::optional<fs::file_time_type> newest;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code entryError;
    if (!it->is_regular_file(entryError)) continue;
    if ((kindOf ? kindOf(it->path().filename().string()) : BackupKind::Manual) != kind) continue;
    const auto modified = it->last_write_time(entryError);
    if (!entryError && (!newest || modified > *newest)) newest = modified;
  }
  if (!newest) return std::nullopt;
  const auto age = fs::file_time_type::clock::now() - *newest;
  return std::chrono::duration<double>(age).count();
}

void ServiceMonitor::Handle(const HttpRequest& request, HttpReply& reply) {
  if (request.requestType == RequestType::Get) {
    if (request.path == kHealthPath) return Health(reply);
    if (request.path == kMetricsPath) return Metrics(reply);
  }
  const auto started = std::chrono::steady_clock::now();
  try {
    inner_.Handle(request, reply);
  } catch (...) {
    // The listener turns it into its 500; count it as such.
    const auto [group, event] = RequestLabels(catalogue_, request.path);
    metrics_.RecordRequest(group, event, 500,
                           std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
                           request.body.size(), 0);
    throw;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (!reply.event.empty()) {
    metrics_.RecordRequest(reply.group, reply.event, reply.status, seconds, request.body.size(), reply.body.size());
    return;
  }
  const auto [group, event] = RequestLabels(catalogue_, request.path);
  metrics_.RecordRequest(group, event, reply.status, seconds, request.body.size(), reply.body.size());
}

void ServiceMonitor::Health(HttpReply& reply) const {
  const HealthReport report = CheckDatabaseHealth(*sources_.databasePath->get());
  reply = HttpReply{};
  reply.status = report.healthy ? 200 : 503;
  reply.contentType = "text/plain";
  reply.charset = "utf-8";
  reply.body = report.reason;
  reply.extraHeaders.emplace_back("Cache-Control", "no-store");
}

void ServiceMonitor::Metrics(HttpReply& reply) const {
  ServiceMetrics::Gauges gauges;
  if (sources_.openConnections) gauges.connectionsOpen = sources_.openConnections();
  gauges.databaseBytes = DatabaseBytes(*sources_.databasePath->get());
  gauges.newestAutomaticBackupAgeSeconds =
      NewestFileAgeSeconds(sources_.backupFolder, BackupKind::Automatic, sources_.backupKind);
  gauges.newestManualBackupAgeSeconds =
      NewestFileAgeSeconds(sources_.backupFolder, BackupKind::Manual, sources_.backupKind);
  reply = HttpReply{};
  reply.status = 200;
  reply.contentType = "text/plain; version=0.0.4";
  reply.charset = "utf-8";
  reply.body = metrics_.Render(gauges);
  reply.extraHeaders.emplace_back("Cache-Control", "no-store");
}

}  // namespace quelvar::service
