// The maintenance events of DWServerEventsFerramentas over HTTP: backup,
// restore, backup listing, integrity check and the free query, against a
// database the server creates from its built-in schema.

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "data/mem_table.h"
#include "database_file.h"
#include "event_client.h"
#include "data/dataset_json.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kGroup = "DWServerEventsFerramentas";
const std::string kBackupFailure = "Ocorreu um erro na geração do backup. \r";
const std::string kRestoreFailure = "Ocorreu um erro ao restaurar o backup. \r";
const std::string kCopyFailure = "Ocorreu um erro na cópia do backup.\rMensagem original: ";

// Runs a script on the file; true when every statement succeeded.
bool Exec(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

std::vector<std::string> IntegrityLines(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  std::vector<std::string> lines;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::string row = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    std::size_t start = 0;
    for (std::size_t end; (end = row.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(row.substr(start, end - start));
    lines.push_back(row.substr(start));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return lines;
}

void WriteBytes(const fs::path& path, std::size_t size, char fill = 'x') {
  std::ofstream out(path, std::ios::binary);
  out << std::string(size, fill);
}

std::string TodayText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &local);
  return text;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string SuccessText(const std::string& name, const fs::path& folder) {
  return "Backup gerado com sucesso.\r\rO nome do backup gerado foi " + name + "\rNo servidor, na pasta " +
         folder.string() +
         "\r\rCopie este backup para um pendrive para se prevenir\rde qualquer problema que possa ocorrer\r\r"
         "É sua responsabilidade manter uma cópia do backup em segurança.";
}

// The record set a client sends to the listing: its own field definitions.
std::string ListingTable(bool withSize = true) {
  MemTable t;
  t.AddFieldDef({.name = "NomeArquivo", .type = TFieldType::ftWideString, .size = 200});
  if (withSize) t.AddFieldDef({.name = "Tamanho", .type = TFieldType::ftInteger});
  t.Open();
  TJSONValue holder;
  LoadFromDataset(holder, "temp", t, true);
  return holder.ToJSON();
}

MemTable Decode(const std::string& text) {
  MemTable t;
  TJSONValue holder;
  WriteToDataset(holder, text, t);
  return t;
}

class Tools : public ::testing::Test {
 protected:
  Tools() : server_(ServerProcess::FreshDatabase()) {}
  void SetUp() override {
    server_.StartWithFreshDatabase();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.OperatorLog();
  }

  fs::path BackupFolder() const { return server_.programFolder() / "Backup"; }
  const std::string& Db() const { return server_.databasePath(); }

  std::string Backup(const std::string& destino1, const std::string& destino2 = "") {
    const EventReply reply = CallEvent(server_.port(), kGroup, "Backup",
                                       {{"Destino1", StringParam("Destino1", destino1)},
                                        {"Destino2", StringParam("Destino2", destino2)},
                                        {"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }
  std::string Restore(const std::string& origem) {
    const EventReply reply = CallEvent(server_.port(), kGroup, "Restore",
                                       {{"Origem", StringParam("Origem", origem)}, {"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }
  std::string Listing(const std::string& table) {
    const EventReply reply = CallEvent(server_.port(), kGroup, "ListaArquivosBackups",
                                       {{"Tabela", StringParam("Tabela", table, TObjectDirection::odINOUT)}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Tabela");
  }
  std::string Reordena() {
    const EventReply reply = CallEvent(server_.port(), kGroup, "Reordena", {{"Resposta", OutParam("Resposta")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Resposta");
  }
  std::string FreeQuery(const std::string& sql) {
    const EventReply reply = CallEvent(server_.port(), kGroup, "QueryDinamica",
                                       {{"SQL", StringParam("SQL", sql)}, {"Tabela", OutParam("Tabela")}});
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Text("Tabela");
  }
  // The copies of replaced databases a restore kept, by name.
  std::vector<fs::path> KeptBeforeRestore() const {
    std::vector<fs::path> kept;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(BackupFolder(), ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("AntesDoRestore-", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".db3")
        kept.push_back(entry.path());
    }
    std::sort(kept.begin(), kept.end());
    return kept;
  }
  // Leaves free pages in the file, which a compaction removes.
  void LeaveFreePages() {
    ASSERT_TRUE(Exec(Db(),
                     "Create Table Sobra(x TEXT);"
                     "With Recursive n(i) As (Select 1 Union All Select i + 1 From n Where i < 500)"
                     " Insert Into Sobra Select hex(randomblob(500)) From n;"
                     "Drop Table Sobra;"));
    ASSERT_NE(SqlText(Db(), "PRAGMA freelist_count"), "0");
  }
  // Makes the index of a fresh table disagree with its rows.
  void DamageDatabase() {
    ASSERT_TRUE(Exec(Db(),
                     "CREATE TABLE Z(a INTEGER, b INTEGER); CREATE INDEX ZI ON Z(a);"
                     "INSERT INTO Z VALUES (1, 10), (2, 20), (3, 30);"
                     "PRAGMA writable_schema = ON;"
                     "UPDATE sqlite_master SET sql = 'CREATE INDEX ZI ON Z(b)' WHERE name = 'ZI';"));
    ASSERT_GT(IntegrityLines(Db()).size(), 1u);
  }

  ServerProcess server_;
};

TEST_F(Tools, FirstBackupCreatesTheFolderCopiesTheDatabaseAndRecordsToday) {
  ASSERT_TRUE(Exec(Db(), "Update T03_CONF Set T03_Rodape = 'copiado'"));
  ASSERT_FALSE(fs::exists(BackupFolder()));
  ASSERT_EQ(SqlText(Db(), "Select T03_UltimoBackup From T03_CONF"), "<null>");

  EXPECT_EQ(Backup("Seg.db3"), SuccessText("Seg.db3", BackupFolder()));

  const std::string copy = (BackupFolder() / "Seg.db3").string();
  ASSERT_TRUE(fs::is_regular_file(copy));
  EXPECT_EQ(SqlText(copy, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(SqlText(copy, "Select T03_Rodape From T03_CONF"), "copiado");
  EXPECT_EQ(SqlText(Db(), "Select T03_UltimoBackup From T03_CONF"), TodayText());
}

TEST_F(Tools, BackupReplacesAnEarlierCopyAndFillsAnExistingSecondFolder) {
  const fs::path second = server_.programFolder() / "pendrive";
  fs::create_directory(second);
  ASSERT_TRUE(Exec(Db(), "Update T03_CONF Set T03_Rodape = 'velho'"));
  ASSERT_EQ(Backup("Dia.db3", second.string()), SuccessText("Dia.db3", BackupFolder()));
  ASSERT_TRUE(Exec(Db(), "Update T03_CONF Set T03_Rodape = 'novo'"));

  EXPECT_EQ(Backup("Dia.db3", second.string()), SuccessText("Dia.db3", BackupFolder()));
  EXPECT_EQ(SqlText((BackupFolder() / "Dia.db3").string(), "Select T03_Rodape From T03_CONF"), "novo");
  EXPECT_EQ(DatabaseContent((second / "Dia.db3").string()), DatabaseContent((BackupFolder() / "Dia.db3").string()));
}

// Every target is checked before anything is written: a missing second
// folder leaves no copy in the backup folder either.
TEST_F(Tools, MissingSecondFolderFailsBeforeAnyCopyAndKeepsTheDate) {
  const fs::path missing = server_.programFolder() / "nao-existe";
  EXPECT_EQ(Backup("Sem.db3", missing.string()), kBackupFailure + kCopyFailure + "No such file or directory");
  EXPECT_FALSE(fs::exists(BackupFolder() / "Sem.db3"));
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_EQ(SqlText(Db(), "Select T03_UltimoBackup From T03_CONF"), "<null>");
  EXPECT_EQ(Count(server_.OperatorLog(), "Backup --> \r" + kCopyFailure), 1u) << server_.OperatorLog();
}

TEST_F(Tools, BackupNamesThatLeaveTheBackupFolderAreRefused) {
  for (const std::string name : {"../Fora.db3", "sub/x.db3", "..", "", "a\\b.db3", "/tmp/abs.db3"}) {
    const std::string answer = Backup(name);
    EXPECT_EQ(answer.rfind(kBackupFailure, 0), 0u) << name << ": " << answer;
    EXPECT_GT(answer.size(), kBackupFailure.size()) << name;
  }
  EXPECT_FALSE(fs::exists(server_.programFolder() / "Fora.db3"));
  EXPECT_FALSE(fs::exists("/tmp/abs.db3"));
  EXPECT_EQ(SqlText(Db(), "Select T03_UltimoBackup From T03_CONF"), "<null>");
}

TEST_F(Tools, BackupOfADatabaseLockedBeyondTheBusyTimeoutFailsWithTheEngineMessage) {
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open_v2(Db().c_str(), &holder, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  // The server answers only after its busy timeout, which is as long as the
  // test client's own wait; the outcome is read from the operator log.
  CallEvent(server_.port(), kGroup, "Backup",
            {{"Destino1", StringParam("Destino1", "Preso.db3")},
             {"Destino2", StringParam("Destino2", "")},
             {"Resposta", OutParam("Resposta")}});
  const std::string entry = "Backup --> \r[SQLite] database is locked";
  for (int i = 0; i < 600 && Count(server_.OperatorLog(), entry) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  EXPECT_EQ(Count(server_.OperatorLog(), entry), 1u) << server_.OperatorLog();
  EXPECT_FALSE(fs::exists(BackupFolder() / "Preso.db3"));
  EXPECT_EQ(SqlText(Db(), "Select T03_UltimoBackup From T03_CONF"), "<null>");
}

TEST_F(Tools, BackupOfADamagedDatabaseFailsTheCheckAndWritesNoCopy) {
  DamageDatabase();
  const std::vector<std::string> lines = IntegrityLines(Db());
  EXPECT_EQ(Backup("Ruim.db3"), kBackupFailure + "Erro no teste de validade do banco de dados.");
  EXPECT_FALSE(fs::exists(BackupFolder() / "Ruim.db3"));
  const std::string log = server_.OperatorLog();
  EXPECT_EQ(Count(log, "Validate MSG: \r"), lines.size()) << log;
  for (const std::string& line : lines) EXPECT_NE(log.find("Validate MSG: \r" + line + "\n"), std::string::npos) << line;
  EXPECT_EQ(Count(log, "Backup --> \rErro no teste de validade do banco de dados."), 1u);
}

TEST_F(Tools, ListingShowsDb3FilesWithSizesInKibRoundedHalfToEven) {
  fs::create_directory(BackupFolder());
  WriteBytes(BackupFolder() / "a.db3", 1536);
  WriteBytes(BackupFolder() / "b.db3", 2560);
  WriteBytes(BackupFolder() / "c.db3", 3584);
  WriteBytes(BackupFolder() / "d.db3", 1023);
  WriteBytes(BackupFolder() / "AvulsoBackup.bkp", 4096);
  WriteBytes(BackupFolder() / "notas.txt", 10);

  MemTable t = Decode(Listing(ListingTable()));
  std::map<std::string, std::int64_t> sizes;
  for (t.First(); !t.Eof(); t.Next()) sizes[t.AsString("NomeArquivo")] = t.AsInteger("Tamanho");
  const std::map<std::string, std::int64_t> expected = {{"a.db3", 2}, {"b.db3", 2}, {"c.db3", 4}, {"d.db3", 1}};
  EXPECT_EQ(sizes, expected);
}

TEST_F(Tools, ListingWithoutFolderIsEmptyAndAClientTableWithoutTheFieldsKeepsItsText) {
  MemTable empty = Decode(Listing(ListingTable()));
  EXPECT_EQ(empty.RecordCount(), 0);
  EXPECT_GE(empty.FieldIndex("NomeArquivo"), 0);
  EXPECT_GE(empty.FieldIndex("Tamanho"), 0);

  fs::create_directory(BackupFolder());
  WriteBytes(BackupFolder() / "a.db3", 10);
  const std::string sent = ListingTable(false);
  EXPECT_EQ(Listing(sent), sent);
  EXPECT_EQ(Count(server_.OperatorLog(), "ConsultaConfig --> \r"), 1u) << server_.OperatorLog();
}

TEST_F(Tools, RestorePutsTheBackupBackInPlace) {
  ASSERT_TRUE(Exec(Db(), "Update T03_CONF Set T03_Rodape = 'antes'"));
  ASSERT_EQ(Backup("Volta.db3"), SuccessText("Volta.db3", BackupFolder()));
  ASSERT_TRUE(Exec(Db(), "Update T03_CONF Set T03_Rodape = 'depois'; Create Table Nova(x INTEGER)"));

  EXPECT_EQ(Restore("Volta.db3"), "OK");
  EXPECT_EQ(SqlText(Db(), "Select T03_Rodape From T03_CONF"), "antes");
  EXPECT_EQ(SqlText(Db(), "Select count(*) From sqlite_master Where name = 'Nova'"), "0");
  EXPECT_EQ(SqlText(Db(), "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(Decode(FreeQuery("Select T03_Rodape From T03_CONF")).AsString("T03_Rodape"), "antes");

  // The database it replaced is kept beside the backups, and the log says
  // who restored what.
  const std::vector<fs::path> kept = KeptBeforeRestore();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(SqlText(kept[0].string(), "Select T03_Rodape From T03_CONF"), "depois");
  EXPECT_EQ(SqlText(kept[0].string(), "Select count(*) From sqlite_master Where name = 'Nova'"), "1");
  EXPECT_EQ(Count(server_.OperatorLog(), "Restore MSG: \rbanco restaurado de Volta.db3 a pedido de 127.0.0.1; "
                                         "o banco substituído foi guardado em " + kept[0].string()),
            1u)
      << server_.OperatorLog();
}

TEST_F(Tools, FailedRestoresLeaveTheLiveFileByteIdentical) {
  ASSERT_TRUE(Exec(Db(), "Update T03_CONF Set T03_Rodape = 'vivo'"));
  fs::create_directory(BackupFolder());
  WriteBytes(BackupFolder() / "Lixo.db3", 8192, 'z');
  fs::copy_file(Db(), server_.programFolder() / "Fora.db3");
  const std::string before = DatabaseContent(Db());

  EXPECT_EQ(Restore("Falta.db3"), kRestoreFailure + kCopyFailure + "No such file or directory");
  EXPECT_EQ(Restore("../x"), kRestoreFailure + kCopyFailure +
                                "nome de arquivo de backup inválido (só um nome da pasta Backup): ../x");
  for (const std::string name : {"Lixo.db3", "../Fora.db3", "..", ""}) {
    const std::string answer = Restore(name);
    EXPECT_EQ(answer.rfind(kRestoreFailure + kCopyFailure, 0), 0u) << name << ": " << answer;
    EXPECT_GT(answer.size(), (kRestoreFailure + kCopyFailure).size()) << name;
  }
  EXPECT_EQ(DatabaseContent(Db()), before);
  EXPECT_EQ(Count(server_.OperatorLog(), "Restore --> \r" + kCopyFailure), 6u) << server_.OperatorLog();
  EXPECT_TRUE(KeptBeforeRestore().empty());
  EXPECT_EQ(Count(server_.OperatorLog(), "Restore MSG: "), 0u) << server_.OperatorLog();
}

TEST_F(Tools, RequestsDuringRestoresSeeTheOldOrTheRestoredDatabase) {
  ASSERT_TRUE(Exec(Db(), "Update T03_CONF Set T03_Rodape = 'pequeno'"));
  ASSERT_EQ(Backup("P.db3"), SuccessText("P.db3", BackupFolder()));
  ASSERT_TRUE(Exec(Db(),
                   "Update T03_CONF Set T03_Rodape = 'grande';"
                   "Create Table Peso(x TEXT);"
                   "With Recursive n(i) As (Select 1 Union All Select i + 1 From n Where i < 3000)"
                   " Insert Into Peso Select hex(randomblob(200)) From n;"));
  ASSERT_EQ(Backup("G.db3"), SuccessText("G.db3", BackupFolder()));

  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::vector<std::string> unexpected;
  std::thread reader([&] {
    while (!done.load()) {
      const std::string table = FreeQuery("Select T03_Rodape From T03_CONF");
      const std::string rodape = table.empty() ? "<empty>" : Decode(table).AsString("T03_Rodape");
      if (rodape != "pequeno" && rodape != "grande") unexpected.push_back(rodape);
      ++reads;
    }
  });
  for (int round = 0; round < 6; ++round) {
    EXPECT_EQ(Restore(round % 2 == 0 ? "P.db3" : "G.db3"), "OK");
  }
  while (reads.load() < 3) std::this_thread::yield();
  done = true;
  reader.join();
  EXPECT_TRUE(unexpected.empty()) << unexpected.front();
  EXPECT_EQ(SqlText(Db(), "Select T03_Rodape From T03_CONF"), "grande");
  EXPECT_EQ(SqlText(Db(), "PRAGMA integrity_check"), "ok");
  // Restores within the same second keep each replaced database.
  EXPECT_EQ(KeptBeforeRestore().size(), 6u);
}

TEST_F(Tools, ReordenaOnASoundDatabaseAnswersOkAndCompactsTheFile) {
  LeaveFreePages();
  EXPECT_EQ(Reordena(), "OK");
  EXPECT_EQ(SqlText(Db(), "PRAGMA freelist_count"), "0");
  EXPECT_NE(SqlText(Db(), "Select count(*) From sqlite_master Where name = 'sqlite_stat1'"), "0");
  EXPECT_EQ(Count(server_.OperatorLog(), "Validate"), 0u) << server_.OperatorLog();
}

TEST_F(Tools, ReordenaOnADamagedDatabaseAnswersEmptyLogsEveryLineAndStillCompacts) {
  DamageDatabase();
  LeaveFreePages();
  const std::vector<std::string> lines = IntegrityLines(Db());
  EXPECT_EQ(Reordena(), "");
  const std::string log = server_.OperatorLog();
  EXPECT_EQ(Count(log, "Validate MSG: \r"), lines.size()) << log;
  for (const std::string& line : lines) EXPECT_NE(log.find("Validate MSG: \r" + line + "\n"), std::string::npos) << line;
  EXPECT_EQ(Count(log, "Reordena --> "), 0u);
  EXPECT_EQ(SqlText(Db(), "PRAGMA freelist_count"), "0");
}

TEST_F(Tools, ReordenaOnAFileThatIsNoDatabaseAnswersTheFailureText) {
  WriteBytes(Db(), 4096, 'q');
  const std::string answer = Reordena();
  EXPECT_EQ(answer, "Ocorreu um erro no teste de integridade \r[SQLite] file is not a database");
  EXPECT_EQ(Count(server_.OperatorLog(), "Validate Error --> \r[SQLite] file is not a database"), 1u) << server_.OperatorLog();
  EXPECT_EQ(Count(server_.OperatorLog(), "Reordena --> \r[SQLite] file is not a database"), 1u);
}

TEST_F(Tools, FreeQueryReturnsItsResultOrAnEmptyTableWithOneLogEntry) {
  MemTable t = Decode(FreeQuery("select 1 as X"));
  ASSERT_EQ(t.FieldCount(), 1);
  EXPECT_EQ(t.Fields()[0].name, "X");
  EXPECT_EQ(t.Fields()[0].type, TFieldType::ftLargeint);
  ASSERT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.AsInteger("X"), 1);

  MemTable lines = Decode(FreeQuery("Select 'a' As L\nUnion All\nSelect 'b'"));
  EXPECT_EQ(lines.RecordCount(), 2);

  EXPECT_EQ(FreeQuery("selec 1"), "");
  EXPECT_EQ(Count(server_.OperatorLog(), "QueryDinamica --> \r"), 1u) << server_.OperatorLog();
  EXPECT_NE(server_.OperatorLog().find("QueryDinamica --> \r[SQLite] near \"selec\": syntax error"), std::string::npos)
      << server_.OperatorLog();
}

// A value the field's type cannot hold (the first row typed the column as a
// number) is answered empty, and the request leaves one warning in the log.
TEST_F(Tools, FreeQueryLeavesValuesItsFieldsCannotHoldEmptyWithOneWarning) {
  MemTable t = Decode(FreeQuery("select column1 as X, column2 as Y from (values (1, 2.5), ('abc', 'd'), (3, 'e'))"));
  ASSERT_EQ(t.RecordCount(), 3);
  std::vector<std::string> xs;
  for (t.First(); !t.Eof(); t.Next()) xs.push_back(t.IsNull("X") ? "<null>" : t.AsString("X"));
  EXPECT_EQ(xs, (std::vector<std::string>{"1", "<null>", "3"}));
  EXPECT_EQ(Count(server_.OperatorLog(), "QueryDinamica MSG: \rValores que o tipo do campo não comporta ficaram vazios: X (1), Y (2)"), 1u)
      << server_.OperatorLog();
  EXPECT_EQ(Count(server_.OperatorLog(), "QueryDinamica"), 1u) << server_.OperatorLog();
  EXPECT_EQ(Count(server_.Stderr(), " WARNING QueryDinamica MSG:"), 1u) << server_.Stderr();

  Decode(FreeQuery("select 1 as X"));
  EXPECT_EQ(Count(server_.OperatorLog(), "QueryDinamica"), 1u) << server_.OperatorLog();
}

}  // namespace
}  // namespace quelvar::test
