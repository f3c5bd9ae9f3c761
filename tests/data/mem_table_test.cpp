// MemTable: definitions, appending, cursor, typed reads and sorting.
#include "data/mem_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "data/row_store.h"
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


// The comparison the sort was first built on: every comparison decodes both
// texts (ill-formed bytes read one at a time as U+FFFD) and folds ASCII and
// Latin-1 capitals. The sort on keys computed once per row must order rows
// exactly as this does.
namespace reference {

char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) return ++i, b0;
  int extra = 0;
  char32_t cp = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) extra = 1, cp = b0 & 0x1F;
  else if (b0 >= 0xE0 && b0 <= 0xEF) extra = 2, cp = b0 & 0x0F;
  else if (b0 >= 0xF0 && b0 <= 0xF4) extra = 3, cp = b0 & 0x07;
  else return ++i, 0xFFFD;
  if (i + static_cast<std::size_t>(extra) >= s.size()) return ++i, 0xFFFD;
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) return ++i, 0xFFFD;
    cp = (cp << 6) | (b & 0x3F);
  }
  if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return ++i, 0xFFFD;
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

char32_t Fold(char32_t cp) {
  if ((cp >= U'A' && cp <= U'Z') || (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7)) return cp + 32;
  return cp;
}

int Rank(const Variant& v) {
  switch (v.kind()) {
    case Variant::Kind::Text: return 2;
    case Variant::Kind::Bytes: return 3;
    case Variant::Kind::Null:
    case Variant::Kind::Unassigned: return 0;
    default: return 1;
  }
}

int Compare(const Variant& a, const Variant& b, bool caseInsensitive) {
  if (Rank(a) != Rank(b)) return Rank(a) < Rank(b) ? -1 : 1;
  if (Rank(a) == 1) {
    if (a.kind() == Variant::Kind::Integer && b.kind() == Variant::Kind::Integer)
      return a.asInt64() < b.asInt64() ? -1 : (a.asInt64() > b.asInt64() ? 1 : 0);
    auto number = [](const Variant& v) {
      return v.kind() == Variant::Kind::Boolean ? (v.asBoolean() ? 1.0 : 0.0) : v.asDouble();
    };
    const double x = number(a), y = number(b);
    if (std::isnan(x) || std::isnan(y)) return std::isnan(x) == std::isnan(y) ? 0 : (std::isnan(x) ? -1 : 1);
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (Rank(a) == 3) return a.bytes() < b.bytes() ? -1 : (a.bytes() == b.bytes() ? 0 : 1);
  if (Rank(a) == 0) return 0;
  const std::string &x = a.bytes(), &y = b.bytes();
  std::size_t i = 0, j = 0;
  while (i < x.size() && j < y.size()) {
    char32_t p = NextCodePoint(x, i), q = NextCodePoint(y, j);
    if (caseInsensitive) p = Fold(p), q = Fold(q);
    if (p != q) return p < q ? -1 : 1;
  }
  return i < x.size() ? 1 : (j < y.size() ? -1 : 0);
}

}  // namespace reference

TEST(SortKeys, OrderRowsAsComparingTheValuesEachTimeDid) {
  const std::vector<Variant> values = {
      Variant::Text("abc"), Variant::Text("ABC"), Variant::Text("abd"), Variant::Text("ab"), Variant::Text(""),
      Variant::Text("ábaco"), Variant::Text("ÁBACO"), Variant::Text("Ébano"), Variant::Text("×"), Variant::Text("÷"),
      Variant::Text("ÿ"), Variant::Text("Ÿ"), Variant::Text("😀"), Variant::Text("\xEF\xBF\xBD"),  // U+FFFD itself
      Variant::Text(std::string("\xFF", 1)), Variant::Text(std::string("a\xC3", 2)),        // bad and cut short
      Variant::Text(std::string("\xC0\x80", 2)), Variant::Text(std::string("\xED\xA0\x80", 3)),  // overlong, surrogate
      Variant::Text(std::string("\xE3\x81\x41", 3)), Variant::Text(std::string("\xF4\x90\x80\x80", 4)),
      Variant::Text(std::string("\x80z", 2)), Variant::Text(std::string("a\0b", 3)), Variant::Text("Z"),
      Variant::Integer(3), Variant::Integer(-2), Variant::Integer(INT64_MAX), Variant::Float(2.5),
      Variant::Float(std::nan("")), Variant::Float(-INFINITY), Variant::Boolean(true), Variant::Boolean(false),
      Variant::DateTime(45000), Variant::Null(), Variant(), Variant::Bytes(std::string("\x00\xFF", 2)),
      Variant::Bytes("abc"), Variant::Bytes(""),
  };
  for (bool caseInsensitive : {true, false}) {
    MemTable t;
    t.AddFieldDef(Def("Chave", ftWideString));
    t.AddFieldDef(Def("Outra", ftWideString));
    t.AddFieldDef(Def("Ordem", ftInteger));
    t.Open();
    std::vector<std::pair<Variant, Variant>> rows;
    for (std::size_t i = 0; i < values.size() * 3; ++i) {  // every value three times, with a second key
      rows.emplace_back(values[(i * 7) % values.size()], values[(i * 5) % values.size()]);
      t.Append();
      t.SetValue(0, rows.back().first);
      t.SetValue(1, rows.back().second);
      t.SetValue(2, Variant::Integer(static_cast<std::int64_t>(i)));
      t.Post();
    }
    std::vector<std::size_t> expected(rows.size());
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = i;
    std::stable_sort(expected.begin(), expected.end(), [&](std::size_t a, std::size_t b) {
      int c = reference::Compare(rows[a].first, rows[b].first, caseInsensitive);
      if (c == 0) c = reference::Compare(rows[a].second, rows[b].second, caseInsensitive);
      return c < 0;
    });
    t.SortOn("Chave;Outra", caseInsensitive);
    std::vector<std::size_t> actual;
    for (t.First(); !t.Eof(); t.Next()) actual.push_back(static_cast<std::size_t>(t.AsInteger("Ordem")));
    EXPECT_EQ(actual, expected) << "case-insensitive " << caseInsensitive;

    // A row posted afterwards takes the place the reference gives it.
    t.Append();
    t.SetValue(0, Variant::Text("ABD"));
    t.SetValue(2, Variant::Integer(-1));
    t.Post();
    std::size_t place = 0;
    for (t.First(); !t.Eof() && t.AsInteger("Ordem") != -1; t.Next()) ++place;
    std::size_t wanted = 0;
    for (std::size_t i : expected) {
      int c = reference::Compare(rows[i].first, Variant::Text("ABD"), caseInsensitive);
      if (c == 0) c = reference::Compare(rows[i].second, Variant::Null(), caseInsensitive);
      if (c <= 0) ++wanted;
    }
    EXPECT_EQ(place, wanted) << "case-insensitive " << caseInsensitive;
  }
}

TEST(SharedRows, ATableOpenedOnRowsCopiesThemOnlyWhenItChanges) {
  auto rows = std::make_shared<RowStore>(2);
  rows->AddText("b");
  rows->AddInteger(1);
  rows->EndRow();
  rows->AddText("a");
  rows->AddNull();
  rows->EndRow();
  MemTable first, second;
  for (MemTable* t : {&first, &second}) {
    t->AddFieldDef(Def("Nome", ftWideString));
    t->AddFieldDef(Def("N", ftInteger));
  }
  first.OpenOn(rows);
  second.OpenOn(rows);
  second.SortOn("Nome");
  EXPECT_EQ(first.AsString("Nome"), "b");  // a sort of one table leaves the other's order alone
  EXPECT_EQ(second.AsString("Nome"), "a");
  EXPECT_TRUE(second.IsNull("N"));

  second.Append();
  second.SetValue("Nome", Variant::Text("c"));
  second.Post();
  EXPECT_EQ(second.RecordCount(), 3);
  EXPECT_EQ(first.RecordCount(), 2);  // the shared rows did not change
  EXPECT_EQ(rows->Rows(), 2u);

  MemTable wrong;
  wrong.AddFieldDef(Def("Nome", ftWideString));
  EXPECT_THROW(wrong.OpenOn(rows), Error);  // two columns for one field
}

}  // namespace
}  // namespace quelvar
