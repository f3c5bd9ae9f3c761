// MemTable: definitions, appending, cursor, typed reads and sorting.
#include "data/mem_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "formats/errors.h"

namespace quelvar {
namespace {

using enum TFieldType;

FieldDef Def(std::string name, TFieldType type, int size = 0) {
  FieldDef def;
  def.name = std::move(name);
  def.type = type;
  def.size = size;
  return def;
}

// Raises Error whose message is exactly `message`.
void ExpectError(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no error; expected \"" << message << "\"";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
}

// A table with one field of every kind the server reads, and one row.
class TypedReads : public ::testing::Test {
 protected:
  void SetUp() override {
    table.AddFieldDef(Def("Id", ftInteger));
    table.AddFieldDef(Def("Nome", ftWideString, 50));
    table.AddFieldDef(Def("Valor", ftFloat));
    table.AddFieldDef(Def("Ativo", ftBoolean));
    table.AddFieldDef(Def("Data", ftDate));
    table.AddFieldDef(Def("Quando", ftDateTime));
    table.AddFieldDef(Def("Hora", ftTime));
    table.AddFieldDef(Def("Nada", ftWideString, 10));
    table.AddFieldDef(Def("Numero", ftWideMemo));
    table.AddFieldDef(Def("DataTexto", ftWideMemo));
    table.Open();
    table.Append();
    table.SetValue("Id", Variant::Integer(42));
    table.SetValue("nome", Variant::Text("São João"));  // names are case-insensitive
    table.SetValue("Valor", Variant::Float(12.5));
    table.SetValue("Ativo", Variant::Boolean(true));
    table.SetValue("Data", Variant::DateTime(EncodeDate(2024, 1, 15)));
    table.SetValue("Quando", Variant::DateTime(EncodeDateTime(2024, 1, 15, 8, 30, 0)));
    table.SetValue("Hora", Variant::DateTime(EncodeDateTime(1899, 12, 30, 8, 30, 5)));
    table.SetValue("Numero", Variant::Text("17"));
    table.SetValue("DataTexto", Variant::Text("2024-01-15"));
    table.Post();
  }
  MemTable table;
};

TEST_F(TypedReads, AsString) {
  struct Case {
    const char* field;
    const char* text;
  } cases[] = {
      {"Id", "42"},           {"Nome", "São João"},         {"Valor", "12,5"},
      {"Ativo", "True"},      {"Data", "15/01/2024"},       {"Quando", "15/01/2024 08:30:00"},
      {"Hora", "08:30:05"},   {"Nada", ""},                 {"NUMERO", "17"},
  };
  for (const auto& c : cases) EXPECT_EQ(table.AsString(c.field), c.text) << c.field;
}

TEST_F(TypedReads, AsIntegerAsFloatAsBoolean) {
  EXPECT_EQ(table.AsInteger("Id"), 42);
  EXPECT_EQ(table.AsInteger("Numero"), 17);  // a text is parsed
  EXPECT_EQ(table.AsInteger("Nada"), 0);     // null
  EXPECT_EQ(table.AsInteger("Ativo"), 1);
  EXPECT_EQ(table.AsInteger("Valor"), 13);  // rounded
  EXPECT_DOUBLE_EQ(table.AsFloat("Valor"), 12.5);
  EXPECT_DOUBLE_EQ(table.AsFloat("Id"), 42.0);
  EXPECT_DOUBLE_EQ(table.AsFloat("Nada"), 0.0);
  EXPECT_TRUE(table.AsBoolean("Ativo"));
  EXPECT_TRUE(table.AsBoolean("Id"));
  EXPECT_FALSE(table.AsBoolean("Nada"));
  EXPECT_TRUE(table.IsNull("Nada"));
  EXPECT_FALSE(table.IsNull("Id"));
}

TEST_F(TypedReads, AsDateTime) {
  EXPECT_DOUBLE_EQ(table.AsDateTime("Data"), EncodeDate(2024, 1, 15));
  EXPECT_DOUBLE_EQ(table.AsDateTime("DataTexto"), EncodeDate(2024, 1, 15));  // a stored date text
  ExpectError([&] { table.AsDateTime("Nada"); }, "Could not convert variant of type (Null) into type (Date)");
}

TEST_F(TypedReads, ConversionFailuresNameTheText) {
  MemTable t;
  t.AddFieldDef(Def("Texto", ftWideString, 20));
  t.Open();
  t.Append();
  t.SetValue(0, Variant::Text("abc"));
  t.Post();
  EXPECT_THROW(t.AsInteger("Texto"), ConversionError);
  ExpectError([&] { t.AsInteger("Texto"); }, "'abc' is not a valid integer value");
  ExpectError([&] { t.AsFloat("Texto"); }, "'abc' is not a valid floating point value");
  ExpectError([&] { t.AsDateTime("Texto"); }, "'abc' is not a valid date and time");
}

TEST_F(TypedReads, UnknownFieldIsAnErrorNamingIt) {
  const std::vector<std::function<void()>> reads = {
      [&] { table.Value("Inexistente"); },          [&] { table.AsString("Inexistente"); },
      [&] { table.AsInteger("Inexistente"); },      [&] { table.AsFloat("Inexistente"); },
      [&] { table.AsBoolean("Inexistente"); },      [&] { table.AsDateTime("Inexistente"); },
      [&] { table.SortOn("Id;Inexistente"); },
  };
  for (const auto& read : reads) ExpectError(read, "Field 'Inexistente' not found");
  table.Append();
  ExpectError([&] { table.SetValue("Inexistente", Variant::Integer(1)); }, "Field 'Inexistente' not found");
}

TEST(MemTableStructure, DefinitionsAndDefaultPrecisions) {
  MemTable t;
  struct Case {
    TFieldType type;
    int given;
    int expected;
  } cases[] = {
      {ftFloat, 0, 15}, {ftCurrency, 0, 15}, {ftSingle, 0, 7}, {ftExtended, 0, 19},
      {ftFloat, 10, 10}, {ftBCD, 0, 0},      {ftBCD, 12, 12},  {ftInteger, 0, 0},
  };
  for (const auto& c : cases) {
    FieldDef def = Def("f" + std::to_string(t.FieldCount()), c.type);
    def.precision = c.given;
    t.AddFieldDef(def);
    EXPECT_EQ(t.Fields().back().precision, c.expected) << FieldTypeName(c.type) << " given " << c.given;
  }
  EXPECT_EQ(t.FieldIndex("F1"), 1);
  EXPECT_EQ(t.FieldIndex("nada"), -1);
  t.ClearFieldDefs();
  EXPECT_EQ(t.FieldCount(), 0);
}

TEST(MemTableStructure, OpenCloseAndAppendRules) {
  MemTable t;
  t.AddFieldDef(Def("A", ftInteger));
  EXPECT_FALSE(t.Active());
  ExpectError([&] { t.Append(); }, "The record set is closed");
  t.Open();
  EXPECT_TRUE(t.Active());
  EXPECT_TRUE(t.Eof());
  ExpectError([&] { t.AsInteger("A"); }, "The record set has no current row");
  ExpectError([&] { t.SetValue("A", Variant::Integer(1)); }, "The record set has no row being appended");

  t.Append();
  t.SetValue(0, Variant::Integer(1));
  t.Append();  // posts the pending row first
  t.SetValue(0, Variant::Integer(2));
  EXPECT_EQ(t.AsInteger("A"), 2);  // the row being appended is the current one
  t.Post();
  t.Post();  // nothing pending: nothing happens
  ASSERT_EQ(t.RecordCount(), 2);
  EXPECT_EQ(t.RecNo(), 2);  // the cursor is on the posted row
  t.First();
  EXPECT_EQ(t.AsInteger("A"), 1);
  t.Next();
  EXPECT_EQ(t.AsInteger("A"), 2);
  t.Next();
  EXPECT_TRUE(t.Eof());
  t.Next();
  EXPECT_TRUE(t.Eof());

  t.Close();  // drops the rows, keeps the definitions
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_EQ(t.FieldCount(), 1);
  t.Open();
  EXPECT_EQ(t.RecordCount(), 0);
  t.AddFieldDef(Def("B", ftInteger));  // a new definition closes the table
  EXPECT_FALSE(t.Active());
}

// Rows of a supplier/date/value table, in insertion order.
struct Row {
  Variant data;
  const char* supplier;
  Variant value;
};

class Sorting : public ::testing::Test {
 protected:
  void Load(const std::vector<Row>& rows) {
    table.AddFieldDef(Def("T10_Data", ftDate));
    table.AddFieldDef(Def("T08_Fornecedor", ftWideString, 60));
    table.AddFieldDef(Def("Valor", ftFloat));
    table.AddFieldDef(Def("Ordem", ftInteger));
    table.Open();
    int n = 0;
    for (const Row& r : rows) {
      table.Append();
      table.SetValue("T10_Data", r.data);
      table.SetValue("T08_Fornecedor", r.supplier ? Variant::Text(r.supplier) : Variant::Null());
      table.SetValue("Valor", r.value);
      table.SetValue("Ordem", Variant::Integer(n++));
      table.Post();
    }
  }
  // The insertion numbers of the rows, in the order the cursor reads them.
  std::vector<int> Order() {
    std::vector<int> out;
    for (table.First(); !table.Eof(); table.Next()) out.push_back(static_cast<int>(table.AsInteger("Ordem")));
    return out;
  }
  MemTable table;
};

Variant Day(int d) { return Variant::DateTime(EncodeDate(2024, 3, d)); }

TEST_F(Sorting, OrdersByDateThenSupplierWithoutRegardToCase) {
  Load({
      {Day(2), "beta", Variant::Float(1)},   // 0
      {Day(1), "Gama", Variant::Float(2)},   // 1
      {Day(2), "Alfa", Variant::Float(3)},   // 2
      {Day(1), "alfa", Variant::Float(4)},   // 3
      {Day(2), "ALFA", Variant::Float(5)},   // 4: equal to row 2 without regard to case
      {Day(1), "Beta", Variant::Float(6)},   // 5
  });
  table.Next();
  table.Next();
  table.SortOn("T10_Data;T08_Fornecedor");
  EXPECT_EQ(table.RecNo(), 1);  // the cursor goes to the first row
  EXPECT_EQ(Order(), (std::vector<int>{3, 5, 1, 2, 4, 0}));
  table.SortOn(" T08_Fornecedor ; T10_Data ");  // blanks around the names do not matter
  EXPECT_EQ(Order(), (std::vector<int>{3, 2, 4, 5, 0, 1}));
  table.SortOn("");
  EXPECT_EQ(Order(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST_F(Sorting, TextComparisonFoldsAsciiAndLatinCapitalsOnly) {
  Load({
      {Day(1), "ábaco", Variant()},   // 0: U+00E1
      {Day(1), "Zebra", Variant()},   // 1
      {Day(1), "abc", Variant()},     // 2
      {Day(1), "Ébano", Variant()},   // 3: U+00C9 folds to U+00E9
      {Day(1), "ébano", Variant()},   // 4
      {Day(1), "×", Variant()},       // 5: U+00D7 is not a letter and does not fold
      {Day(1), "÷", Variant()},       // 6: U+00F7
      {Day(1), "ÁBACO", Variant()},   // 7: equal to row 0
  });
  table.SortOn("T08_Fornecedor");
  // Code points after folding: a(61) < z(7A) < ×(D7) < á(E1) < é(E9) < ÷(F7).
  EXPECT_EQ(Order(), (std::vector<int>{2, 1, 5, 0, 7, 3, 4, 6}));
  table.SortOn("T08_Fornecedor", false);  // case-sensitive: capitals first
  EXPECT_EQ(Order(), (std::vector<int>{1, 2, 7, 3, 5, 0, 4, 6}));
}

TEST_F(Sorting, NullsFirstNumbersByValue) {
  Load({
      {Day(1), "x", Variant::Float(10)},   // 0
      {Day(1), "x", Variant::Float(9)},    // 1
      {Day(1), "x", Variant::Null()},      // 2
      {Day(1), "x", Variant::Float(-1.5)}, // 3
      {Day(1), "x", Variant::Float(100)},  // 4
      {Day(1), "x", Variant::Null()},      // 5
  });
  table.SortOn("Valor");
  EXPECT_EQ(Order(), (std::vector<int>{2, 5, 3, 1, 0, 4}));
}

TEST_F(Sorting, IntegersAndFloatsCompareAsNumbers) {
  Load({
      {Day(1), "x", Variant::Integer(10)},  // 0
      {Day(1), "x", Variant::Float(9.5)},   // 1
      {Day(1), "x", Variant::Integer(2)},   // 2
  });
  table.SortOn("Valor");
  EXPECT_EQ(Order(), (std::vector<int>{2, 1, 0}));
}

TEST_F(Sorting, RowsPostedLaterTakeTheirSortedPlace) {
  Load({
      {Day(3), "c", Variant()},  // 0
      {Day(1), "a", Variant()},  // 1
  });
  table.SortOn("T08_Fornecedor");
  table.Append();
  table.SetValue("T08_Fornecedor", Variant::Text("B"));
  table.SetValue("Ordem", Variant::Integer(2));
  table.Post();
  EXPECT_EQ(table.RecNo(), 2);
  EXPECT_EQ(table.AsString("T08_Fornecedor"), "B");
  table.Append();
  table.SetValue("T08_Fornecedor", Variant::Text("a"));  // equal key: after the earlier one
  table.SetValue("Ordem", Variant::Integer(3));
  table.Post();
  EXPECT_EQ(Order(), (std::vector<int>{1, 3, 2, 0}));
  table.SortOn("");
  EXPECT_EQ(Order(), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(Sorting, UnknownFieldLeavesTheOrderUnchanged) {
  Load({{Day(2), "b", Variant()}, {Day(1), "a", Variant()}});
  table.SortOn("T08_Fornecedor");
  EXPECT_THROW(table.SortOn("Nada"), Error);
  EXPECT_EQ(Order(), (std::vector<int>{1, 0}));
}

}  // namespace
}  // namespace quelvar
