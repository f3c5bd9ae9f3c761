// Running the server as a service: the headless log, /healthz and /metrics,
// scheduled backups and the graceful stop, against the real binary.

#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "raw_http.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

namespace fs = std::filesystem;

const std::string kAuth = GoodAuthorizationLine();
const std::string kStamp = R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}[+-]\d{2}:\d{2})";

ParsedReply Get(std::uint16_t port, const std::string& path, bool credentials = true) {
  return ParseReply(Exchange(port, "GET " + path + " HTTP/1.1\r\n" + (credentials ? kAuth : "") + "\r\n").bytes);
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// A Config1.ini naming the database beside the program by a relative path.
ServerProcess::Options WithConfig(const std::string& extraKeys) {
  ServerProcess::Options options = ServerProcess::FreshDatabase();
  options.port = FreeLoopbackPort();
  options.configText =
      "[INDICE]\nLocalQuelvarDB=QuelvarDB.db3\nPorta=" + std::to_string(*options.port) + "\n" + extraKeys;
  return options;
}

std::string TodaysAutomaticBackup() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char name[64];
  std::strftime(name, sizeof name, "Automatico-%Y-%m-%d.db3", &local);
  return name;
}

TEST(Operations, LogLinesAreStampedAndAFailureKeepsEveryLineVisible) {
  ServerProcess server(WithConfig(""));
  server.StartWithFreshDatabase();
  ASSERT_TRUE(server.WaitUntilAccepting()) << server.Stderr();
  ASSERT_TRUE(server.WaitForStderr(" started: "));
  // A restore of a backup that does not exist logs a three-line entry.
  Get(server.port(), "/DWServerEventsFerramentas/Restore?Origem=Nenhum.db3");
  ASSERT_TRUE(server.WaitForStderr("Mensagem original: "));
  EXPECT_EQ(server.Stop(), 0);

  const std::string log = server.Stderr();
  EXPECT_EQ(log.find('\r'), std::string::npos) << "a carriage return would overwrite the line on a terminal";
  const std::string database = (server.programFolder() / "QuelvarDB.db3").string();
  const std::string version = R"(\d+\.\d+\.\d+)";
  const std::regex expected(
      kStamp + " INFO quelvar-server " + version + R"( \(Quelvar 1\.5\) started: address all local addresses, port )" +
      std::to_string(server.port()) + ", database " + database + R"(, journal mode [a-z]+, connections \d+ \(open files \d+, \d+ kept for the database, backups, logs and the panel\)\n)" +
      kStamp + " ERROR Restore --> \n    Ocorreu um erro na cópia do backup.\n    Mensagem original: [^\n]+\n" +
      // The restore's connection may still be closing when the signal comes.
      "(" + kStamp + " INFO stopping on SIGTERM: no new connections; waiting up to 10 s for 1 open connection\\(s\\)\n)?" +
      kStamp + " INFO quelvar-server " + version + R"( stopped; request counter 1: SIGTERM\n)");
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

TEST(Operations, HealthzTellsWhetherTheDatabaseWorks) {
  ServerProcess server(WithConfig(""));
  server.StartWithFreshDatabase();
  ASSERT_TRUE(server.WaitUntilAccepting()) << server.Stderr();
  const fs::path database = server.programFolder() / "QuelvarDB.db3";

  EXPECT_EQ(Get(server.port(), "/healthz", false).statusLine, "HTTP/1.1 401 Unauthorized");
  const ParsedReply sound = Get(server.port(), "/healthz");
  EXPECT_EQ(sound.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(sound.body, "ok");
  EXPECT_EQ(sound.Header("Content-Type"), "text/plain; charset=utf-8");

  struct Case {
    const char* name;
    std::string content;  // written over the database file
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"empty", "", "lacks the tables T01_USUA, T02_ACES, T03_CONF"},
      {"garbage", std::string(8192, 'q'), "file is not a database"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(database, std::ios::binary | std::ios::trunc) << c.content;
    const ParsedReply sick = Get(server.port(), "/healthz");
    EXPECT_EQ(sick.statusLine, "HTTP/1.1 503 Service Unavailable");
    EXPECT_NE(sick.body.find(c.reason), std::string::npos) << sick.body;
    // The status page does not look at the database.
    EXPECT_EQ(Get(server.port(), "/").statusLine, "HTTP/1.1 200 OK");
  }
  if (::geteuid() != 0) {
    fs::permissions(database, fs::perms::none);
    const ParsedReply unreadable = Get(server.port(), "/healthz");
    EXPECT_EQ(unreadable.statusLine, "HTTP/1.1 503 Service Unavailable");
    EXPECT_NE(unreadable.body.find("unable to open database file"), std::string::npos) << unreadable.body;
  }
  EXPECT_EQ(server.Stop(), 0);
}

TEST(Operations, MetricsCountAKnownMixOfRequests) {
  ServerProcess server(WithConfig(""));
  server.StartWithFreshDatabase();
  ASSERT_TRUE(server.WaitUntilAccepting()) << server.Stderr();
  Get(server.port(), "/DWServerEventsFerramentas/Sobre");
  Get(server.port(), "/dwservereventsferramentas/SOBRE");
  Get(server.port(), "/Foo/Bar");
  Get(server.port(), "/");
  Get(server.port(), "/healthz");
  Get(server.port(), "/metrics", false);  // refused at the gate: not counted
  const ParsedReply page = Get(server.port(), "/metrics");
  EXPECT_EQ(page.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(page.Header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  for (const char* line : {
           "\nquelvar_requests_total{group=\"DWServerEventsFerramentas\",event=\"Sobre\",status=\"200\"} 2\n",
           "\nquelvar_requests_total{group=\"other\",event=\"other\",status=\"404\"} 1\n",
           "\nquelvar_requests_total{group=\"\",event=\"\",status=\"200\"} 1\n",
           "\nquelvar_request_duration_seconds_count 4\n",
           "\nquelvar_request_duration_seconds_bucket{le=\"+Inf\"} 4\n",
           "\nquelvar_service_modules_total 4\n",
       }) {
    EXPECT_NE(page.body.find(line), std::string::npos) << line << page.body;
  }
  EXPECT_EQ(Count(page.body, "\nquelvar_requests_total{"), 3u) << page.body;
  // This request's own connection at least (an earlier one may still be closing).
  EXPECT_TRUE(std::regex_search(page.body, std::regex(R"(\nquelvar_connections_open [1-9]\n)"))) << page.body;
  EXPECT_TRUE(std::regex_search(page.body, std::regex(R"(\nquelvar_database_size_bytes [1-9]\d*\n)"))) << page.body;
  EXPECT_EQ(server.Stop(), 0);
}

TEST(Operations, ScheduledBackupsCatchUpRunOnTheirIntervalAndPruneOnlyTheirOwn) {
  ServerProcess server(WithConfig("BackupAutomaticoIntervalo=1\nBackupAutomaticoManter=2\n"));
  const fs::path backups = server.programFolder() / "Backup";
  fs::create_directory(backups);
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
  for (const char* name : {"Automatico-2020-01-01.db3", "Automatico-2020-01-02.db3", "Diario.db3",
                           "Automatico-2019-12-31.bkp", "Automatico-velho.db3"}) {
    std::ofstream(backups / name) << "x";
    fs::last_write_time(backups / name, old);
  }
  server.StartWithFreshDatabase();
  ASSERT_TRUE(server.WaitUntilAccepting()) << server.Stderr();
  // Interval runs are named by their time: "Automatico-YYYY-MM-DD-HHMMSS.db3".
  const std::string todayStem = TodaysAutomaticBackup().substr(0, std::string("Automatico-YYYY-MM-DD").size());
  // The catch-up at start, then at least one run on the interval.
  ASSERT_TRUE(server.WaitForStderr("gravado " + (backups / todayStem).string() + "-")) << server.Stderr();
  for (int i = 0; i < 3000 && Count(server.Stderr(), "gravado ") < 3; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_GE(Count(server.Stderr(), "gravado "), 3u) << server.Stderr();
  const ParsedReply page = Get(server.port(), "/metrics");
  EXPECT_EQ(server.Stop(), 0);

  // Each run kept its own file; the two newest automatic backups stay, with
  // every file of another name.
  std::vector<std::string> names, timed;
  for (const auto& entry : fs::directory_iterator(backups)) {
    const std::string name = entry.path().filename().string();
    (name.rfind(todayStem + "-", 0) == 0 ? timed : names).push_back(name);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Automatico-2019-12-31.bkp", "Automatico-velho.db3", "Diario.db3"}));
  ASSERT_EQ(timed.size(), 2u) << server.Stderr();
  std::sort(timed.begin(), timed.end());
  const std::string today = timed.back();
  EXPECT_NE(server.OperatorLog().find("Backup automático MSG: \rgravado " + (backups / today).string()),
            std::string::npos);
  EXPECT_NE(server.OperatorLog().find("Automatico-2020-01-01.db3"), std::string::npos) << server.OperatorLog();
  EXPECT_NE(server.OperatorLog().find("Automatico-2020-01-02.db3"), std::string::npos) << server.OperatorLog();
  // The copy is a whole database with the schema.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((backups / today).c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "SELECT count(*) FROM T04_MATE", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_NE(page.body.find("\nquelvar_scheduled_backup_last_ok 1\n"), std::string::npos) << page.body;
  EXPECT_NE(page.body.find("\nquelvar_integrity_check_ok 1\n"), std::string::npos) << page.body;
  EXPECT_TRUE(std::regex_search(page.body, std::regex(R"(\nquelvar_backup_newest_age_seconds\{kind="automatic"\} \d)")))
      << page.body;
  // Diario.db3, two days old, is the newest manual backup.
  EXPECT_TRUE(std::regex_search(page.body, std::regex(R"(\nquelvar_backup_newest_age_seconds\{kind="manual"\} 17\d{4})")))
      << page.body;
  // The scheduled runs are no requests.
  EXPECT_NE(page.body.find("\nquelvar_service_modules_total 0\n"), std::string::npos) << page.body;
}

TEST(Operations, NoCatchUpWhenAnAutomaticBackupIsYoungerThanADay) {
  ServerProcess server(WithConfig("BackupAutomaticoHora=03:00\n"));
  const fs::path backups = server.programFolder() / "Backup";
  fs::create_directory(backups);
  std::ofstream(backups / "Automatico-2020-01-01.db3") << "recent";
  server.StartWithFreshDatabase();
  ASSERT_TRUE(server.WaitUntilAccepting()) << server.Stderr();
  ASSERT_TRUE(server.WaitForStderr("diário às 03:00, mantendo 7 cópias")) << server.Stderr();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(Count(server.Stderr(), "gravado "), 0u) << server.Stderr();
  EXPECT_FALSE(fs::exists(backups / TodaysAutomaticBackup()));
}

TEST(Operations, StopSignalLetsARequestInFlightFinishThenCutsOffTheRest) {
  ServerProcess server(WithConfig(""));
  server.StartWithFreshDatabase();
  ASSERT_TRUE(server.WaitUntilAccepting()) << server.Stderr();
  // Two requests in flight: one that completes after the signal, one that never does.
  RawConnection slow(server.port());
  ASSERT_TRUE(slow.Send("GET /DWServerEventsFerramentas/Sobre HTTP/1.1\r\n" + kAuth));
  RawConnection stuck(server.port());
  ASSERT_TRUE(stuck.Send("GET /DWServerEventsFerramentas/Sobre HTTP/1.1\r\n"));
  std::this_thread::sleep_for(200ms);
  const auto signalled = std::chrono::steady_clock::now();
  ::kill(server.pid(), SIGTERM);
  ASSERT_TRUE(server.WaitForStderr("no new connections")) << server.Stderr();
  EXPECT_THROW(RawConnection{server.port()}, std::runtime_error);  // the port is closed
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(slow.Send("\r\n"));
  const ParsedReply reply = ParseReply(slow.ReadToClose(5s).bytes);
  EXPECT_EQ(reply.statusLine, "HTTP/1.1 200 OK");
  EXPECT_NE(reply.body.find("\"RESPOSTA\""), std::string::npos) << reply.body;
  EXPECT_TRUE(server.Running());  // the stuck one still holds it
  EXPECT_EQ(server.WaitExit(15s), 0);
  const auto took = std::chrono::steady_clock::now() - signalled;
  EXPECT_GE(took, 9s);
  EXPECT_LT(took, 13s);
  EXPECT_TRUE(stuck.ReadToClose(1s).closed);
  EXPECT_NE(server.Stderr().find("stopped; request counter 1: SIGTERM, 1 connection(s) cut off"), std::string::npos)
      << server.Stderr();
}

}  // namespace
}  // namespace quelvar::test
