// The real server binary: the listener's gate, start-up, single instance and
// the stop signals, spoken to with raw bytes over loopback.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "raw_http.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

const std::string kAuth = GoodAuthorizationLine();

std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A listening socket that keeps a port taken.
class TakenPort {
 public:
  TakenPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd_, 1) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~TakenPort() { ::close(fd_); }
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Start();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.Stderr();
  }

  RawResult Ask(const std::string& request) { return Exchange(server_.port(), request); }

  ServerProcess server_;
};

TEST_F(ServerTest, UnauthorizedReplyIsExact) {
  const RawResult result = Ask("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_TRUE(result.closed);
  EXPECT_EQ(MaskDate(result.bytes), kUnauthorizedReply);
}

TEST_F(ServerTest, GateCases) {
  struct Case {
    const char* name;
    std::string request;
    const char* statusLine;
    const char* body;
  };
  const char* const k401Body = "<HTML><BODY><B>401 Unauthorized</B></BODY></HTML>";
  const std::vector<Case> cases = {
      {"user in other case", "GET / HTTP/1.1\r\n" + BasicAuthorizationLine("VAROSA", "quibet4693") + "\r\n",
       "HTTP/1.1 401 Unauthorized", k401Body},
      {"wrong password", "GET / HTTP/1.1\r\n" + BasicAuthorizationLine("varosa", "quibet4694") + "\r\n",
       "HTTP/1.1 401 Unauthorized", k401Body},
      {"HEAD", "HEAD / HTTP/1.1\r\n" + kAuth + "\r\n", "HTTP/1.1 200 OK", ""},
      {"OPTIONS", "OPTIONS /DWServerEventsT04_MATE/Consulta HTTP/1.1\r\n" + kAuth + "\r\n", "HTTP/1.1 200 OK", ""},
      {"HEAD without credentials", "HEAD / HTTP/1.1\r\n\r\n", "HTTP/1.1 401 Unauthorized", k401Body},
      {"OPTIONS without credentials", "OPTIONS / HTTP/1.1\r\n\r\n", "HTTP/1.1 401 Unauthorized", k401Body},
      {"icon", "GET /favicon.ico HTTP/1.1\r\n" + kAuth + "\r\n", "HTTP/1.1 200 OK", ""},
      {"icon without credentials", "GET /favicon.ico HTTP/1.1\r\n\r\n", "HTTP/1.1 401 Unauthorized", k401Body},
      {"icon asking for keep-alive", "GET /favicon.ico HTTP/1.1\r\n" + kAuth + "Connection: keep-alive\r\n\r\n",
       "HTTP/1.1 200 OK", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RawResult result = Ask(c.request);
    EXPECT_TRUE(result.closed);
    EXPECT_FALSE(result.timedOut);
    const ParsedReply reply = ParseReply(result.bytes);
    EXPECT_EQ(reply.statusLine, c.statusLine);
    EXPECT_EQ(reply.body, c.body);
    EXPECT_EQ(reply.Header("Access-Control-Allow-Origin"), "*");
    EXPECT_EQ(reply.Header("Connection"), "close");
    EXPECT_EQ(reply.Header("Content-Length"), std::to_string(reply.body.size()));
    ASSERT_TRUE(reply.Header("Date").has_value());
    EXPECT_TRUE(IsImfFixdate(*reply.Header("Date")));
  }
  // None of this reached the event service: the log holds the start-up line
  // and the listener's one entry on the refused logins of this address (the
  // first at once, the others counted for a later entry).
  ASSERT_TRUE(server_.WaitForStderr(" started: "));
  const std::string log = server_.OperatorLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
  // (The start-up line is written once the port is open, so a refused login
  // may come before it.)
  const std::string entry = "Login --> \r1 tentativa de acesso com usuário ou senha errados de 127.0.0.1\n";
  EXPECT_TRUE(log.rfind(entry, 0) == 0 || log.find("\n" + entry) != std::string::npos) << log;
}

TEST_F(ServerTest, ClosesWithoutReply) {
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"Bearer scheme", "GET / HTTP/1.1\r\nAuthorization: Bearer abc\r\n\r\n"},
      {"request line without space", "NOSPACE\r\n\r\n"},
  };
  for (const auto& [name, request] : cases) {
    SCOPED_TRACE(name);
    const RawResult result = Ask(request);
    EXPECT_TRUE(result.closed);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.bytes, "");
  }
}

TEST_F(ServerTest, RefusesOversizedRequests) {
  std::string manyLines = "GET / HTTP/1.1\r\n" + kAuth;
  for (int i = 0; i < 1024; ++i) manyLines += "X-L" + std::to_string(i) + ": v\r\n";
  const std::vector<std::tuple<const char*, std::string, const char*>> cases = {
      {"body over 256 MiB", "POST /x HTTP/1.1\r\n" + kAuth + "Content-Length: 268435457\r\n\r\n",
       "HTTP/1.1 413 Payload Too Large"},
      {"1025 header lines", manyLines + "\r\n", "HTTP/1.1 431 Request Header Fields Too Large"},
  };
  for (const auto& [name, request, statusLine] : cases) {
    SCOPED_TRACE(name);
    const RawResult result = Ask(request);
    EXPECT_TRUE(result.closed);
    EXPECT_EQ(ParseReply(result.bytes).statusLine, statusLine);
  }
  EXPECT_EQ(ParseReply(Ask("GET /favicon.ico HTTP/1.1\r\n" + kAuth + "\r\n").bytes).statusLine, "HTTP/1.1 200 OK");
}

TEST_F(ServerTest, SlowRequestDoesNotHoldAnother) {
  RawConnection slow(server_.port());
  slow.Send("GET /favicon.ico HTTP/1.1\r\n");  // the rest comes later
  const auto started = std::chrono::steady_clock::now();
  const RawResult quick = Exchange(server_.port(), "GET /favicon.ico HTTP/1.1\r\n" + kAuth + "\r\n", 5s);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_EQ(ParseReply(quick.bytes).statusLine, "HTTP/1.1 200 OK");
  slow.Send(kAuth + "\r\n");
  EXPECT_EQ(ParseReply(slow.ReadToClose().bytes).statusLine, "HTTP/1.1 200 OK");
}

TEST_F(ServerTest, CaptionShowsVersionAndPort) {
  ASSERT_TRUE(server_.WaitForStdout("\n"));
  EXPECT_EQ(server_.Stdout(),
            "Servidor do Banco de Dados do Quelvar 1.5 - Porta " + std::to_string(server_.port()) + "\n");
}

TEST_F(ServerTest, CounterIsPrintedOnSigusr1AndAtTheEnd) {
  // Requests that the gate answers never reach the event service: no module, no count.
  Ask("GET / HTTP/1.1\r\n\r\n");
  Ask("HEAD / HTTP/1.1\r\n" + kAuth + "\r\n");
  Ask("GET /favicon.ico HTTP/1.1\r\n" + kAuth + "\r\n");
  const std::string caption =
      "Servidor do Banco de Dados do Quelvar 1.5 - Porta " + std::to_string(server_.port()) + "\n";
  ASSERT_TRUE(server_.WaitForStdout(caption));
  ::kill(server_.pid(), SIGUSR1);
  ASSERT_TRUE(server_.WaitForStdout("Qtd. de acessos ao banco de dados: 0\n"));
  EXPECT_TRUE(server_.Running());
  EXPECT_EQ(ParseReply(Ask("GET /favicon.ico HTTP/1.1\r\n" + kAuth + "\r\n").bytes).statusLine,
            "HTTP/1.1 200 OK");
  EXPECT_EQ(server_.Stop(), 0);
  EXPECT_EQ(server_.Stdout(), caption + "Qtd. de acessos ao banco de dados: 0\n" +
                                  "Qtd. de acessos ao banco de dados: 0\n");
}

TEST_F(ServerTest, SecondCopyEndsAtOnceWithCode0) {
  ServerProcess::Options options;
  options.runtimeDir = server_.runtimeDir();
  ServerProcess second(options);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(second.Run({"--headless"}, 5s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_EQ(second.Stdout(), "");
  EXPECT_EQ(second.Stderr(), "quelvar-server: another copy is already running (it holds the lock file " +
                                 (server_.runtimeDir() / "SoftServQuelvar1.OnlyOne").string() + "); this one ends.\n");
  EXPECT_THROW(RawConnection{second.port()}, std::runtime_error);
  // The first copy is untouched.
  EXPECT_EQ(ParseReply(Ask("GET /favicon.ico HTTP/1.1\r\n" + kAuth + "\r\n").bytes).statusLine, "HTTP/1.1 200 OK");
}

TEST_F(ServerTest, ParameterTextsNestedToTheReadersLimitAreServed) {
  // The deepest texts the JSON reader takes, as parameter fields of a call:
  // each is read on a connection thread, whose stack must hold it.
  constexpr int kDepth = 510;
  std::string objects, arrays;
  for (int i = 0; i < kDepth; ++i) objects += "{\"a\":";
  objects += "1" + std::string(kDepth, '}');
  arrays = std::string(kDepth, '[') + std::string(kDepth, ']');
  for (const std::string& nested : {objects, arrays}) {
    const std::string field = "{\"ObjectType\":\"toParam\", \"Direction\":\"odIN\", \"Encoded\":\"false\", "
                              "\"ValueType\":\"ovString\", \"x\":" + nested + "}";
    const std::string body = "--b\r\nContent-Disposition: form-data; name=\"x\"\r\n\r\n" + field +
                             "\r\n--b\r\nContent-Disposition: form-data; name=\"dwservereventname\"\r\n\r\n"
                             "DWServerEventsFerramentas\r\n--b--\r\n";
    const std::string request = "POST /Sobre HTTP/1.1\r\n" + kAuth +
                                "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    EXPECT_EQ(ParseReply(Ask(request).bytes).statusLine, "HTTP/1.1 200 OK");
  }
  EXPECT_TRUE(server_.Running());
}

TEST_F(ServerTest, StopSignalsEndWithCode0) {
  // SIGTERM here; SIGINT on a server of its own. (A request still in flight
  // at the signal: operations_e2e_test.cpp.)
  EXPECT_EQ(server_.Stop(5s), 0);

  ServerProcess other;
  other.Start();
  ASSERT_TRUE(other.WaitUntilAccepting());
  ::kill(other.pid(), SIGINT);
  EXPECT_EQ(other.WaitExit(5s), 0);
}

TEST(ServerStartup, TakenPortFailsWithTheSocketMessage) {
  TakenPort taken;
  ASSERT_NE(taken.port(), 0);
  ServerProcess::Options options;
  options.port = taken.port();
  ServerProcess server(options);
  EXPECT_EQ(server.Run({"--headless"}), 1);
  EXPECT_NE(server.Stderr().find("Address already in use"), std::string::npos) << server.Stderr();
  EXPECT_EQ(server.Stdout(), "");
}

TEST(ServerStartup, MissingDatabaseStopsTheStart) {
  const std::string message =
      "Banco de dados não localizado na pasta.\n\nInforme corretamente na tela a seguir  \n";
  struct Case {
    const char* name;
    ServerProcess::Options options;
  };
  std::vector<Case> cases(4);
  cases[0].name = "no Config1.ini, even with the default database present";
  cases[0].options.writeConfig = false;
  cases[1].name = "no LocalQuelvarDB key";
  cases[1].options.configText = "[INDICE]\nPorta=7780\n";
  cases[2].name = "database file missing";
  cases[2].options.databasePath = "/nonexistent/QuelvarDB.db3";
  cases[2].options.createDatabaseFile = false;
  cases[3].name = "database path is a folder";
  cases[3].options.databasePath = std::filesystem::temp_directory_path().string();
  cases[3].options.createDatabaseFile = false;
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    ServerProcess server(c.options);
    EXPECT_EQ(server.Run({"--headless"}), 1);
    const std::string errors = server.Stderr();
    EXPECT_EQ(errors.rfind(message, 0), 0u) << errors;
    EXPECT_NE(errors.find("--create-database"), std::string::npos) << errors;
    EXPECT_EQ(server.Stdout(), "");
  }
}

TEST(ServerStartup, FirstStartWritesTheDefaultConfig) {
  ServerProcess::Options options;
  options.writeConfig = false;
  ServerProcess server(options);
  EXPECT_EQ(server.Run({"--headless"}), 1);
  EXPECT_EQ(ReadText(server.programFolder() / "Config1.ini"),
            "[INDICE]\nLocalQuelvarDB=" + (server.programFolder() / "QuelvarDB.db3").string() + "\nPorta=7780\n");
}

TEST(ServerStartup, PortOutsideTheRangeIsRefused) {
  const std::string message = "Porta de comunicação não informada ou inválida no Config1.ini (use um número de 1 a "
                              "65535).\n\nInforme corretamente na tela a seguir  \n";
  struct Case {
    const char* porta;  // nullptr: no Porta key
    const char* detail;
  };
  const std::vector<Case> cases = {
      {"abc", "Porta in {folder}Config1.ini is \"abc\": not a port from 1 to 65535."},
      {"", "Porta in {folder}Config1.ini is \"\": not a port from 1 to 65535."},
      {"7780x", "Porta in {folder}Config1.ini is \"7780x\": not a port from 1 to 65535."},
      {"0", "Porta in {folder}Config1.ini is \"0\": not a port from 1 to 65535."},
      {"65536", "Porta in {folder}Config1.ini is \"65536\": not a port from 1 to 65535."},
      {"-80", "Porta in {folder}Config1.ini is \"-80\": not a port from 1 to 65535."},
      {nullptr, "Porta in {folder}Config1.ini is missing."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.porta ? c.porta : "(no key)");
    ServerProcess probe;  // a database file to point at
    ServerProcess::Options options;
    options.createDatabaseFile = false;
    options.configText = "[INDICE]\nLocalQuelvarDB=" + probe.databasePath() + "\n" +
                         (c.porta ? "Porta=" + std::string(c.porta) + "\n" : std::string());
    ServerProcess server(options);
    EXPECT_EQ(server.Run({"--headless"}), 1);
    std::string detail = c.detail;
    detail.replace(detail.find("{folder}"), 8, server.programFolder().string() + "/");
    EXPECT_EQ(server.Stderr(), message + "quelvar-server: " + detail + "\n");
    EXPECT_EQ(server.Stdout(), "");
  }
}

TEST(ServerStartup, RelativeDatabasePathIsTakenFromTheProgramFolder) {
  ServerProcess::Options options;
  options.createDatabaseFile = false;
  options.configText = "[INDICE]\nLocalQuelvarDB=dados/Loja.db3\nPorta=" + std::to_string(FreeLoopbackPort()) + "\n";
  ServerProcess server(options);
  std::filesystem::create_directory(server.programFolder() / "dados");
  { std::ofstream(server.programFolder() / "dados" / "Loja.db3"); }
  // Started from another working directory, where no such file exists.
  server.Start();
  ASSERT_TRUE(server.WaitForStderr(" started: ")) << server.Stderr();
  EXPECT_NE(server.Stderr().find(", database " + (server.programFolder() / "dados/Loja.db3").string() + ", "),
            std::string::npos)
      << server.Stderr();
  EXPECT_EQ(server.Stop(), 0);
}

TEST(ServerStartup, CreateDatabaseLeavesAnExistingFileAlone) {
  ServerProcess server;
  {
    std::ofstream(server.databasePath(), std::ios::binary | std::ios::trunc) << "keep me";
  }
  server.Start({"--headless", "--create-database"});
  ASSERT_TRUE(server.WaitUntilAccepting()) << server.Stderr();
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(ReadText(server.databasePath()), "keep me");
}

TEST(ServerStartup, CreateDatabaseWritesTheDefaultConfigFirst) {
  ServerProcess::Options options;
  options.writeConfig = false;
  options.createDatabaseFile = false;
  ServerProcess server(options);
  server.Start({"--headless", "--create-database"});
  const auto config = server.programFolder() / "Config1.ini";
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!std::filesystem::exists(config) && server.Running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  server.Stop();
  EXPECT_EQ(ReadText(config),
            "[INDICE]\nLocalQuelvarDB=" + (server.programFolder() / "QuelvarDB.db3").string() + "\nPorta=7780\n");
}

TEST(ServerCommandLine, Options) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* stdoutStart;
    const char* stderrStart;
  };
  const std::vector<Case> cases = {
      {{"--version"}, 0, "quelvar-server ", ""},
      {{"--help"}, 0, "Usage: quelvar-server", ""},
      {{"--bogus"}, 2, "", "quelvar-server: unknown option '--bogus'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    ServerProcess server;
    EXPECT_EQ(server.Run(c.args), c.exitCode);
    EXPECT_EQ(server.Stdout().rfind(c.stdoutStart, 0), 0u) << server.Stdout();
    EXPECT_EQ(server.Stderr().rfind(c.stderrStart, 0), 0u) << server.Stderr();
  }
}

}  // namespace
}  // namespace quelvar::test
