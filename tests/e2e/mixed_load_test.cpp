// Many clients at once against one server on a fresh database, mixing the
// lists of materials and of entries with saves of new materials and of
// entries with items. No reply may be an HTTP server error or go missing,
// every save that answered a key must be in the database afterwards (an entry
// with all its items), no two saves may answer the same key, and the
// request counter must equal the number of requests the clients sent.
//
// Saves serialise on the database's write lock with a ten-second busy
// timeout, so under this load a save may answer the save failure with the
// engine's "database is locked"; such a save must have left nothing behind.
// A reply may therefore take longer than the busy timeout: clients wait
// kReplyWait for it.
//
// QUELVAR_LOAD_SECONDS sets how long the clients keep sending (default 20);
// the sanitizer runs shorten it.

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "catalogue_support.h"
#include "data/date_texts.h"
#include "database_file.h"
#include "event_client.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

constexpr std::string_view kMaterials = "DWServerEventsT04_MATE";
constexpr std::string_view kEntries = "DWServerEventsT12_ENTR";
constexpr int kClients = 64;
constexpr int kSeededMaterial = 1;  // the material the entries' items use
constexpr std::string_view kCounterLabel = "Qtd. de acessos ao banco de dados: ";
constexpr auto kReplyWait = std::chrono::seconds(60);
constexpr std::string_view kLocked = "database is locked";

std::chrono::seconds LoadDuration() {
  const char* text = std::getenv("QUELVAR_LOAD_SECONDS");
  const int seconds = text ? std::atoi(text) : 0;
  return std::chrono::seconds(seconds > 0 ? seconds : 20);
}

FieldDef Text(std::string name) { return {.name = std::move(name), .type = TFieldType::ftWideString, .size = 60}; }
FieldDef Whole(std::string name) { return {.name = std::move(name), .type = TFieldType::ftInteger}; }
FieldDef Number(std::string name) { return {.name = std::move(name), .type = TFieldType::ftFloat}; }
FieldDef Flag(std::string name) { return {.name = std::move(name), .type = TFieldType::ftBoolean}; }
FieldDef Day(std::string name) { return {.name = std::move(name), .type = TFieldType::ftDate}; }

// A record set of these fields and rows, as a client sends it.
std::string Records(const std::vector<FieldDef>& fields, const std::vector<std::vector<Variant>>& rows) {
  MemTable t;
  for (const FieldDef& f : fields) t.AddFieldDef(f);
  t.Open();
  for (const auto& row : rows) {
    t.Append();
    for (std::size_t c = 0; c < row.size(); ++c) t.SetValue(static_cast<int>(c), row[c]);
    t.Post();
  }
  return DatasetText(t);
}

// What one client asks: each kind in turn, starting at its own.
enum class Ask { ListMaterials, ListEntries, SaveMaterial, SaveEntry };

// The unique texts of one save, from the client and its request number.
std::string Tag(int client, int request) { return std::to_string(client) + "-" + std::to_string(request); }

std::string NewMaterial(const std::string& tag) {
  return Records({Whole("T04_NumMaterial"), Text("T04_Material"), Text("T04_CodBarra"), Flag("T04_Desativado"),
                  Number("T04_EstqMinimo"), Number("T04_EstqIdeal"), Number("T04_Peso"), Text("T04_Unidade"),
                  Text("T04_NCM"), Text("T04_Obs1"), Text("T04_Obs2"), Whole("T04_NumGrupo"), Flag("T04_UsaLote")},
                 {{Variant::Integer(0), Variant::Text("Material " + tag), Variant::Text("BAR" + tag),
                   Variant::Boolean(false), Variant::Float(1), Variant::Float(5), Variant::Float(0.5),
                   Variant::Text("UN"), Variant::Text(""), Variant::Text(""), Variant::Text(""), Variant::Integer(1),
                   Variant::Boolean(true)}});
}

std::string NewEntryHeader(const std::string& tag) {
  return Records({Whole("T12_NumEntrada"), Whole("T12_NumFornec"), Whole("T12_NumPedido"), Day("T12_Data"),
                  Text("T12_NF"), Text("T12_Obs1"), Text("T12_Obs2")},
                 {{Variant::Integer(0), Variant::Integer(1), Variant::Integer(0),
                   Variant::DateTime(ParseDisplayDateTime("02/03/2024").value()), Variant::Text("NF " + tag),
                   Variant::Text(""), Variant::Text("")}});
}

// Two items, each bringing a lot of its own.
std::string NewEntryItems(const std::string& tag) {
  std::vector<std::vector<Variant>> rows;
  for (int item = 1; item <= 2; ++item)
    rows.push_back({Variant::Text("L" + tag + "/" + std::to_string(item)), Variant::Integer(kSeededMaterial),
                    Variant::Null(), Variant::Text("P"), Variant::Float(item), Variant::Float(2.5)});
  return Records({Text("T05_Lote"), Whole("T05_NumMaterial"), Day("T05_Validade"), Text("T05_Local"),
                  Number("T13_Qtd"), Number("T13_Valor")},
                 rows);
}

// What every client saw, merged.
struct Tally {
  std::mutex mutex;
  long requests = 0;
  std::map<Ask, long> answered;
  std::map<std::string, std::string> materials;  // key answered -> description sent
  std::map<std::string, std::string> entries;    // key answered -> NF sent
  std::vector<std::string> refusedMaterials;     // descriptions of saves refused on the lock
  std::vector<std::string> refusedEntries;       // NFs of saves refused on the lock
  std::vector<std::string> faults;               // anything that is not a sound answer
  std::vector<std::string> duplicateKeys;

  void Fault(std::string what) {
    std::lock_guard lock(mutex);
    faults.push_back(std::move(what));
  }
};

class MixedLoad : public ::testing::Test {
 protected:
  MixedLoad() : server_(ServerProcess::FreshDatabase()) {}
  void SetUp() override {
    server_.StartWithFreshDatabase();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.Stderr();
    ExecSql(server_.databasePath(),
            "Insert into T06_GRUP (T06_NumGrupo, T06_Grupo) Values (1, 'Ferragens');"
            "Insert into T08_FORN (T08_NumFornec, T08_Fornecedor) Values (1, 'Alfa Ltda');"
            "Insert into T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material, T04_Unidade, T04_CodBarra) "
            "Values (" + std::to_string(kSeededMaterial) + ", 1, 'cimento', 'sc', '789')");
  }

  // One request of kind `ask`; the outcome goes into `tally`.
  void Send(Ask ask, int client, int request, Tally& tally) {
    const std::string tag = Tag(client, request);
    EventReply reply;
    const auto began = std::chrono::steady_clock::now();
    {
      std::lock_guard lock(tally.mutex);
      ++tally.requests;
    }
    try {
      switch (ask) {
        case Ask::ListMaterials:
          reply = CallEvent(server_.port(), kMaterials, "Consulta",
                            {{"Filtro", StringParam("Filtro", "")},
                             {"Tabela", OutParam("Tabela")},
                             {"Desativados", BooleanParam("Desativados", false)}},
                            kReplyWait);
          break;
        case Ask::ListEntries:
          reply = CallEvent(server_.port(), kEntries, "Consulta",
                            {{"Filtro", StringParam("Filtro", "")},
                             {"Data1", StringParam("Data1", "")},
                             {"Data2", StringParam("Data2", "")},
                             {"Tabela", OutParam("Tabela")}},
                            kReplyWait);
          break;
        case Ask::SaveMaterial:
          reply = CallEvent(server_.port(), kMaterials, "Grava",
                            {{"Tabela", StringParam("Tabela", NewMaterial(tag))}, {"Resposta", OutParam("Resposta")}},
                            kReplyWait);
          break;
        case Ask::SaveEntry:
          reply = CallEvent(server_.port(), kEntries, "Grava",
                            {{"Tabela", StringParam("Tabela", NewEntryHeader(tag))},
                             {"TabelaDet", StringParam("TabelaDet", NewEntryItems(tag))},
                             {"Resposta", OutParam("Resposta")}},
                            kReplyWait);
          break;
      }
    } catch (const std::exception& e) {
      tally.Fault(tag + ": no reply (" + e.what() + ")");
      return;
    }
    if (reply.status != 200) {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began).count();
      tally.Fault(tag + ": status " + std::to_string(reply.status) + " after " + std::to_string(ms) + " ms " +
                  reply.body.substr(0, 200));
      return;
    }
    std::lock_guard lock(tally.mutex);
    ++tally.answered[ask];
    if (ask == Ask::ListMaterials || ask == Ask::ListEntries) {
      // A list always carries a record set, the seeded rows at least.
      const std::string table = reply.Text("Tabela");
      if (table.find("\"toDataset\"") == std::string::npos && table.find("\"fields\"") == std::string::npos)
        tally.faults.push_back(tag + ": a list without a record set: " + reply.body.substr(0, 200));
      return;
    }
    const std::string key = reply.Text("Resposta");
    const std::string sent = ask == Ask::SaveMaterial ? "Material " + tag : "NF " + tag;
    if (key.rfind(kSaveFailure, 0) == 0 && key.find(kLocked) != std::string::npos) {
      (ask == Ask::SaveMaterial ? tally.refusedMaterials : tally.refusedEntries).push_back(sent);
      return;
    }
    if (key.empty() || key.find_first_not_of("0123456789") != std::string::npos || key == "0") {
      tally.faults.push_back(tag + ": save answered '" + key + "'");
      return;
    }
    auto& saved = ask == Ask::SaveMaterial ? tally.materials : tally.entries;
    if (!saved.emplace(key, sent).second) tally.duplicateKeys.push_back(key + " (" + sent + ")");
  }

  // The counter as the server prints it on SIGUSR1; -1 when it prints none.
  long PrintedCounter() {
    ::kill(server_.pid(), SIGUSR1);
    if (!server_.WaitForStdout(kCounterLabel)) return -1;
    const std::regex line(std::string(kCounterLabel) + "([0-9]+)\n");
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::smatch m;
      const std::string out = server_.Stdout();
      if (std::regex_search(out, m, line)) return std::stol(m[1]);
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }

  // Rows "key|text|items" of a check query, keyed by the first column.
  std::map<std::string, std::string> Rows(const std::string& sql) {
    std::map<std::string, std::string> rows;
    const std::string text = SqlText(server_.databasePath(), "Select Coalesce(Group_Concat(r, char(10)), '') From (" + sql + ")");
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string row = text.substr(start, end - start);
      const auto bar = row.find('|');
      rows[row.substr(0, bar)] = bar == std::string::npos ? "" : row.substr(bar + 1);
      start = end + 1;
    }
    return rows;
  }

  ServerProcess server_;
};

TEST_F(MixedLoad, SixtyFourClientsListAndSaveWithoutLosingAnything) {
  const auto duration = LoadDuration();
  Tally tally;
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      for (int i = 0; !stop; ++i) Send(static_cast<Ask>((c + i) % 4), c, i, tally);
    });
  }
  std::this_thread::sleep_for(duration);
  stop = true;
  for (std::thread& t : clients) t.join();

  std::printf("[ load     ] %ld requests in %llds from %d clients: %ld material lists, %ld entry lists, "
              "%zu material saves, %zu entry saves; refused on the lock: %zu material, %zu entry saves\n",
              tally.requests, static_cast<long long>(duration.count()), kClients, tally.answered[Ask::ListMaterials],
              tally.answered[Ask::ListEntries], tally.materials.size(), tally.entries.size(),
              tally.refusedMaterials.size(), tally.refusedEntries.size());
  for (const std::string& fault : tally.faults) ADD_FAILURE() << fault;
  EXPECT_TRUE(tally.duplicateKeys.empty()) << "a key answered twice: " << tally.duplicateKeys.front();
  for (Ask ask : {Ask::ListMaterials, Ask::ListEntries, Ask::SaveMaterial, Ask::SaveEntry})
    EXPECT_GT(tally.answered[ask], 0) << "kind " << static_cast<int>(ask) << " never answered";

  EXPECT_EQ(PrintedCounter(), tally.requests) << server_.Stdout();

  // Every material whose key arrived, with the description its client sent.
  const std::map<std::string, std::string> materials =
      Rows("Select T04_NumMaterial || '|' || T04_Material As r From T04_MATE");
  for (const auto& [key, description] : tally.materials) {
    const auto row = materials.find(key);
    EXPECT_TRUE(row != materials.end() && row->second == description)
        << "material " << key << " (" << description << ") is "
        << (row == materials.end() ? "missing" : "'" + row->second + "'");
  }
  // Every entry whose key arrived, with its NF and both items and lots.
  const std::map<std::string, std::string> entries = Rows(
      "Select h.T12_NumEntrada || '|' || h.T12_NF || '|' || "
      "(Select Count(*) From T13_ENT2 i Join T05_LOTE l On l.T05_NumLote = i.T13_NumLote "
      " Where i.T13_NumEntrada = h.T12_NumEntrada And l.T05_Lote Like 'L' || substr(h.T12_NF, 4) || '/%') As r "
      "From T12_ENT1 h");
  for (const auto& [key, nf] : tally.entries) {
    const auto row = entries.find(key);
    EXPECT_TRUE(row != entries.end() && row->second == nf + "|2")
        << "entry " << key << " (" << nf << ") is " << (row == entries.end() ? "missing" : "'" + row->second + "'");
  }
  // A refused save left nothing.
  const std::string db = server_.databasePath();
  for (const std::string& description : tally.refusedMaterials)
    EXPECT_EQ(SqlText(db, "Select Count(*) From T04_MATE Where T04_Material = '" + description + "'"), "0") << description;
  for (const std::string& nf : tally.refusedEntries) {
    EXPECT_EQ(SqlText(db, "Select Count(*) From T12_ENT1 Where T12_NF = '" + nf + "'"), "0") << nf;
    EXPECT_EQ(SqlText(db, "Select Count(*) From T05_LOTE Where T05_Lote Like 'L" + nf.substr(3) + "/%'"), "0") << nf;
  }
  // Nothing half-saved: no entry without its items.
  EXPECT_EQ(SqlText(server_.databasePath(),
                    "Select Count(*) From T12_ENT1 h Where Not Exists "
                    "(Select 1 From T13_ENT2 i Where i.T13_NumEntrada = h.T12_NumEntrada)"),
            "0");
  EXPECT_EQ(SqlText(server_.databasePath(), "PRAGMA integrity_check"), "ok");
}

}  // namespace
}  // namespace quelvar::test
