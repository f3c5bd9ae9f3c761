// Record-set JSON throughput beside the engine's own cost for the same rows.
//
// One record set of kRows rows x 16 fields of mixed types (integers, floats,
// dates, date-times, ~20-character memos, booleans, a few nulls) is:
//   WriteDatasetJson  written as result-set JSON (LoadFromDataset + ToJSON);
//   WriteDatasetEncoded written as the query dispatch writes it: the holder
//                     text made straight in its Base64 form (DatasetHolderText);
//   QueryToEncodedList the whole list without HTTP: Query::Open(), LoadInto,
//                     SortOn("T_Material") and DatasetHolderText;
//   ReadDatasetJson   read back from that text (WriteToDataset);
//   QueryOpen         fetched by Query::Open() of "Select * From T" from a
//                     temporary SQLite file holding the same rows;
//   QueryOpenLoadInto the same plus Query::LoadInto(MemTable&);
//   SqliteStepRaw     a bare prepare/step/column loop over the same statement.
// Figures are printed only; nothing is asserted.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/database.h"
#include "data/date_texts.h"
#include "data/mem_table.h"
#include "data/query.h"
#include "data/dataset_json.h"
#include "formats/json_value.h"
#include "formats/variant.h"
#include "formats/wire_values.h"

namespace quelvar {
namespace {

constexpr int kRows = 100'000;

struct Column {
  const char* name;
  const char* declaredType;  // in the SQLite table
  TFieldType type;           // in the MemTable (what the declared type maps to)
};

// 16 fields: 4 integers, 3 floats, 2 dates, 1 date-time, 4 memos, 2 booleans.
const Column kColumns[] = {
    {"T_Id", "INTEGER", TFieldType::ftInteger},
    {"T_Codigo", "BIGINT", TFieldType::ftLargeint},
    {"T_Quantidade", "INTEGER", TFieldType::ftInteger},
    {"T_Saldo", "INTEGER", TFieldType::ftInteger},
    {"T_Preco", "DOUBLE", TFieldType::ftFloat},
    {"T_Custo", "DOUBLE", TFieldType::ftFloat},
    {"T_Peso", "DOUBLE", TFieldType::ftFloat},
    {"T_DataEntrada", "DATE", TFieldType::ftDate},
    {"T_Validade", "DATE", TFieldType::ftDate},
    {"T_Alterado", "DATETIME", TFieldType::ftDateTime},
    {"T_Material", "TEXT", TFieldType::ftWideMemo},
    {"T_Lote", "TEXT", TFieldType::ftWideMemo},
    {"T_Fornecedor", "TEXT", TFieldType::ftWideMemo},
    {"T_Obs", "TEXT", TFieldType::ftWideMemo},
    {"T_Ativo", "BOOLEAN", TFieldType::ftBoolean},
    {"T_Excluido", "BOOLEAN", TFieldType::ftBoolean},
};
constexpr int kFields = static_cast<int>(sizeof(kColumns) / sizeof(kColumns[0]));
static_assert(kFields == 16);

// Deterministic pseudo-random numbers (64-bit LCG).
struct Lcg {
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  std::uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state >> 33);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint32_t>(n)); }
};

// A text of about 20 characters (18..22), some with non-ASCII letters.
std::string Memo(Lcg& rng, const char* const* words, int wordCount) {
  static const char* const kTails[] = {" n. 12", " lote B", " a\xC3\xA7o", " 3/8\"", " cx 100", " pe\xC3\xA7" "a", " 220V"};
  std::string s = words[rng.Below(wordCount)];
  s += kTails[rng.Below(7)];
  while (s.size() < 18) s += static_cast<char>('A' + rng.Below(26));
  s += std::to_string(rng.Below(1000));
  if (s.size() > 22) s.resize(22);
  return s;
}

// Row values, the same for the MemTable and the SQLite file.
std::vector<std::vector<Variant>> MakeRows() {
  static const char* const kMaterials[] = {"Parafuso sextavado", "Arruela lisa", "Porca travante", "Bucha nylon",
                                           "Cabo flex\xC3\xADvel", "Luva de raspa", "Fita isolante"};
  static const char* const kSuppliers[] = {"Distribuidora Norte", "Comercial Sul", "Ferragens Lima",
                                           "Atacado Central", "Metal\xC3\xBArgica Vale"};
  Lcg rng;
  std::vector<std::vector<Variant>> rows;
  rows.reserve(kRows);
  const TDateTime base = EncodeDate(2020, 1, 1);
  for (int r = 0; r < kRows; ++r) {
    std::vector<Variant> v;
    v.reserve(kFields);
    v.push_back(Variant::Integer(r + 1));
    v.push_back(Variant::Integer(7'000'000'000ll + rng.Next()));
    v.push_back(Variant::Integer(rng.Below(5000)));
    v.push_back(Variant::Integer(rng.Below(200000) - 1000));
    v.push_back(Variant::Float(rng.Below(10'000'000) / 100.0));
    v.push_back(Variant::Float(rng.Below(1'000'000) / 1000.0));
    v.push_back(Variant::Float(rng.Below(100'000) / 7.0));
    v.push_back(Variant::DateTime(base + rng.Below(2000)));
    v.push_back(r % 10 == 3 ? Variant::Null() : Variant::DateTime(base + 365 + rng.Below(2000)));
    v.push_back(Variant::DateTime(EncodeDateTime(2024, 1 + rng.Below(12), 1 + rng.Below(28), rng.Below(24),
                                                 rng.Below(60), rng.Below(60))));
    v.push_back(Variant::Text(Memo(rng, kMaterials, 7)));
    char lot[32];
    std::snprintf(lot, sizeof lot, "L%06d-%04d-A%02d", 100000 + rng.Below(900000), 2020 + rng.Below(6), rng.Below(100));
    v.push_back(Variant::Text(lot));
    v.push_back(Variant::Text(Memo(rng, kSuppliers, 5)));
    v.push_back(r % 7 == 0 ? Variant::Null() : Variant::Text(Memo(rng, kMaterials, 7)));
    v.push_back(Variant::Boolean(rng.Below(4) != 0));
    v.push_back(Variant::Boolean(rng.Below(20) == 0));
    rows.push_back(std::move(v));
  }
  return rows;
}

const std::vector<std::vector<Variant>>& Rows() {
  static const std::vector<std::vector<Variant>> rows = MakeRows();
  return rows;
}

MemTable& SourceTable() {
  static MemTable table = [] {
    MemTable t;
    for (const Column& c : kColumns) t.AddFieldDef({.name = c.name, .type = c.type});
    t.Open();
    for (const auto& row : Rows()) {
      t.Append();
      for (int f = 0; f < kFields; ++f) t.SetValue(f, row[static_cast<std::size_t>(f)]);
      t.Post();
    }
    t.First();
    return t;
  }();
  return table;
}

std::string HolderText() {
  TJSONValue holder;
  LoadFromDataset(holder, "temp", SourceTable(), true);
  return holder.ToJSON();
}

const std::string& SourceJson() {
  static const std::string text = HolderText();
  return text;
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    throw std::runtime_error(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
  }
}

// The temporary SQLite file with table T holding Rows(); removed at exit.
class TempDatabase {
 public:
  TempDatabase() {
    std::string dirTemplate = (std::filesystem::temp_directory_path() / "quelvar-bench-XXXXXX").string();
    if (mkdtemp(dirTemplate.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = dirTemplate;
    path_ = (dir_ / "bench.db3").string();
    Fill();
  }
  ~TempDatabase() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& Path() const { return path_; }

 private:
  void Fill() {
    sqlite3* raw = nullptr;
    Check(sqlite3_open(path_.c_str(), &raw), raw, "open");
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
    std::string create = "Create Table T (";
    std::string insert = "Insert Into T Values (";
    for (int f = 0; f < kFields; ++f) {
      if (f > 0) {
        create += ", ";
        insert += ", ";
      }
      create += std::string(kColumns[f].name) + " " + kColumns[f].declaredType;
      insert += "?";
    }
    create += ")";
    insert += ")";
    Check(sqlite3_exec(raw, create.c_str(), nullptr, nullptr, nullptr), raw, "create");
    Check(sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr), raw, "begin");
    sqlite3_stmt* rawStatement = nullptr;
    Check(sqlite3_prepare_v2(raw, insert.c_str(), -1, &rawStatement, nullptr), raw, "prepare insert");
    std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> st(rawStatement, &sqlite3_finalize);
    for (const auto& row : Rows()) {
      sqlite3_reset(rawStatement);
      for (int f = 0; f < kFields; ++f) {
        const Variant& v = row[static_cast<std::size_t>(f)];
        const int i = f + 1;
        if (v.isNullOrUnassigned()) {
          sqlite3_bind_null(rawStatement, i);
          continue;
        }
        std::string text;
        switch (kColumns[f].type) {
          case TFieldType::ftInteger:
          case TFieldType::ftLargeint: sqlite3_bind_int64(rawStatement, i, v.asInt64()); break;
          case TFieldType::ftFloat: sqlite3_bind_double(rawStatement, i, v.asDouble()); break;
          case TFieldType::ftBoolean: sqlite3_bind_int(rawStatement, i, v.asBoolean() ? 1 : 0); break;
          case TFieldType::ftDate: text = StoredDateText(v.asDateTime()); break;
          case TFieldType::ftDateTime: text = StoredDateTimeText(v.asDateTime()); break;
          default: text = v.asText(); break;
        }
        if (!text.empty()) sqlite3_bind_text(rawStatement, i, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      }
      Check(sqlite3_step(rawStatement), raw, "insert");
    }
    Check(sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr), raw, "commit");
  }

  std::filesystem::path dir_;
  std::string path_;
};

TempDatabase& Db() {
  static TempDatabase db;
  return db;
}

void SetRowCounters(benchmark::State& state, std::size_t bytesPerIteration) {
  state.counters["rows/s"] = benchmark::Counter(kRows, benchmark::Counter::kIsIterationInvariantRate);
  if (bytesPerIteration > 0) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytesPerIteration));
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytesPerIteration) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
    state.counters["json_MB"] = static_cast<double>(bytesPerIteration) / 1e6;
  }
}

void BM_WriteDatasetJson(benchmark::State& state) {
  MemTable& table = SourceTable();
  std::size_t bytes = 0;
  for (auto _ : state) {
    TJSONValue holder;
    LoadFromDataset(holder, "temp", table, true);
    std::string text = holder.ToJSON();
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  SetRowCounters(state, bytes);
}

void BM_WriteDatasetEncoded(benchmark::State& state) {
  MemTable& table = SourceTable();
  std::size_t bytes = 0;
  for (auto _ : state) {
    EncodedText text = DatasetHolderText(table, "temp", true, TEncodeSelect::esASCII);
    const std::string stored = text.TakeStored();
    bytes = stored.size();
    benchmark::DoNotOptimize(stored.data());
  }
  SetRowCounters(state, bytes);
}

void BM_QueryToEncodedList(benchmark::State& state) {
  const std::string path = Db().Path();
  Database database([path] { return path; });
  Query query(database);
  query.Add("Select * From T");
  MemTable table;
  std::size_t bytes = 0;
  for (auto _ : state) {
    query.Close();
    query.Open();
    query.LoadInto(table);
    query.Close();
    table.SortOn("T_Material");
    EncodedText text = DatasetHolderText(table, "temp", true, TEncodeSelect::esASCII);
    const std::string stored = text.TakeStored();
    bytes = stored.size();
    benchmark::DoNotOptimize(stored.data());
  }
  SetRowCounters(state, bytes);
}

void BM_ReadDatasetJson(benchmark::State& state) {
  const std::string& text = SourceJson();
  MemTable table;
  for (auto _ : state) {
    TJSONValue holder;
    WriteToDataset(holder, text, table);
    benchmark::DoNotOptimize(table.RecordCount());
  }
  state.SetLabel(table.RecordCount() == kRows && table.FieldCount() == kFields ? "100000 rows x 16 fields read back"
                                                                                : "row or field count differs");
  SetRowCounters(state, text.size());
}

void BM_QueryOpen(benchmark::State& state) {
  const std::string path = Db().Path();
  Database database([path] { return path; });
  Query query(database);
  query.Add("Select * From T");
  for (auto _ : state) {
    query.Close();
    query.Open();
    benchmark::DoNotOptimize(query.RecordCount());
  }
  SetRowCounters(state, 0);
}

void BM_QueryOpenLoadInto(benchmark::State& state) {
  const std::string path = Db().Path();
  Database database([path] { return path; });
  Query query(database);
  query.Add("Select * From T");
  MemTable table;
  for (auto _ : state) {
    query.Close();
    query.Open();
    query.LoadInto(table);
    benchmark::DoNotOptimize(table.RecordCount());
  }
  // Report (not assert) whether the loaded set has the shape of the JSON one.
  bool same = table.RecordCount() == kRows && table.FieldCount() == kFields;
  for (int f = 0; same && f < kFields; ++f) same = table.Fields()[static_cast<std::size_t>(f)].type == kColumns[f].type;
  state.SetLabel(same ? "same 100000 x 16 shape and field types" : "shape or field types differ");
  SetRowCounters(state, 0);
}

void BM_SqliteStepRaw(benchmark::State& state) {
  const std::string& path = Db().Path();
  sqlite3* raw = nullptr;
  Check(sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), raw, "open");
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
  std::int64_t rows = 0;
  for (auto _ : state) {
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(raw, "Select * From T", -1, &st, nullptr), raw, "prepare");
    rows = 0;
    std::int64_t sink = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < kFields; ++c) {
        switch (sqlite3_column_type(st, c)) {
          case SQLITE_INTEGER: sink += sqlite3_column_int64(st, c); break;
          case SQLITE_FLOAT: sink += static_cast<std::int64_t>(sqlite3_column_double(st, c)); break;
          case SQLITE_TEXT:
            benchmark::DoNotOptimize(sqlite3_column_text(st, c));
            sink += sqlite3_column_bytes(st, c);
            break;
          default: break;
        }
      }
      ++rows;
    }
    sqlite3_finalize(st);
    benchmark::DoNotOptimize(sink);
  }
  state.SetLabel(rows == kRows ? "100000 rows stepped, every column read" : "row count differs");
  SetRowCounters(state, 0);
}

// Build the shared data before any timing starts.
void WarmUp(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(SourceJson().size());
    benchmark::DoNotOptimize(Db().Path().size());
  }
  state.counters["json_MB"] = static_cast<double>(SourceJson().size()) / 1e6;
}

BENCHMARK(WarmUp)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteDatasetJson)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteDatasetEncoded)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QueryToEncodedList)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadDatasetJson)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QueryOpen)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_QueryOpenLoadInto)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SqliteStepRaw)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace quelvar
