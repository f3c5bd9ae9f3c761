// The server binary started without arguments: the operator window where a
// display is available, the headless run otherwise.

#include <signal.h>

#include <string>

#include <gtest/gtest.h>

#include "event_client.h"
#include "raw_http.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

// No display of any kind.
const std::vector<std::string> kNoDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

ServerProcess::Options WithEnvironment(std::vector<std::string> environment) {
  ServerProcess::Options options;
  options.environment = std::move(environment);
  return options;
}

// Asks for a table that does not exist: the free query logs one failure entry.
void LogOneFailure(std::uint16_t port) {
  const auto reply = CallEvent(port, "DWServerEventsFerramentas", "QueryDinamica",
                               {{"SQL", StringParam("SQL", "Select * From Nada")}, {"Tabela", OutParam("Tabela")}});
  EXPECT_EQ(reply.status, 200) << reply.body;
}

TEST(ServerWithoutArguments, RunsHeadlessWithoutADisplay) {
  ServerProcess server(WithEnvironment(kNoDisplay));
  server.Start({});
  ASSERT_TRUE(server.WaitUntilAccepting());
  LogOneFailure(server.port());
  EXPECT_EQ(server.Stop(), 0);
  const std::string caption = "Servidor do Banco de Dados do Quelvar 1.5 - Porta " + std::to_string(server.port());
  EXPECT_EQ(server.Stdout(), caption + "\nQtd. de acessos ao banco de dados: 1\n");
  EXPECT_NE(server.OperatorLog().find("QueryDinamica --> \r"), std::string::npos) << server.Stderr();
}

#ifdef QUELVAR_WITH_WINDOW
TEST(ServerWithoutArguments, OpensTheWindowWhereADisplayIsAvailable) {
  std::vector<std::string> environment = kNoDisplay;
  environment.push_back("QT_QPA_PLATFORM=offscreen");
  ServerProcess server(WithEnvironment(environment));
  server.Start({});
  ASSERT_TRUE(server.WaitUntilAccepting());
  LogOneFailure(server.port());
  // The log goes to the window and, as in the headless run, to standard
  // error (the journal when run as a unit); SIGTERM closes the window, which
  // ends the program with code 0.
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_EQ(server.Stdout(), "");
  EXPECT_NE(server.OperatorLog().find("QueryDinamica --> \r"), std::string::npos) << server.Stderr();
}

TEST(ServerWithoutArguments, HeadlessOptionWinsOverADisplay) {
  ServerProcess server(WithEnvironment({"QT_QPA_PLATFORM=offscreen"}));
  server.Start({"--headless"});
  ASSERT_TRUE(server.WaitUntilAccepting());
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_NE(server.Stdout().find("Qtd. de acessos ao banco de dados: 0\n"), std::string::npos) << server.Stdout();
}
#endif

}  // namespace
}  // namespace quelvar::test
