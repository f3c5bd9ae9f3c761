#include "replica/replica_figures.h"

#include <cstdio>
#include <optional>

namespace quelvar::replica {

std::string ReplicaFigures::MetricsText(std::int64_t now) const {
  std::lock_guard lock(mutex);
  std::string out;
  auto family = [&](const char *name, const char *type, const char *help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  };
  auto each = [&](const char *name, auto value) {
    for (const One &f : replicas) {
      const auto v = value(f);
      if (!v) continue;
      char number[64];
      std::snprintf(number, sizeof number, "%.3f", *v);
      std::string text = number;
      while (text.back() == '0') text.pop_back();
      if (text.back() == '.') text.pop_back();
      out += std::string(name) + "{replica=\"" + f.name + "\"} " + text + "\n";
    }
  };
  using Value = std::optional<double>;
  family("quelvar_replica_lag_seconds", "gauge", "Age of the oldest commit not yet shipped to the replica.");
  each("quelvar_replica_lag_seconds", [](const One &f) { return Value(f.lagSeconds); });
  family("quelvar_replica_lag_bytes", "gauge", "Log bytes not yet shipped to the replica.");
  each("quelvar_replica_lag_bytes", [](const One &f) { return Value(double(f.lagBytes)); });
  family("quelvar_replica_last_shipped_timestamp_seconds", "gauge", "When the replica last received an object.");
  each("quelvar_replica_last_shipped_timestamp_seconds", [](const One &f) {
    return f.lastShipMs ? Value(double(f.lastShipMs) / 1000.0) : Value();
  });
  family("quelvar_replica_generation_age_seconds", "gauge", "Age of the replica's current generation.");
  each("quelvar_replica_generation_age_seconds", [now](const One &f) {
    return f.generationStartMs ? Value(double(now - f.generationStartMs) / 1000.0) : Value();
  });
  family("quelvar_replica_errors_total", "counter", "Failed requests to the replica.");
  each("quelvar_replica_errors_total", [](const One &f) { return Value(double(f.errors)); });
  family("quelvar_replica_up", "gauge", "1 while the replica is reachable and in a generation.");
  each("quelvar_replica_up", [](const One &f) { return Value(f.away ? 0.0 : 1.0); });
  if (lastGoodDrillMs != 0) {
    family("quelvar_replica_drill_age_seconds", "gauge", "Age of the last restore drill that passed.");
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", double(now - lastGoodDrillMs) / 1000.0);
    out += std::string("quelvar_replica_drill_age_seconds ") + text + "\n";
  }
  family("quelvar_replica_drill_failures_total", "counter", "Restore drills that failed.");
  out += "quelvar_replica_drill_failures_total " + std::to_string(drillFailures) + "\n";
  return out;
}

std::vector<ReplicaState> ReplicaFigures::States(std::int64_t now) const {
  std::lock_guard lock(mutex);
  std::vector<ReplicaState> states;
  for (const One &f : replicas) {
    std::string summary = f.away ? "inacessível" : "em dia";
    char lag[32];
    std::snprintf(lag, sizeof lag, "%.1f", f.lagSeconds);
    summary += "; atraso " + std::string(lag) + " s";
    if (f.lastShipMs) summary += "; último envio há " + std::to_string((now - f.lastShipMs) / 1000) + " s";
    if (f.errors) summary += "; " + std::to_string(f.errors) + " erro(s)";
    if (!f.reason.empty()) summary += " (" + f.reason + ")";
    states.push_back({f.name, f.target, std::move(summary)});
  }
  return states;
}

std::string ReplicaFigures::HealthNote(std::int64_t now, std::chrono::milliseconds interval) const {
  std::lock_guard lock(mutex);
  std::string out;
  for (const One &f : replicas) {
    const bool late = f.lagSeconds * 1000 > double(interval.count()) * 2 + 2000;
    if (!f.away && !late) continue;
    out += "replica " + f.name + " (" + f.target + ") lags";
    if (f.lastShipMs) out += ": last shipped " + std::to_string((now - f.lastShipMs) / 1000) + " s ago";
    if (!f.reason.empty()) out += " (" + f.reason + ")";
    out += "\n";
  }
  return out;
}

}  // namespace quelvar::replica
