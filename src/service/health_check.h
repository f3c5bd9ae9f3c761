#pragma once
// The health of the database, for GET /healthz: the configured file opens
// (never created), answers a trivial query, and holds every table of the
// shipped schema. Reads only; takes no write lock.

#include <string>
#include <string_view>
#include <vector>

namespace quelvar::service {

struct HealthReport {
  bool healthy = false;
  std::string reason;  // "ok", or what failed
};

// The table names that "CREATE TABLE" statements of `schema` declare, in order.
std::vector<std::string> DeclaredTables(std::string_view schema);

// Checks `databaseFile` against the tables of the shipped schema. A file that
// is locked by a writer is waited for up to `busyMs` milliseconds.
HealthReport CheckDatabaseHealth(const std::string& databaseFile, int busyMs = 2000);
// The same against another list of tables (for tests).
HealthReport CheckDatabaseHealth(const std::string& databaseFile, const std::vector<std::string>& tables,
                                 int busyMs);

}  // namespace quelvar::service
