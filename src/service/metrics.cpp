#include "service/metrics.h"

#include <charconv>

namespace quelvar::service {
namespace {

// The shortest text that reads back as the same value ("0.0025", "10").
std::string Number(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

void Family(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void Sample(std::string& out, std::string_view name, const std::string& value) {
  out.append(name).append(" ").append(value).append("\n");
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '"') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\n') {
      out.append("\\n");
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void ServiceMetrics::RecordRequest(std::string_view group, std::string_view event, int status, double seconds,
                                   std::uint64_t bodyIn, std::uint64_t bodyOut) {
  std::size_t bucket = 0;
  while (bucket < kLatencyBuckets.size() && seconds > kLatencyBuckets[bucket]) ++bucket;
  std::lock_guard guard(lock_);
  const auto known = requests_.find(std::tuple<std::string_view, std::string_view, int>(group, event, status));
  if (known != requests_.end()) {
    ++known->second;
  } else {
    requests_.emplace(std::tuple<std::string, std::string, int>(group, event, status), 1);
  }
  ++buckets_[bucket];
  latencySum_ += seconds;
  ++latencyCount_;
  bodyIn_ += bodyIn;
  bodyOut_ += bodyOut;
}

void ServiceMetrics::CountLogEntry(std::size_t bytes) {
  logEntries_.fetch_add(1, std::memory_order_relaxed);
  logBytes_.fetch_add(bytes, std::memory_order_relaxed);
}

void ServiceMetrics::SetIntegrityResult(bool ok, std::time_t when) {
  std::lock_guard guard(lock_);
  integrity_ = Outcome{ok, when};
}

std::optional<ServiceMetrics::Outcome> ServiceMetrics::LastIntegrity() const {
  std::lock_guard guard(lock_);
  return integrity_;
}

void ServiceMetrics::SetScheduledBackupResult(bool ok, std::time_t when) {
  std::lock_guard guard(lock_);
  scheduledBackup_ = Outcome{ok, when};
}

std::string ServiceMetrics::Render(const Gauges& gauges) const {
  std::string out;
  std::lock_guard guard(lock_);

  Family(out, "quelvar_requests_total", "counter",
         "Requests answered by the event service, by the group and event named in the path and the status.");
  for (const auto& [key, count] : requests_) {
    const auto& [group, event, status] = key;
    out.append("quelvar_requests_total{group=\"")
        .append(EscapeLabelValue(group))
        .append("\",event=\"")
        .append(EscapeLabelValue(event))
        .append("\",status=\"")
        .append(std::to_string(status))
        .append("\"} ")
        .append(std::to_string(count))
        .append("\n");
  }

  Family(out, "quelvar_request_duration_seconds", "histogram", "Time from the request read to the reply made.");
  std::uint64_t cumulative = 0;
  for (std::size_t i = 0; i <= kLatencyBuckets.size(); ++i) {
    cumulative += buckets_[i];
    const std::string bound = i < kLatencyBuckets.size() ? Number(kLatencyBuckets[i]) : "+Inf";
    out.append("quelvar_request_duration_seconds_bucket{le=\"")
        .append(bound)
        .append("\"} ")
        .append(std::to_string(cumulative))
        .append("\n");
  }
  Sample(out, "quelvar_request_duration_seconds_sum", Number(latencySum_));
  Sample(out, "quelvar_request_duration_seconds_count", std::to_string(latencyCount_));

  Family(out, "quelvar_request_body_bytes_total", "counter", "Bytes of request bodies read.");
  Sample(out, "quelvar_request_body_bytes_total", std::to_string(bodyIn_));
  Family(out, "quelvar_reply_body_bytes_total", "counter", "Bytes of reply bodies made.");
  Sample(out, "quelvar_reply_body_bytes_total", std::to_string(bodyOut_));

  Family(out, "quelvar_connections_open", "gauge", "Connections being served.");
  Sample(out, "quelvar_connections_open", std::to_string(gauges.connectionsOpen));
  Family(out, "quelvar_service_modules_total", "counter", "Service modules created (the request counter).");
  Sample(out, "quelvar_service_modules_total", std::to_string(modules_.load()));
  Family(out, "quelvar_log_entries_total", "counter", "Entries written to the operator log.");
  Sample(out, "quelvar_log_entries_total", std::to_string(logEntries_.load()));
  Family(out, "quelvar_log_bytes_total", "counter", "Bytes of the entries written to the operator log.");
  Sample(out, "quelvar_log_bytes_total", std::to_string(logBytes_.load()));

  Family(out, "quelvar_database_size_bytes", "gauge", "Size of the database file and its write-ahead log.");
  Sample(out, "quelvar_database_size_bytes", std::to_string(gauges.databaseBytes));
  Family(out, "quelvar_backup_newest_age_seconds", "gauge",
         "Age of the newest backup in the backup folder, automatic (scheduled) and manual apart "
         "(absent when there is none).");
  if (gauges.newestAutomaticBackupAgeSeconds) {
    Sample(out, "quelvar_backup_newest_age_seconds{kind=\"automatic\"}", Number(*gauges.newestAutomaticBackupAgeSeconds));
  }
  if (gauges.newestManualBackupAgeSeconds) {
    Sample(out, "quelvar_backup_newest_age_seconds{kind=\"manual\"}", Number(*gauges.newestManualBackupAgeSeconds));
  }
  Family(out, "quelvar_integrity_check_ok", "gauge",
         "Last integrity check: 1 passed, 0 failed (absent until one has run).");
  Family(out, "quelvar_integrity_check_timestamp_seconds", "gauge", "When the last integrity check ran.");
  if (integrity_) {
    Sample(out, "quelvar_integrity_check_ok", integrity_->ok ? "1" : "0");
    Sample(out, "quelvar_integrity_check_timestamp_seconds", std::to_string(integrity_->when));
  }
  Family(out, "quelvar_scheduled_backup_last_ok", "gauge",
         "Last scheduled backup: 1 written, 0 failed (absent until one has run).");
  Family(out, "quelvar_scheduled_backup_timestamp_seconds", "gauge", "When the last scheduled backup ran.");
  if (scheduledBackup_) {
    Sample(out, "quelvar_scheduled_backup_last_ok", scheduledBackup_->ok ? "1" : "0");
    Sample(out, "quelvar_scheduled_backup_timestamp_seconds", std::to_string(scheduledBackup_->when));
  }
  return out;
}

}  // namespace quelvar::service
