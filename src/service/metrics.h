#pragma once
// The server's figures for GET /metrics, written in the Prometheus text
// exposition format (version 0.0.4). Counters live for the life of the
// process; gauges are taken when the page is written.
//
//   quelvar_requests_total{group,event,status}   requests the event service answered
//   quelvar_request_duration_seconds             histogram of the time to answer
//   quelvar_request_body_bytes_total             request bodies read
//   quelvar_reply_body_bytes_total               reply bodies written
//   quelvar_connections_open                     connections being served
//   quelvar_service_modules_total                service modules created (the request counter)
//   quelvar_log_entries_total, quelvar_log_bytes_total   operator-log entries and their size
//   quelvar_database_size_bytes                  database file plus its write-ahead log
//   quelvar_backup_newest_age_seconds{kind}      age of the newest backup in Backup/, "automatic" (the
//                                                schedule's) and "manual" (the Backup event's) apart (absent: none)
//   quelvar_integrity_check_ok                   last integrity check: 1 passed, 0 failed (absent: none yet)
//   quelvar_integrity_check_timestamp_seconds    when it ran
//   quelvar_scheduled_backup_last_ok, quelvar_scheduled_backup_timestamp_seconds
//
// Label values are bounded: group and event are the catalogue's names or
// "other" (an empty label when the path names none), so a client cannot grow
// the page with made-up names.

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "data/operator_console.h"

namespace quelvar::service {

// Upper bounds of the latency histogram, in seconds (+Inf follows).
inline constexpr std::array<double, 12> kLatencyBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                           0.1,   0.25,   0.5,   1.0,  2.5,   10.0};

class ServiceMetrics {
 public:
  void RecordRequest(std::string_view group, std::string_view event, int status, double seconds,
                     std::uint64_t bodyIn, std::uint64_t bodyOut);
  void CountModule() { modules_.fetch_add(1, std::memory_order_relaxed); }
  void CountLogEntry(std::size_t bytes);
  void SetIntegrityResult(bool ok, std::time_t when);
  void SetScheduledBackupResult(bool ok, std::time_t when);

  struct Outcome {
    bool ok = false;
    std::time_t when = 0;
  };
  // The last integrity check, whatever ran it (absent: none yet).
  std::optional<Outcome> LastIntegrity() const;

  // What is measured when the page is written.
  struct Gauges {
    std::size_t connectionsOpen = 0;
    std::uint64_t databaseBytes = 0;
    std::optional<double> newestAutomaticBackupAgeSeconds;
    std::optional<double> newestManualBackupAgeSeconds;
  };
  std::string Render(const Gauges& gauges) const;

 private:
  mutable std::mutex lock_;
  // Orders the counters' keys, and finds one by views of its names without copying them.
  struct KeyOrder {
    using is_transparent = void;
    using View = std::tuple<std::string_view, std::string_view, int>;
    static View AsView(const View& key) { return key; }
    static View AsView(const std::tuple<std::string, std::string, int>& key) {
      return {std::get<0>(key), std::get<1>(key), std::get<2>(key)};
    }
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return AsView(a) < AsView(b);
    }
  };
  std::map<std::tuple<std::string, std::string, int>, std::uint64_t, KeyOrder> requests_;
  std::array<std::uint64_t, kLatencyBuckets.size() + 1> buckets_{};  // the last one is +Inf
  double latencySum_ = 0;
  std::uint64_t latencyCount_ = 0;
  std::uint64_t bodyIn_ = 0;
  std::uint64_t bodyOut_ = 0;
  std::optional<Outcome> integrity_;
  std::optional<Outcome> scheduledBackup_;
  std::atomic<std::uint64_t> modules_{0};
  std::atomic<std::uint64_t> logEntries_{0};
  std::atomic<std::uint64_t> logBytes_{0};
};

// An operator console that counts what passes through it into the figures,
// then hands every call on to the real console.
class MeteredConsole final : public OperatorConsole {
 public:
  MeteredConsole(OperatorConsole& inner, ServiceMetrics& metrics) : inner_(inner), metrics_(metrics) {}
  void countModule() override {
    metrics_.CountModule();
    inner_.countModule();
  }
  void log(std::string entry) override {
    metrics_.CountLogEntry(entry.size());
    inner_.log(std::move(entry));
  }
  void integrityChecked(bool passed) override {
    metrics_.SetIntegrityResult(passed, std::time(nullptr));
    inner_.integrityChecked(passed);
  }

 private:
  OperatorConsole& inner_;
  ServiceMetrics& metrics_;
};

// A label value with backslash, double quote and line feed escaped.
std::string EscapeLabelValue(std::string_view value);

}  // namespace quelvar::service
