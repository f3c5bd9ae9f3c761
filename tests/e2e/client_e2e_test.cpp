// The command-line client against the real server binary: a database the
// server creates from its built-in schema, the client run as a separate
// process, its printed answers and exit codes checked exactly.

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "raw_http.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kGroups = "DWServerEventsT06_GRUP";
constexpr std::string_view kTools = "DWServerEventsFerramentas";

struct ClientRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the built client with `args`, standard output and error into files.
ClientRun RunClient(const fs::path& folder, const std::vector<std::string>& args) {
  const fs::path outFile = folder / "client.out";
  const fs::path errFile = folder / "client.err";
  std::vector<std::string> all = {QUELVAR_CLIENT_BINARY};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0) _exit(127);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  ClientRun run;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.out = ReadWhole(outFile);
  run.err = ReadWhole(errFile);
  return run;
}

std::string QueryOne(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  std::string out = "<error>";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
    const auto* text = sqlite3_column_text(stmt, 0);
    out = text ? reinterpret_cast<const char*>(text) : "<null>";
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

void Execute(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
}

class Client : public ::testing::Test {
 protected:
  Client() : server_(ServerProcess::FreshDatabase()) {}
  void SetUp() override {
    server_.StartWithFreshDatabase();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.Stderr();
  }

  ClientRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", std::to_string(server_.port())});
    return RunClient(server_.programFolder(), args);
  }
  fs::path WriteFile(const std::string& name, const std::string& text) {
    const fs::path path = server_.programFolder() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // Saves one group from a rows file and gives the client's run.
  ClientRun SaveGroup(const std::string& fileName, const std::string& rows) {
    return Run({"--table-file", WriteFile(fileName, rows).string(), std::string(kGroups), "Grava"});
  }
  std::string Groups(const std::string& sql) { return QueryOne(server_.databasePath(), sql); }

  ServerProcess server_;
};

TEST_F(Client, PrintsAResultSetAsAnAlignedTableInDisplayForms) {
  ASSERT_EQ(SaveGroup("a.csv", "T06_NumGrupo:int,T06_Grupo,T06_Desativado:bool\r\n0,\"Ferragens, \"\"linha A\"\"\",false\r\n")
                .out,
            "RESPOSTA: 1\n");
  ASSERT_EQ(SaveGroup("b.json", "[{\"T06_NumGrupo\": 0, \"T06_Grupo\": \"Açúcar\", \"T06_Desativado\": false}]").out,
            "RESPOSTA: 2\n");
  Execute(server_.databasePath(), "Update T06_GRUP Set T06_Exclusao = '2023-12-31' Where T06_NumGrupo = 1");

  const ClientRun run = Run({std::string(kTools), "QueryDinamica",
                             "SQL=Select T06_NumGrupo As Num, T06_Grupo As Grupo, T06_Exclusao As Exclusao, "
                             "T06_NumGrupo * 1.25 As Valor, T06_ExcluidoPor As Por From T06_GRUP Order By 1"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "TABELA:\n"
            "Num  Grupo                 Exclusao    Valor  Por\n"
            "---  --------------------  ----------  -----  ---\n"
            "  1  Ferragens, \"linha A\"  31/12/2023   1,25\n"
            "  2  Açúcar                              2,5\n"
            "(2 rows)\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(Client, RowsFilesReachTheDatabaseExactly) {
  struct Case {
    std::string file;
    std::string rows;
    std::string stored;
  } cases[] = {
      {"q.csv", "T06_NumGrupo:int,T06_Grupo\n0,\"duas\nlinhas, \"\"aspas\"\"\"\n", "duas\nlinhas, \"aspas\""},
      {"j.json", "[{\"T06_NumGrupo\": 0, \"T06_Grupo\": \"Elétrica \\\"X\\\"\", \"T06_Desativado\": false}]",
       "Elétrica \"X\""},
      {"p.csv", "T06_Grupo,T06_NumGrupo:int,T06_Desativado:bool\n  Pintura  ,,0\n", "  Pintura  "},
  };
  int key = 0;
  for (const Case& c : cases) {
    const ClientRun run = SaveGroup(c.file, c.rows);
    ++key;
    EXPECT_EQ(run.exitCode, 0) << c.file << run.err;
    EXPECT_EQ(run.out, "RESPOSTA: " + std::to_string(key) + "\n") << c.file;
    EXPECT_EQ(Groups("Select T06_Grupo From T06_GRUP Where T06_NumGrupo = " + std::to_string(key)), c.stored)
        << c.file;
  }
}

TEST_F(Client, ItemsFileSendsTheDocumentItems) {
  const std::string header = WriteFile("entrada.csv",
                                       "T12_NumEntrada:int,T12_NumFornec:int,T12_NumPedido:int,T12_Data:date,T12_NF,"
                                       "T12_Obs1,T12_Obs2\n0,0,0,10/12/2026,NF 1,,\n")
                                 .string();
  const std::string items = WriteFile("itens.csv",
                                      "T05_Lote,T05_NumMaterial:int,T05_Validade:date,T05_Local,T13_Qtd:float,"
                                      "T13_Valor:float\nA,1,,P1,10,\"2,00\"\nB,1,,P2,30,\"4,00\"\n")
                                .string();
  const ClientRun run = Run({"--table-file", header, "--items-file", items, "DWServerEventsT12_ENTR", "Grava"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "RESPOSTA: 1\n");
  EXPECT_EQ(Groups("Select Count(*) || '/' || Sum(T13_Qtd * T13_Valor) From T13_ENT2 Where T13_NumEntrada = 1"),
            "2/140.0");
  EXPECT_EQ(Groups("Select Group_Concat(T05_Lote || ':' || T05_Entradas, ',') From T05_LOTE"), "A:10.0,B:30.0");
}

TEST_F(Client, CsvFormatQuotesWhatNeedsQuoting) {
  const ClientRun run =
      Run({"--format", "csv", std::string(kTools), "QueryDinamica",
           "SQL=Select 'x' As Plain, 'a,b' As Comma, 'diz \"oi\"' As Quote, 'duas' || char(13, 10) || 'linhas' As "
           "Lines, ' antes' As Lead, 12.5 As Num, 7 As Whole, NULL As Nada"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "Plain,Comma,Quote,Lines,Lead,Num,Whole,Nada\r\n"
            "x,\"a,b\",\"diz \"\"oi\"\"\",\"duas\r\nlinhas\",\" antes\",\"12,5\",7,\r\n");
}

TEST_F(Client, JsonFormatKeepsTypes) {
  const ClientRun run = Run({"--format=json", std::string(kTools), "QueryDinamica",
                             "SQL=Select 1 As N, 2.5 As F, NULL As Z, 'é \"q\"' As T Union All Select -3, 0.125, 4, ''"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "{\n"
            "  \"TABELA\": [\n"
            "    {\"N\": 1, \"F\": 2.5, \"Z\": null, \"T\": \"é \\\"q\\\"\"},\n"
            // Z is typed by its first value (null): a text column.
            "    {\"N\": -3, \"F\": 0.125, \"Z\": \"4\", \"T\": \"\"}\n"
            "  ]\n"
            "}\n");
}

TEST_F(Client, TypedArgumentsAreSentWithTheirTypes) {
  ASSERT_EQ(SaveGroup("a.csv", "T06_NumGrupo:int,T06_Grupo\n0,Ativo\n").exitCode, 0);
  ASSERT_EQ(SaveGroup("b.csv", "T06_NumGrupo:int,T06_Grupo\n0,Inativo\n").exitCode, 0);
  Execute(server_.databasePath(), "Update T06_GRUP Set T06_Desativado = 1 Where T06_NumGrupo = 2");
  const std::string header =
      "TABELA:\nT06_NumGrupo  T06_Grupo  T06_Desativado\n------------  ---------  --------------\n";
  EXPECT_EQ(Run({std::string(kGroups), "Consulta", "Desativados:bool=false"}).out,
            "TABELA:\nT06_NumGrupo  T06_Grupo  T06_Desativado\n------------  ---------  --------------\n"
            "           1  Ativo      False\n(1 row)\n");
  EXPECT_EQ(Run({std::string(kGroups), "Consulta", "Desativados:bool=TRUE"}).out,
            header + "           1  Ativo      False\n           2  Inativo    True\n(2 rows)\n");

  const ClientRun deleted = Run({std::string(kGroups), "Exclui", "NumGrupo:int=1", "NumUsuario:int=9"});
  EXPECT_EQ(deleted.exitCode, 0) << deleted.err;
  EXPECT_EQ(deleted.out, "RESPOSTA: OK\n");
  EXPECT_EQ(Groups("Select T06_ExcluidoPor From T06_GRUP Where T06_NumGrupo = 1"), "9");
}

TEST_F(Client, FailuresGiveANonZeroExitAndTheMessage) {
  ASSERT_EQ(SaveGroup("a.csv", "T06_NumGrupo:int,T06_Grupo\n0,Único\n").exitCode, 0);
  const std::string duplicate = WriteFile("dup.csv", "T06_NumGrupo:int,T06_Grupo\n0,Único\n").string();
  const std::uint16_t closedPort = FreeLoopbackPort();
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string errContains;
  } cases[] = {
      {{"--table-file", duplicate, std::string(kGroups), "Grava"},
       4,
       "Ocorreu um erro na gravação no banco de dados.\nUm grupo com esta descrição já foi cadastrado anteriormente."},
      {{std::string(kTools), "QueryDinamica", "SQL=Select * From NaoExiste"}, 4, "empty Tabela"},
      {{std::string(kTools), "QueryDinamica", "SQL=Select * From NaoExiste"}, 4, "log holds the reason"},
      {{std::string(kGroups), "NaoExiste"}, 3, "HTTP 404"},
      {{std::string(kGroups), "NaoExiste"}, 3, "no event 'NaoExiste' in group '" + std::string(kGroups) + "'"},
      {{"--password", "errada", std::string(kGroups), "Consulta"}, 3, "wrong user or password (HTTP 401)"},
      {{std::string(kTools), "Restore", "Origem=../x"},
       4,
       "Ocorreu um erro ao restaurar o backup. \nOcorreu um erro na cópia do backup.\nMensagem original: "
       "nome de arquivo de backup inválido (só um nome da pasta Backup): ../x"},
      {{"events", "GrupoQueNaoExiste"}, 4, "There is more than one ServerEvent."},
      {{std::string(kGroups), "Exclui", "NumGrupo:int=abc"}, 1, "'abc' is not a valid int value"},
      {{std::string(kGroups), "Exclui", "NumGrupo:inteiro=1"}, 1, "unknown value type 'inteiro'"},
      {{"--host", "127.0.0.1", "--port", std::to_string(closedPort), "events"}, 2, "Couldn't connect"},
      {{std::string(kGroups)}, 1, "a group and an event are needed"},
  };
  for (const Case& c : cases) {
    const ClientRun run = Run(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.args.back() << "\n" << run.out << run.err;
    EXPECT_NE(run.err.find(c.errContains), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("<html"), std::string::npos) << run.err;
  }
  EXPECT_EQ(Groups("Select count(*) From T06_GRUP"), "1");
}

// The modules the server has created so far, from its figures page.
std::string ModuleCount(std::uint16_t port) {
  const std::string page =
      ParseReply(Exchange(port, "GET /metrics HTTP/1.1\r\n" + GoodAuthorizationLine() + "\r\n").bytes).body;
  const std::string name = "\nquelvar_service_modules_total ";
  const auto at = page.find(name);
  if (at == std::string::npos) return "<none>";
  return page.substr(at + name.size(), page.find('\n', at + name.size()) - at - name.size());
}

TEST_F(Client, ACallOfAKnownEventIsOneRequestAndAFailureIsToldOnce) {
  // A known event: its call alone; an unknown one: the group's listing too.
  const std::string duplicate = WriteFile("dup.csv", "T06_NumGrupo:int,T06_Grupo\n0,Único\n").string();
  ASSERT_EQ(ModuleCount(server_.port()), "0");
  const ClientRun saved = Run({"--table-file", duplicate, std::string(kGroups), "Grava"});
  EXPECT_EQ(saved.out, "RESPOSTA: 1\n");
  EXPECT_EQ(ModuleCount(server_.port()), "1");

  const ClientRun again = Run({"--table-file", duplicate, std::string(kGroups), "Grava"});
  EXPECT_EQ(again.exitCode, 4);
  EXPECT_EQ(again.out, "");
  const std::string failure = "Ocorreu um erro na gravação no banco de dados.";
  EXPECT_EQ(again.err.find(failure), again.err.rfind(failure)) << again.err;
  EXPECT_NE(again.err.find(failure), std::string::npos) << again.err;
  EXPECT_EQ(ModuleCount(server_.port()), "2");

  const ClientRun unknown = Run({std::string(kGroups), "NaoExiste"});
  EXPECT_EQ(unknown.exitCode, 3);
  EXPECT_EQ(unknown.out, "");
  EXPECT_NE(unknown.err.find("HTTP 404"), std::string::npos) << unknown.err;
  EXPECT_EQ(ModuleCount(server_.port()), "4");  // the listing, then the call
}

TEST_F(Client, ListsTheBackupsWithTheirSizes) {
  // Two backups of different sizes: the second after a table of about 200 KiB more.
  const ClientRun first = Run({std::string(kTools), "Backup", "Destino1=Diario01.db3"});
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
  Execute(server_.databasePath(),
          "Create Table Volume(x BLOB); "
          "With Recursive n(i) As (Select 1 Union All Select i + 1 From n Where i < 50) "
          "Insert Into Volume Select randomblob(4000) From n");
  const ClientRun second = Run({std::string(kTools), "Backup", "Destino1=Diario02.db3"});
  ASSERT_EQ(second.exitCode, 0) << second.out << second.err;

  // The server lists the folder in the order the file system gives, sizes in KiB.
  std::string rows;
  std::vector<std::uintmax_t> sizes;
  for (const fs::directory_entry& entry : fs::directory_iterator(server_.programFolder() / "Backup")) {
    const std::uintmax_t bytes = entry.file_size();
    ASSERT_EQ(bytes % 1024, 0u) << entry.path();  // whole database pages
    sizes.push_back(bytes / 1024);
    char line[64];
    std::snprintf(line, sizeof line, "%-12s  %7ju\n", entry.path().filename().c_str(), bytes / 1024);
    rows += line;
  }
  ASSERT_EQ(sizes.size(), 2u);
  ASSERT_NE(sizes[0], sizes[1]);

  const ClientRun run = Run({std::string(kTools), "ListaArquivosBackups"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "TABELA:\n"
            "NomeArquivo   Tamanho\n"
            "------------  -------\n" +
                rows + "(2 rows)\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(Client, ListsGroupsAndTheEventsOfAGroup) {
  const ClientRun groups = Run({"events"});
  EXPECT_EQ(groups.exitCode, 0) << groups.err;
  EXPECT_EQ(groups.out.rfind("DWServerEventsT03_CONF\nDWServerEventsT01_USUA\n", 0), 0u) << groups.out;
  EXPECT_NE(groups.out.find("\nDWServerEventsFerramentas\n"), std::string::npos) << groups.out;

  const ClientRun events = Run({"events", "DWServerEventsT04_MATE"});
  EXPECT_EQ(events.exitCode, 0) << events.err;
  EXPECT_EQ(events.out,
            "EVENT      PARAMETER    DIRECTION  TYPE     DEFAULT\n"
            "---------  -----------  ---------  -------  -------\n"
            "Consulta   Filtro       IN         String\n"
            "           Tabela       OUT        String\n"
            "           Desativados  IN         Boolean\n"
            "Consulta2  Filtro       IN         String\n"
            "           Tabela       OUT        String\n"
            "           Desativados  IN         Boolean\n"
            "Grava      Tabela       IN         String\n"
            "           Resposta     OUT        String\n"
            "Exclui     Flag         IN         Integer  4\n"
            "           NumMaterial  IN         Integer\n"
            "           NumUsuario   IN         Integer\n"
            "           Resposta     OUT        String\n");
}

// The server's TLS port with a certificate made here for 127.0.0.1, and the
// client speaking HTTPS to it.
TEST(ClientTls, CallsOverTlsWithTheCertificateItTrusts) {
  ServerProcess::Options options = ServerProcess::FreshDatabase();
  const std::uint16_t tlsPort = FreeLoopbackPort();
  options.extraConfig = "PortaTLS=" + std::to_string(tlsPort) + "\nCertificadoTLS=cert.pem\nChaveTLS=key.pem\n";
  ServerProcess server(options);
  const fs::path folder = server.programFolder();
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                           " -addext subjectAltName=IP:127.0.0.1 -keyout '" + (folder / "key.pem").string() +
                           "' -out '" + (folder / "cert.pem").string() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  // A second certificate, for a client that trusts the wrong one.
  const std::string other = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                            " -addext subjectAltName=IP:127.0.0.1 -keyout '" + (folder / "other.key").string() +
                            "' -out '" + (folder / "other.pem").string() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(other.c_str()), 0);
  server.StartWithFreshDatabase();
  ASSERT_TRUE(server.WaitUntilAccepting()) << server.Stderr();

  const std::string ca = (folder / "cert.pem").string();
  const std::string tls = std::to_string(tlsPort);
  const std::string plain = std::to_string(server.port());
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
  };
  const std::vector<Case> cases = {
      {"TLS, trusted certificate", {"--tls", "--ca-file", ca, "--port", tls, "events"}, 0},
      {"plain port still served", {"--port", plain, "events"}, 0},
      {"TLS, certificate not trusted", {"--tls", "--ca-file", (folder / "other.pem").string(), "--port", tls, "events"}, 2},
      {"plain HTTP to the TLS port", {"--port", tls, "events"}, 2},
      {"TLS to the plain port", {"--tls", "--ca-file", ca, "--port", plain, "events"}, 2},
      {"TLS, wrong credentials", {"--tls", "--ca-file", ca, "--port", tls, "--password", "x", "events"}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ClientRun run = RunClient(folder, c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    if (c.exitCode == 0) {
      EXPECT_EQ(run.out.rfind("DWServerEventsT03_CONF\nDWServerEventsT01_USUA\n", 0), 0u) << run.out;
    }
  }
}

}  // namespace
}  // namespace quelvar::test
