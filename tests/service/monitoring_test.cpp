// GET /healthz and GET /metrics in front of the event service.

#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/shipped_schema.h"
#include "service/health_check.h"
#include "service/metrics.h"
#include "service/service_monitor.h"

namespace quelvar::service {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "quelvar-monitor-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, ec);
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void Execute(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  const int code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(code, SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

TEST(HealthCheck, DeclaredTablesOfTheShippedSchema) {
  const auto tables = DeclaredTables(ShippedSchema());
  ASSERT_EQ(tables.size(), 19u);
  EXPECT_EQ(tables.front(), "T01_USUA");
  EXPECT_EQ(tables.back(), "T19_PER2");
  EXPECT_EQ(DeclaredTables("create table if not exists A (x);\nCREATE TABLE\n  B(y); -- RECREATE TABLE C"),
            (std::vector<std::string>{"A", "B"}));
}

TEST(HealthCheck, OnlyASoundDatabaseWithTheSchemaIsHealthy) {
  TempFolder folder;
  const fs::path sound = folder.path() / "sound.db3";
  Execute(sound, std::string(ShippedSchema()));
  const fs::path partial = folder.path() / "partial.db3";
  Execute(partial, "CREATE TABLE T01_USUA (a); CREATE TABLE t02_aces (b);");
  const fs::path empty = folder.path() / "empty.db3";
  std::ofstream(empty).flush();
  const fs::path garbage = folder.path() / "garbage.db3";
  std::ofstream(garbage) << std::string(4096, 'q');
  const fs::path unreadable = folder.path() / "unreadable.db3";
  Execute(unreadable, std::string(ShippedSchema()));
  fs::permissions(unreadable, fs::perms::none);
  const bool root = ::geteuid() == 0;  // root reads files whatever their mode

  struct Case {
    std::string name;
    fs::path file;
    bool healthy;
    std::string reasonPart;
  };
  const std::vector<Case> cases = {
      {"sound", sound, true, "ok"},
      {"tables missing", partial, false, "lacks the tables T03_CONF, T04_MATE"},
      {"empty file", empty, false, "lacks the tables T01_USUA, T02_ACES"},
      {"garbage", garbage, false, "file is not a database"},
      {"missing file", folder.path() / "none.db3", false, "cannot open the database"},
      {"no path", fs::path(), false, "no database file is configured"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const HealthReport report = CheckDatabaseHealth(c.file.string());
    EXPECT_EQ(report.healthy, c.healthy);
    EXPECT_NE(report.reason.find(c.reasonPart), std::string::npos) << report.reason;
  }
  if (!root) {
    const HealthReport report = CheckDatabaseHealth(unreadable.string());
    EXPECT_FALSE(report.healthy);
    EXPECT_NE(report.reason.find("unable to open database file"), std::string::npos) << report.reason;
  }
  EXPECT_FALSE(fs::exists(folder.path() / "none.db3"));  // never created by the check
}

TEST(Metrics, LabelsAreTheCataloguesNamesOrOther) {
  const EventCatalogue catalogue = BuildEventCatalogue();
  struct Case {
    const char* path;
    const char* group;
    const char* event;
  };
  const Case cases[] = {
      {"/DWServerEventsT04_MATE/Consulta", "DWServerEventsT04_MATE", "Consulta"},
      {"/dwservereventst04_mate/CONSULTA", "DWServerEventsT04_MATE", "Consulta"},
      {"/TDM.DWServerEventsFerramentas/Sobre/", "DWServerEventsFerramentas", "Sobre"},
      {"/x/y/DWServerEventsT01_USUA/ValidaUsuario", "DWServerEventsT01_USUA", "ValidaUsuario"},
      {"/Consulta", "", "Consulta"},
      {"/", "", ""},
      {"", "", ""},
      {"/DWServerEventsT04_MATE/ValidaUsuario", "DWServerEventsT04_MATE", "other"},
      {"/Foo/Consulta", "other", "Consulta"},
      {"/Foo/a\"b", "other", "other"},
      {"/random-name-12345", "", "other"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const auto [group, event] = RequestLabels(catalogue, c.path);
    EXPECT_EQ(group, c.group);
    EXPECT_EQ(event, c.event);
  }
}

TEST(Metrics, PageCountsRequestsByLabelAndFillsTheHistogram) {
  ServiceMetrics metrics;
  metrics.RecordRequest("G", "E", 200, 0.0005, 10, 100);
  metrics.RecordRequest("G", "E", 200, 0.02, 5, 50);
  metrics.RecordRequest("G", "E", 500, 30.0, 0, 7);
  metrics.RecordRequest("", "a\"b\\c", 404, 0.001, 0, 0);
  metrics.CountModule();
  metrics.CountLogEntry(12);
  metrics.SetIntegrityResult(false, 1700000000);
  ServiceMetrics::Gauges gauges;
  gauges.connectionsOpen = 3;
  gauges.databaseBytes = 4096;
  const std::string page = metrics.Render(gauges);
  for (const std::string line : {
           "quelvar_requests_total{group=\"G\",event=\"E\",status=\"200\"} 2\n",
           "quelvar_requests_total{group=\"G\",event=\"E\",status=\"500\"} 1\n",
           "quelvar_requests_total{group=\"\",event=\"a\\\"b\\\\c\",status=\"404\"} 1\n",
           "quelvar_request_duration_seconds_bucket{le=\"0.001\"} 2\n",
           "quelvar_request_duration_seconds_bucket{le=\"0.025\"} 3\n",
           "quelvar_request_duration_seconds_bucket{le=\"10\"} 3\n",
           "quelvar_request_duration_seconds_bucket{le=\"+Inf\"} 4\n",
           "quelvar_request_duration_seconds_count 4\n",
           "quelvar_request_body_bytes_total 15\n",
           "quelvar_reply_body_bytes_total 157\n",
           "quelvar_connections_open 3\n",
           "quelvar_service_modules_total 1\n",
           "quelvar_log_entries_total 1\n",
           "quelvar_log_bytes_total 12\n",
           "quelvar_database_size_bytes 4096\n",
           "quelvar_integrity_check_ok 0\n",
           "quelvar_integrity_check_timestamp_seconds 1700000000\n",
           "# TYPE quelvar_request_duration_seconds histogram\n",
       }) {
    EXPECT_NE(page.find(line), std::string::npos) << line << page;
  }
  // Nothing measured, nothing claimed.
  for (const char* absent : {"\nquelvar_backup_newest_age_seconds ", "\nquelvar_scheduled_backup_last_ok "}) {
    EXPECT_EQ(page.find(absent), std::string::npos) << absent;
  }
}

// A handler that answers every request with a fixed status and body.
class FixedHandler final : public RequestHandler {
 public:
  void Handle(const HttpRequest&, HttpReply& reply) override {
    ++calls;
    reply.status = 404;
    reply.body = "Event not found...";
  }
  int calls = 0;
};

// Automatic and manual backups have an age each; other files of the folder none.
TEST(ServiceMonitor, AutomaticAndManualBackupAgesApart) {
  TempFolder folder;
  const fs::path backups = folder.path() / "Backup";
  fs::create_directory(backups);
  const auto now = fs::file_time_type::clock::now();
  struct File {
    const char* name;
    std::chrono::hours age;
  };
  for (const File& f : {File{"A-1.db3", std::chrono::hours(30)}, File{"A-2.db3", std::chrono::hours(50)},
                        File{"M.db3", std::chrono::hours(70)}, File{".parcial", std::chrono::hours(1)}}) {
    std::ofstream(backups / f.name) << "x";
    fs::last_write_time(backups / f.name, now - f.age);
  }
  auto kindOf = [](std::string_view name) {
    if (name.rfind("A-", 0) == 0) return BackupKind::Automatic;
    return name.front() == '.' ? BackupKind::Neither : BackupKind::Manual;
  };
  const auto automatic = NewestFileAgeSeconds(backups, BackupKind::Automatic, kindOf);
  const auto manual = NewestFileAgeSeconds(backups, BackupKind::Manual, kindOf);
  ASSERT_TRUE(automatic && manual);
  EXPECT_NEAR(*automatic / 3600, 30, 1);
  EXPECT_NEAR(*manual / 3600, 70, 1);
  EXPECT_FALSE(NewestFileAgeSeconds(folder.path() / "none", BackupKind::Manual, kindOf));

  ServiceMetrics::Gauges gauges;
  gauges.newestAutomaticBackupAgeSeconds = 5;
  gauges.newestManualBackupAgeSeconds = 7;
  const std::string page = ServiceMetrics().Render(gauges);
  EXPECT_NE(page.find("\nquelvar_backup_newest_age_seconds{kind=\"automatic\"} 5\n"), std::string::npos) << page;
  EXPECT_NE(page.find("\nquelvar_backup_newest_age_seconds{kind=\"manual\"} 7\n"), std::string::npos) << page;
}

// A handler that names the group and event its request reached.
class NamingHandler final : public RequestHandler {
 public:
  void Handle(const HttpRequest&, HttpReply& reply) override {
    reply.group = "DWServerEventsFerramentas";
    reply.event = "Sobre";
  }
};

TEST(ServiceMonitor, CountsARequestUnderTheGroupAndEventItReached) {
  TempFolder folder;
  const EventCatalogue catalogue = BuildEventCatalogue();
  ServiceMetrics metrics;
  NamingHandler inner;
  ServiceMonitor monitor(inner, catalogue, metrics,
                         MonitorSources{std::make_shared<DatabasePath>((folder.path() / "db.db3").string()),
                                        folder.path() / "Backup", {}, {}});
  HttpRequest request;
  request.requestType = RequestType::Post;
  request.path = "/Sobre";  // the group travels in a field
  HttpReply reply;
  monitor.Handle(request, reply);
  const std::string page = metrics.Render({});
  EXPECT_NE(page.find("quelvar_requests_total{group=\"DWServerEventsFerramentas\",event=\"Sobre\",status=\"200\"} 1\n"),
            std::string::npos)
      << page;
}

TEST(ServiceMonitor, AnswersItsTwoPagesAndPassesEverythingElseOn) {
  TempFolder folder;
  const fs::path database = folder.path() / "db.db3";
  Execute(database, std::string(ShippedSchema()));
  fs::create_directory(folder.path() / "Backup");
  std::ofstream(folder.path() / "Backup" / "a.db3") << "x";
  const EventCatalogue catalogue = BuildEventCatalogue();
  ServiceMetrics metrics;
  FixedHandler inner;
  ServiceMonitor monitor(inner, catalogue, metrics,
                         MonitorSources{std::make_shared<DatabasePath>(database.string()), folder.path() / "Backup",
                                        [] { return std::size_t{5}; }, {}});
  auto ask = [&monitor](RequestType type, std::string path) {
    HttpRequest request;
    request.requestType = type;
    request.path = std::move(path);
    HttpReply reply;
    monitor.Handle(request, reply);
    return reply;
  };
  const HttpReply health = ask(RequestType::Get, "/healthz");
  EXPECT_EQ(health.status, 200);
  EXPECT_EQ(health.body, "ok");
  EXPECT_EQ(health.contentType, "text/plain");
  EXPECT_EQ(ask(RequestType::Post, "/healthz").body, "Event not found...");  // only GET is the page
  EXPECT_EQ(ask(RequestType::Get, "/healthz/").body, "Event not found...");
  EXPECT_EQ(inner.calls, 2);

  std::ofstream(database, std::ios::trunc) << std::string(4096, 'q');
  const HttpReply sick = ask(RequestType::Get, "/healthz");
  EXPECT_EQ(sick.status, 503);
  EXPECT_NE(sick.body.find("file is not a database"), std::string::npos) << sick.body;

  const HttpReply page = ask(RequestType::Get, "/metrics");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.contentType, "text/plain; version=0.0.4");
  EXPECT_NE(page.body.find("quelvar_requests_total{group=\"\",event=\"other\",status=\"404\"} 2\n"), std::string::npos)
      << page.body;
  EXPECT_NE(page.body.find("quelvar_connections_open 5\n"), std::string::npos);
  EXPECT_NE(page.body.find("quelvar_database_size_bytes 4096\n"), std::string::npos);
  EXPECT_NE(page.body.find("quelvar_backup_newest_age_seconds{kind=\"manual\"} "), std::string::npos) << page.body;
  EXPECT_EQ(page.body.find("quelvar_backup_newest_age_seconds{kind=\"automatic\"} "), std::string::npos);
  EXPECT_EQ(page.body.find("healthz"), std::string::npos);  // the pages are not counted as requests
}

}  // namespace
}  // namespace quelvar::service
