// Requests that try to destroy or leak the shop's data through the
// maintenance events and the file fallback, against the real server: each
// case must be refused through the event's own failure path, leaving the live
// database, the settings and the target as they were.

#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "database_file.h"
#include "event_client.h"
#include "raw_http.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kGroup = "DWServerEventsFerramentas";
const std::string kBackupFailure = "Ocorreu um erro na geração do backup. \r";
const std::string kRestoreFailure = "Ocorreu um erro ao restaurar o backup. \r";
const std::string kCopyFailure = "Ocorreu um erro na cópia do backup.\rMensagem original: ";
const std::string kProtected = "O destino do backup é um arquivo do próprio servidor e não pode ser substituído: ";
const std::string kNotBackup =
    "O destino do backup já existe e não é um backup de banco de dados; ele não será substituído: ";

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The names in `folder`, sorted.
std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Adds about `kib` KiB of rows to the database.
void Grow(const std::string& db, int kib) {
  ExecSql(db, "Create Table If Not Exists Peso(x BLOB);"
              "With Recursive n(i) As (Select 1 Union All Select i + 1 From n Where i < " +
                  std::to_string(kib) + ") Insert Into Peso Select randomblob(1000) From n;");
}

class DataSafety : public ::testing::Test {
 protected:
  DataSafety() : server_(ServerProcess::FreshDatabase()) {}
  void SetUp() override {
    server_.StartWithFreshDatabase();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.Stderr();
  }

  fs::path Folder() const { return server_.programFolder(); }
  fs::path BackupFolder() const { return Folder() / "Backup"; }
  const std::string& Db() const { return server_.databasePath(); }

  std::string Call(std::string_view event, std::vector<std::pair<std::string, std::string>> params,
                   const std::string& answer) {
    const EventReply reply = CallEvent(server_.port(), kGroup, event, params, std::chrono::seconds(60));
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text(answer);
  }
  std::string Backup(const std::string& destino1, const std::string& destino2 = "") {
    return Call("Backup",
                {{"Destino1", StringParam("Destino1", destino1)},
                 {"Destino2", StringParam("Destino2", destino2)},
                 {"Resposta", OutParam("Resposta")}},
                "Resposta");
  }
  std::string Restore(const std::string& origem) {
    return Call("Restore", {{"Origem", StringParam("Origem", origem)}, {"Resposta", OutParam("Resposta")}},
                "Resposta");
  }

  ServerProcess server_;
};

// ---------------------------------------------------------------- backup

TEST_F(DataSafety, BackupTargetsThatAreNotEarlierBackupsAreRefusedAndLeftAsTheyWere) {
  const fs::path other = Folder() / "outra";
  fs::create_directory(other);
  fs::create_symlink(Db(), other / "atalho.db3");
  WriteText(other / "authorized_keys", "ssh-ed25519 AAAA chave-de-alguem\n");
  fs::create_directory(BackupFolder());
  WriteText(BackupFolder() / "notas.db3", "não sou um banco de dados");
  // Another shop's database beside this one, and another program's.
  WriteText(Folder() / "Estoque2.db3", "");
  WriteText(other / "programa.sqlite", "");
  ExecSql((Folder() / "Estoque2.db3").string(), "Create Table Outra(x); Insert Into Outra Values (2)");
  ExecSql((other / "programa.sqlite").string(), "Create Table Config(k, v)");
  const std::string exe = server_.executable().filename().string();

  struct Case {
    std::string destino1;
    fs::path destino2;
    std::string expected;  // message after the failure text, up to the target path
    fs::path target;       // the file that must stay as it was (or stay missing)
  };
  const std::vector<Case> cases = {
      {"QuelvarDB.db3", Folder(), kProtected, Db()},
      {"QuelvarDB.db3", other / "..", kProtected, Db()},
      {"atalho.db3", other, kProtected, other / "atalho.db3"},
      {"QuelvarDB.db3-journal", Folder(), kProtected, Db() + "-journal"},
      {"QuelvarDB.db3-wal", Folder(), kProtected, Db() + "-wal"},
      {"QuelvarDB.db3-shm", Folder(), kProtected, Db() + "-shm"},
      {"Config1.ini", Folder(), kProtected, Folder() / "Config1.ini"},
      {exe, Folder(), kProtected, server_.executable()},
      {"authorized_keys", other, kNotBackup, other / "authorized_keys"},
      {"notas.db3", "", kNotBackup, BackupFolder() / "notas.db3"},
      {"Estoque2.db3", Folder(), kNotBackup, Folder() / "Estoque2.db3"},
      {"programa.sqlite", other, kNotBackup, other / "programa.sqlite"},
      {"Sem.db3", Folder() / "nao-existe", kCopyFailure + "No such file or directory", Folder() / "nao-existe"},
  };
  const std::string live = DatabaseContent(Db());
  const std::string settings = ReadBytes(Folder() / "Config1.ini");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.destino1 + " in " + c.destino2.string());
    const bool existed = fs::exists(fs::symlink_status(c.target));
    const std::string before = existed ? ReadBytes(c.target) : "";
    const std::string answer = Backup(c.destino1, c.destino2.string());
    EXPECT_EQ(answer.rfind(kBackupFailure + c.expected, 0), 0u) << answer;
    EXPECT_EQ(Count(server_.OperatorLog(), "Backup --> \r" + answer.substr(kBackupFailure.size())), 1u) << server_.Stderr();
    EXPECT_EQ(fs::exists(fs::symlink_status(c.target)), existed);
    // The live file and its side files change as the log is folded back;
    // their content is checked below.
    const bool liveFile = c.target.string().rfind(Db(), 0) == 0;
    if (existed && !liveFile) {
      EXPECT_EQ(ReadBytes(c.target), before);
    }
    EXPECT_EQ(DatabaseContent(Db()), live);
    EXPECT_EQ(ReadBytes(Folder() / "Config1.ini"), settings);
    EXPECT_FALSE(fs::exists(BackupFolder() / c.destino1) && c.destino1 != "notas.db3")
        << "a refused backup wrote its first copy";
  }
  EXPECT_TRUE(fs::is_symlink(other / "atalho.db3"));
  EXPECT_EQ(Names(other), (std::vector<std::string>{"atalho.db3", "authorized_keys", "programa.sqlite"}));
  EXPECT_EQ(SqlText(Db(), "Select T03_UltimoBackup From T03_CONF"), "<null>");
  EXPECT_EQ(SqlText(Db(), "Select count(*) From T03_CONF"), "1");  // still the live database
}

TEST_F(DataSafety, BackupOntoAFullFilesystemKeepsTheEarlierBackupAndLeavesNoPartialFile) {
  const fs::path small = Folder() / "pendrive";
  fs::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "mounting a small tmpfs is not permitted here (" << std::strerror(errno)
                 << "); the full-disk case needs it";
  struct Unmount {
    fs::path at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{small};

  ASSERT_EQ(Backup("Cheio.db3", small.string()).rfind("Backup gerado com sucesso.", 0), 0u);
  const std::string earlier = ReadBytes(small / "Cheio.db3");
  Grow(Db(), 2048);  // twice the room of the small filesystem

  const std::string answer = Backup("Cheio.db3", small.string());
  EXPECT_EQ(answer, kBackupFailure + kCopyFailure + "[SQLite] database or disk is full");
  EXPECT_EQ(ReadBytes(small / "Cheio.db3"), earlier);
  EXPECT_EQ(Names(small), std::vector<std::string>{"Cheio.db3"});
  EXPECT_EQ(SqlText((small / "Cheio.db3").string(), "PRAGMA integrity_check"), "ok");
}

TEST_F(DataSafety, BackupKilledMidCopyKeepsTheEarlierBackupUnderItsName) {
  ASSERT_EQ(Backup("Grande.db3").rfind("Backup gerado com sucesso.", 0), 0u);
  const std::string earlier = ReadBytes(BackupFolder() / "Grande.db3");
  Grow(Db(), 60 * 1024);

  // The request is sent from a thread of its own; its connection dies with
  // the server.
  std::thread request([&] {
    CallEvent(server_.port(), kGroup, "Backup",
              {{"Destino1", StringParam("Destino1", "Grande.db3")},
               {"Destino2", StringParam("Destino2", "")},
               {"Resposta", OutParam("Resposta")}},
              std::chrono::seconds(60));
  });
  // Kill as soon as the folder shows the copy under way.
  const auto inProgress = [&] {
    std::error_code ec;
    return Names(BackupFolder()) != std::vector<std::string>{"Grande.db3"} ||
           fs::file_size(BackupFolder() / "Grande.db3", ec) != earlier.size();
  };
  bool sawCopy = false;
  for (int i = 0; i < 30000 && !sawCopy; ++i) {
    sawCopy = inProgress();
    if (!sawCopy) std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  ASSERT_EQ(::kill(server_.pid(), SIGKILL), 0);
  EXPECT_EQ(server_.WaitExit(), -1);
  request.join();
  ASSERT_TRUE(sawCopy) << "the copy was never seen in progress";

  EXPECT_EQ(ReadBytes(BackupFolder() / "Grande.db3"), earlier);
  for (const std::string& name : Names(BackupFolder()))
    EXPECT_TRUE(name == "Grande.db3" || name.rfind(".Grande.db3.parcial-", 0) == 0) << name;

  // The next backup of that name clears what the killed one left.
  server_.Start();
  ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.Stderr();
  ASSERT_EQ(Backup("Grande.db3").rfind("Backup gerado com sucesso.", 0), 0u);
  EXPECT_EQ(Names(BackupFolder()), std::vector<std::string>{"Grande.db3"});
  EXPECT_EQ(SqlText((BackupFolder() / "Grande.db3").string(), "Select count(*) From Peso"), "61440");
}

// ---------------------------------------------------------------- restore

TEST_F(DataSafety, RestoreOfAFileThatIsNoCompleteShopDatabaseIsRefused) {
  ASSERT_EQ(Backup("Bom.db3").rfind("Backup gerado com sucesso.", 0), 0u);
  const std::string good = ReadBytes(BackupFolder() / "Bom.db3");
  Grow(Db(), 64);
  ASSERT_EQ(Backup("Maior.db3").rfind("Backup gerado com sucesso.", 0), 0u);
  const std::string larger = ReadBytes(BackupFolder() / "Maior.db3");

  WriteText(BackupFolder() / "Vazio.db3", "");
  WriteText(BackupFolder() / "Cortado.db3", larger.substr(0, larger.size() / 2));
  WriteText(BackupFolder() / "Cabecalho.db3", good.substr(0, 60));
  WriteText(BackupFolder() / "Texto.db3", std::string(8192, 'z'));
  {
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((BackupFolder() / "Outro.db3").c_str(), &other), SQLITE_OK);
    sqlite3_exec(other, "Create Table T04_MATE(x INTEGER); Insert Into T04_MATE Values (1)", nullptr, nullptr,
                 nullptr);
    sqlite3_close(other);
  }
  std::string damaged = good;
  for (std::size_t at = 4096; at < damaged.size() && at < 4096 * 6; ++at) damaged[at] = '\x5a';
  WriteText(BackupFolder() / "Estragado.db3", damaged);

  struct Case {
    std::string name;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"Vazio.db3", "o arquivo de backup está vazio"},
      {"Cortado.db3", "o arquivo de backup está incompleto"},
      {"Cabecalho.db3", "o arquivo de backup está incompleto"},
      {"Texto.db3", "o arquivo de backup não é um banco de dados"},
      {"Outro.db3", "o arquivo de backup não tem a tabela "},
      {"Estragado.db3", "o arquivo de backup não passou no teste de validade"},
  };
  ExecSql(Db(), "Update T03_CONF Set T03_Rodape = 'vivo'");
  const std::string live = DatabaseContent(Db());
  std::size_t refused = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string answer = Restore(c.name);
    EXPECT_EQ(answer.rfind(kRestoreFailure + kCopyFailure + c.reason, 0), 0u) << answer;
    EXPECT_EQ(Count(server_.OperatorLog(), "Restore --> \r" + kCopyFailure), ++refused);
    EXPECT_EQ(DatabaseContent(Db()), live);
  }
  EXPECT_EQ(Restore("Bom.db3"), "OK");
  EXPECT_EQ(SqlText(Db(), "Select count(*) From sqlite_master Where name = 'Peso'"), "0");
}

// ---------------------------------------------------------------- file fallback

TEST_F(DataSafety, FileFallbackNeverServesTheShopsDataOrSettings) {
  ASSERT_EQ(Backup("Copia.db3").rfind("Backup gerado com sucesso.", 0), 0u);
  WriteText(Db() + "-journal", "diario");
  WriteText(Folder() / "pagina.html", "<p>loja</p>");
  fs::create_symlink(Db(), Folder() / "atalho.txt");
  fs::create_hard_link(Db(), Folder() / "vinculo.txt");

  const auto get = [&](const std::string& target) {
    return ParseReply(Exchange(server_.port(), "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                                   GoodAuthorizationLine() + "\r\n")
                          .bytes);
  };
  for (const std::string target : {"/QuelvarDB.db3", "/QuelvarDB.db3-journal", "/Config1.ini", "/atalho.txt",
                                   "/vinculo.txt", "/Backup/Copia.db3"}) {
    const ParsedReply reply = get(target);
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 404 Not Found") << target;
    EXPECT_EQ(reply.body, "Event not found...") << target;
  }
  const ParsedReply page = get("/pagina.html");
  EXPECT_EQ(page.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(page.body, "<p>loja</p>");
}

// ---------------------------------------------------------------- free query

const std::string kReadOnly = "A consulta livre aceita somente comandos de leitura; o comando foi recusado.";

class FreeQuerySafety : public DataSafety {
 protected:
  std::string FreeQuery(const std::string& sql) {
    return Call("QueryDinamica", {{"SQL", StringParam("SQL", sql)}, {"Tabela", OutParam("Tabela")}}, "Tabela");
  }
  // Budgets are read from Config1.ini at each request.
  void SetSetting(const std::string& line) {
    std::ofstream out(Folder() / "Config1.ini", std::ios::app | std::ios::binary);
    out << line << "\n";
  }
};

TEST_F(FreeQuerySafety, StatementsThatWriteAreRefusedWithTheDatabaseUnchanged) {
  ExecSql(Db(), "Insert Into T05_LOTE (T05_Lote, T05_NumMaterial, T05_Entradas, T05_Saidas) Values ('L1', 1, 5, 0)");
  const std::string outside = (Folder() / "fora.db3").string();
  const std::vector<std::string> writes = {
      "UPDATE T05_LOTE SET T05_Entradas = 999999 RETURNING T05_NumLote",
      "INSERT INTO T01_USUA (T01_Usuario, T01_Senha) VALUES ('intruso', 'x') RETURNING T01_NumUsuario",
      "DELETE FROM T03_CONF RETURNING *",
      "WITH x(v) AS (SELECT 1) UPDATE T05_LOTE SET T05_Saidas = (SELECT v FROM x) RETURNING T05_Saidas",
      "PRAGMA journal_mode = DELETE",
      "PRAGMA user_version = 7",
      "PRAGMA writable_schema = ON",
      "PRAGMA journal_mode",
      "VACUUM INTO '" + outside + "'",
      "ATTACH '" + outside + "' AS fora",
      "CREATE TEMP TABLE t AS SELECT 1 AS x",
      "BEGIN IMMEDIATE",
      "BEGIN",
      "SELECT 1; DELETE FROM T03_CONF",
      "SELECT hex(fts3_tokenizer('simple'))",
      "SELECT load_extension('libm.so.6')",
  };
  const std::string received = SqlText(Db(), "Select T05_Entradas From T05_LOTE");
  const std::string live = DatabaseContent(Db());
  std::size_t refused = 0;
  for (const std::string& sql : writes) {
    EXPECT_EQ(FreeQuery(sql), "") << sql;
    EXPECT_EQ(Count(server_.OperatorLog(), "QueryDinamica --> \r" + kReadOnly), ++refused) << sql << server_.Stderr();
    EXPECT_EQ(DatabaseContent(Db()), live) << sql;
  }
  EXPECT_FALSE(fs::exists(outside));
  EXPECT_EQ(SqlText(Db(), "Select T05_Entradas From T05_LOTE"), received);
  EXPECT_EQ(SqlText(Db(), "Select count(*) From T01_USUA Where T01_Usuario = 'intruso'"), "0");
  EXPECT_EQ(SqlText(Db(), "PRAGMA journal_mode"), "wal");

  // Reading, informational PRAGMAs included, still works.
  EXPECT_NE(FreeQuery("Select T05_Lote From T05_LOTE"), "");
  EXPECT_NE(FreeQuery("PRAGMA table_info(T04_MATE)"), "");
  EXPECT_NE(FreeQuery("PRAGMA user_version"), "");
  EXPECT_EQ(Count(server_.OperatorLog(), "QueryDinamica --> "), refused) << server_.Stderr();
}

TEST_F(FreeQuerySafety, QueriesPastTheirTimeOrMemoryBudgetFailNamingIt) {
  SetSetting("ConsultaLivreSegundos=1");
  SetSetting("ConsultaLivreMemoriaMiB=2");
  struct Case {
    std::string sql;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT count(*) FROM n",
       "A consulta livre passou do limite de tempo de 1 s (ConsultaLivreSegundos em Config1.ini) e foi "
       "interrompida."},
      {"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT i, hex(randomblob(100)) FROM n",
       "A consulta livre passou do limite de memória de 2 MiB (ConsultaLivreMemoriaMiB em Config1.ini) e foi "
       "interrompida."},
      {"SELECT length(zeroblob(3000000))",  // one value larger than the whole budget
       "A consulta livre passou do limite de memória de 2 MiB (ConsultaLivreMemoriaMiB em Config1.ini) e foi "
       "interrompida."},
  };
  for (const Case& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FreeQuery(c.sql), "") << c.sql;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << c.sql;
  }
  EXPECT_EQ(Count(server_.OperatorLog(), "QueryDinamica --> \r" + cases[0].message), 1u) << server_.Stderr();
  EXPECT_EQ(Count(server_.OperatorLog(), "QueryDinamica --> \r" + cases[1].message), 2u) << server_.Stderr();
  // A report within the budgets is untouched by them.
  EXPECT_NE(FreeQuery("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000) "
                      "SELECT i FROM n"),
            "");
  EXPECT_EQ(Count(server_.OperatorLog(), "QueryDinamica --> "), cases.size());
}

// What the engine itself allocates counts, not only the rows handed out; the
// text and what it parses into are bounded; temporary storage stays in memory.
TEST_F(FreeQuerySafety, TheMemoryBudgetHoldsForWhatTheEngineBuilds) {
  SetSetting("ConsultaLivreSegundos=5");
  SetSetting("ConsultaLivreMemoriaMiB=2");
  const std::string memory =
      "A consulta livre passou do limite de memória de 2 MiB (ConsultaLivreMemoriaMiB em Config1.ini) e foi "
      "interrompida.";
  std::string concatenations;
  for (int i = 0; i < 6; ++i) concatenations += std::string(i ? ", " : "") + "length(group_concat(hex(randomblob(50))))";
  std::string longList = "SELECT 1 IN (1";
  while (longList.size() < (1u << 20) + 16) longList += ",1";
  longList += ")";
  struct Case {
    const char* what;
    std::string sql;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"six aggregates of 1.2 MB each",
       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 12000) SELECT " + concatenations +
           " FROM n",
       memory},
      {"a sort without end",
       "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT i FROM n ORDER BY randomblob(2000)",
       memory},
      {"a text over 1 MiB", longList, "O texto da consulta livre passa do limite de 1 MiB e foi recusado."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t before = Count(server_.OperatorLog(), "QueryDinamica --> \r" + c.message);
    EXPECT_EQ(FreeQuery(c.sql), "");
    EXPECT_EQ(Count(server_.OperatorLog(), "QueryDinamica --> \r" + c.message), before + 1) << server_.Stderr();
  }
  // Within the budget the same kinds of query answer.
  EXPECT_NE(FreeQuery("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                      "SELECT length(group_concat(hex(randomblob(50)))) FROM n ORDER BY 1"),
            "");
}

// Only so many free queries run at once: the next waits a little, then fails naming the setting.
TEST_F(FreeQuerySafety, FreeQueriesBeyondTheSettingFailNamingIt) {
  SetSetting("ConsultaLivreSegundos=6");
  SetSetting("ConsultaLivreSimultaneas=1");
  const std::string endless = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) SELECT count(*) FROM n";
  std::thread first([&] { FreeQuery(endless); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(FreeQuery("SELECT 1"), "");
  first.join();
  const std::string busy =
      "A consulta livre já tem 1 consultas em andamento (ConsultaLivreSimultaneas em Config1.ini); tente de novo em "
      "instantes.";
  EXPECT_EQ(Count(server_.OperatorLog(), "QueryDinamica --> \r" + busy), 1u) << server_.Stderr();
  EXPECT_NE(FreeQuery("SELECT 1"), "");  // the slot is free again
}

}  // namespace
}  // namespace quelvar::test
