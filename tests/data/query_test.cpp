// Query: statement text, parameters, stored forms, result typing and loading.
#include "data/query.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "data/engine_error.h"
#include "formats/errors.h"
#include "temp_dir.h"

namespace quelvar {
namespace {

using enum TFieldType;
using testing::TempDir;

class QueryTest : public ::testing::Test {
 protected:
  QueryTest() : db([file = dir.File("q.db")] { return file; }), q(db) {}

  // Runs one statement on a separate query.
  void Exec(const std::string& sql) {
    Query other(db);
    other.Add(sql);
    other.ExecSQL();
  }
  void Select(const std::string& sql) {
    q.Close();
    q.ClearSQL();
    q.Add(sql);
    q.Open();
  }
  std::string ErrorOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  }

  TempDir dir;
  Database db;
  Query q;
};

TEST_F(QueryTest, LinesAreJoinedWithLineBreaks) {
  q.Add("Select 1 as a,   ");
  q.Add("       2 as b    ");
  EXPECT_EQ(q.SQLText(), "Select 1 as a,   \n       2 as b    ");
  q.Open();
  EXPECT_EQ(q.FieldByName("b").AsInteger(), 2);
  q.ClearSQL();
  EXPECT_EQ(q.SQLText(), "");
  EXPECT_TRUE(q.Active());  // clearing the text does not close the result
}

TEST_F(QueryTest, ParametersInOrderOfFirstAppearanceAndRepeatsBoundOnce) {
  q.Add("Select :p01 as a, :p00 as b,");
  q.Add("       :p01 as c");
  ASSERT_EQ(q.ParamCount(), 2);
  EXPECT_EQ(q.Param(0).Name(), "p01");
  EXPECT_EQ(q.Param(1).Name(), "p00");
  q.Param(0).AsInteger(7);
  q.Param(1).AsString("x");
  q.Open();
  EXPECT_EQ(q.FieldByName("a").AsInteger(), 7);
  EXPECT_EQ(q.FieldByName("b").AsString(), "x");
  EXPECT_EQ(q.FieldByName("c").AsInteger(), 7);
}

TEST_F(QueryTest, ParametersByNameAndTheirErrors) {
  q.Add("Select :p00 as a, :p01 as b, :p02 as c, :p03 as d");
  q.ParamByName("p03").AsInteger(3);
  q.ParamByName(":P01").AsString("um");  // colon and case do not matter
  q.Open();
  EXPECT_TRUE(q.FieldByName("a").IsNull());  // never bound: null
  EXPECT_EQ(q.FieldByName("b").AsString(), "um");
  EXPECT_TRUE(q.FieldByName("c").IsNull());
  EXPECT_EQ(q.FieldByName("d").AsInteger(), 3);
  EXPECT_EQ(ErrorOf([&] { q.ParamByName("p09"); }), "Parameter 'p09' not found");
  EXPECT_EQ(ErrorOf([&] { q.Param(4); }), "Parameter index 4 out of range (4 parameters)");
  EXPECT_EQ(ErrorOf([&] { q.Param(-1); }), "Parameter index -1 out of range (4 parameters)");
}

TEST_F(QueryTest, ClearingTheTextStartsAgainFromNullParameters) {
  q.Add("Select :p00 as a");
  q.Param(0).AsInteger(5);
  q.Open();
  EXPECT_EQ(q.FieldByName("a").AsInteger(), 5);
  // The same procedure run again: an empty statement, nothing bound yet.
  q.Close();
  q.ClearSQL();
  q.Add("Select :p00 as a");
  q.Open();
  EXPECT_TRUE(q.FieldByName("a").IsNull());
  // Adding lines keeps the values of the parameters that remain.
  q.Param(0).AsInteger(8);
  q.Add(", :p01 as b");
  q.Open();
  EXPECT_EQ(q.FieldByName("a").AsInteger(), 8);
  EXPECT_TRUE(q.FieldByName("b").IsNull());
}

TEST_F(QueryTest, StoredFormsOfEveryBinding) {
  Exec("create table v(k integer primary key, v)");
  struct Case {
    const char* what;
    std::function<void(QueryParam&)> bind;
    const char* storageClass;
    const char* text;  // CAST(v AS TEXT); empty for null
  } cases[] = {
      {"text", [](QueryParam& p) { p.AsString("São João"); }, "text", "São João"},
      {"empty text", [](QueryParam& p) { p.AsString(""); }, "text", ""},
      {"integer", [](QueryParam& p) { p.AsInteger(42); }, "integer", "42"},
      {"64-bit integer", [](QueryParam& p) { p.AsInteger(9007199254740993); }, "integer", "9007199254740993"},
      {"true", [](QueryParam& p) { p.AsBoolean(true); }, "integer", "1"},
      {"false", [](QueryParam& p) { p.AsBoolean(false); }, "integer", "0"},
      {"real", [](QueryParam& p) { p.AsFloat(2.5); }, "real", "2.5"},
      {"date", [](QueryParam& p) { p.AsDate(EncodeDate(2023, 12, 31)); }, "text", "2023-12-31"},
      {"date of a date-time", [](QueryParam& p) { p.AsDate(EncodeDateTime(2023, 12, 31, 10, 0, 0)); }, "text",
       "2023-12-31"},
      {"date-time, no time", [](QueryParam& p) { p.AsDateTime(EncodeDate(2023, 12, 31)); }, "text", "2023-12-31"},
      {"date-time, time only", [](QueryParam& p) { p.AsDateTime(EncodeDateTime(1899, 12, 30, 8, 30, 15, 250)); },
       "text", "08:30:15.250"},
      {"date-time", [](QueryParam& p) { p.AsDateTime(EncodeDateTime(2023, 12, 31, 8, 30, 15, 250)); }, "text",
       "2023-12-31 08:30:15.250"},
      {"cleared", [](QueryParam& p) {
         p.AsInteger(1);
         p.Clear();
       }, "null", ""},
  };
  for (const auto& c : cases) {
    Query insert(db);
    insert.Add("insert into v(v) values (:p00)");
    c.bind(insert.Param(0));
    insert.ExecSQL();
    EXPECT_EQ(insert.RowsAffected(), 1);
    Select("Select typeof(v) as cls, CAST(v AS TEXT) as txt from v where k = last_insert_rowid()");
    EXPECT_EQ(q.FieldByName("cls").AsString(), c.storageClass) << c.what;
    EXPECT_EQ(q.FieldByName("txt").AsString(), c.text) << c.what;
  }
}

TEST_F(QueryTest, TodayAsDateAndAsDateTimeStoreTheSameText) {
  const TDateTime today = EncodeDate(2024, 5, 17);
  Query a(db), b(db);
  a.Add("Select :p00 as v");
  a.Param(0).AsDate(today);
  a.Open();
  b.Add("Select :p00 as v");
  b.Param(0).AsDateTime(today);
  b.Open();
  EXPECT_EQ(a.FieldByName("v").AsString(), "2024-05-17");
  EXPECT_EQ(b.FieldByName("v").AsString(), "2024-05-17");
}

TEST_F(QueryTest, LastInsertRowIdIsALargeintKey) {
  Exec("create table t(k integer primary key, nome text)");
  Exec("insert into t(k, nome) values (41, 'a')");
  db.StartTransaction();
  q.Add("insert into t(nome) values (:p00)");
  q.Param(0).AsString("b");
  q.ExecSQL();
  q.Close();
  q.ClearSQL();
  q.Add("Select last_insert_rowid() as qUltimoNumero ");
  q.Open();
  db.Commit();
  ASSERT_EQ(q.FieldCount(), 1);
  EXPECT_EQ(q.Fields()[0].name, "qUltimoNumero");
  EXPECT_EQ(FieldTypeName(q.Fields()[0].type), "ftLargeint");
  EXPECT_EQ(q.FieldByName("qUltimoNumero").AsInteger(), 42);
}

struct ColumnCase {
  const char* sql;
  TFieldType type;
  int size;
};

TEST_F(QueryTest, ExpressionColumnsAreTypedFromTheFirstRow) {
  Exec("create table n(k integer primary key, v integer)");
  Exec("insert into n(v) values (1), (2), (3)");
  const ColumnCase cases[] = {
      {"Select 1 as c", ftLargeint, 0},
      {"Select 2.5 as c", ftFloat, 0},
      {"Select 'a' as c", ftWideString, 32767},
      {"Select x'00ff' as c", ftBlob, 0},
      {"Select null as c", ftWideString, 32767},
      {"Select 1 as c where 0", ftWideString, 32767},  // no rows
      {"Select sum(v) as c from n", ftLargeint, 0},
      {"Select sum(v) * 0.5 as c from n", ftFloat, 0},
      {"Select sum(v) as c from n where 0", ftWideString, 32767},  // the sum of nothing is null
      {"Select case when k = 1 then null else v end as c from n order by k", ftWideString, 32767},
      {"Select case when k = 1 then 'x' else v end as c from n order by k", ftWideString, 32767},
      {"Select case when k = 1 then 9 else 'x' end as c from n order by k", ftLargeint, 0},
  };
  for (const auto& c : cases) {
    Select(c.sql);
    ASSERT_EQ(q.FieldCount(), 1) << c.sql;
    EXPECT_EQ(FieldTypeName(q.Fields()[0].type), FieldTypeName(c.type)) << c.sql;
    EXPECT_EQ(q.Fields()[0].size, c.size) << c.sql;
  }
}

TEST_F(QueryTest, LaterRowsKeepTheirValuesWhateverTheFirstRowTyped) {
  Exec("create table n(k integer primary key, v integer)");
  Exec("insert into n(v) values (1), (2), (3)");
  Select("Select case when k = 1 then null else v end as c from n order by k");
  MemTable t;
  q.LoadInto(t);
  EXPECT_EQ(FieldTypeName(t.Fields()[0].type), "ftWideString");
  std::vector<std::string> texts;
  for (t.First(); !t.Eof(); t.Next()) texts.push_back(t.AsString("c"));
  EXPECT_EQ(texts, (std::vector<std::string>{"", "2", "3"}));
}

TEST_F(QueryTest, TableColumnsAreTypedFromTheirDeclaredTypes) {
  Exec("create table d(k integer primary key autoincrement, i integer, r real, t text, b boolean, "
       "dt date, dtt datetime, tm time, v varchar(20), n numeric(10,2), f float(10), semtipo, "
       "obrig text not null default '')");
  Exec("insert into d(i) values (1)");
  const ColumnCase cases[] = {
      {"Select k from d", ftAutoInc, 0},       {"Select i from d", ftInteger, 0},
      {"Select r from d", ftFloat, 0},         {"Select t from d", ftWideMemo, 0},
      {"Select b from d", ftBoolean, 0},       {"Select dt from d", ftDate, 0},
      {"Select dtt from d", ftDateTime, 0},    {"Select tm from d", ftTime, 0},
      {"Select v from d", ftString, 20},       {"Select n from d", ftBCD, 0},
      {"Select f from d", ftFloat, 0},         {"Select semtipo from d", ftWideString, 32767},
      {"Select i as outro from d", ftInteger, 0},
      {"Select * from (select t from d)", ftWideMemo, 0},
      {"Select i + 0 as c from d", ftLargeint, 0},  // an expression: the first row's value
  };
  for (const auto& c : cases) {
    Select(c.sql);
    ASSERT_EQ(q.FieldCount(), 1) << c.sql;
    EXPECT_EQ(FieldTypeName(q.Fields()[0].type), FieldTypeName(c.type)) << c.sql;
    EXPECT_EQ(q.Fields()[0].size, c.size) << c.sql;
  }
  Select("Select rowid from d");
  EXPECT_EQ(FieldTypeName(q.Fields()[0].type), "ftAutoInc");  // the row id is the key column here
  Exec("create table semchave(x text)");
  Exec("insert into semchave values ('a')");
  Select("Select rowid, oid as o, _rowid_ from semchave");
  for (const FieldDef& f : q.Fields()) EXPECT_EQ(FieldTypeName(f.type), "ftLargeint") << f.name;
}

TEST_F(QueryTest, BooleansThroughAColumnAndThroughAnExpression) {
  Exec("create table b(k integer primary key, f BOOLEAN NOT NULL DEFAULT 0)");
  for (bool value : {true, false}) {
    Query insert(db);
    insert.Add("insert into b(f) values (:p00)");
    insert.Param(0).AsBoolean(value);
    insert.ExecSQL();
  }
  Select("Select f from b order by k");
  EXPECT_EQ(FieldTypeName(q.Fields()[0].type), "ftBoolean");
  EXPECT_EQ(q.FieldByName("f").Value().kind(), Variant::Kind::Boolean);
  EXPECT_TRUE(q.FieldByName("f").AsBoolean());
  q.Next();
  EXPECT_FALSE(q.FieldByName("f").AsBoolean());

  Select("Select f * 1 as g from b order by k");
  EXPECT_EQ(FieldTypeName(q.Fields()[0].type), "ftLargeint");
  EXPECT_EQ(q.FieldByName("g").Value().kind(), Variant::Kind::Integer);
  EXPECT_EQ(q.FieldByName("g").AsInteger(), 1);
  q.Next();
  EXPECT_EQ(q.FieldByName("g").AsInteger(), 0);
}

TEST_F(QueryTest, DatesStoredAsTextReadBackAsDates) {
  Exec("create table d(k integer primary key, dt date, dtt datetime, tm time, ts timestamp)");
  Query insert(db);
  insert.Add("insert into d(dt, dtt, tm, ts) values (:p00, :p01, :p02, :p03)");
  insert.Param(0).AsDate(EncodeDate(2023, 12, 31));
  insert.Param(1).AsDateTime(EncodeDateTime(2024, 1, 15, 8, 30, 15, 250));
  insert.Param(2).AsDateTime(EncodeDateTime(1899, 12, 30, 8, 30, 0));
  insert.Param(3).AsDateTime(EncodeDate(2024, 2, 29));
  insert.ExecSQL();
  Exec("insert into d(dt, dtt, tm, ts) values ('abc', 45000, x'00', '2024-02-30')");  // not dates
  Select("Select dt, dtt, tm, ts from d order by k");
  MemTable t;
  q.LoadInto(t);
  struct Case {
    const char* field;
    TDateTime value;
  } cases[] = {
      {"dt", EncodeDate(2023, 12, 31)},
      {"dtt", EncodeDateTime(2024, 1, 15, 8, 30, 15, 250)},
      {"tm", EncodeDateTime(1899, 12, 30, 8, 30, 0)},
      {"ts", EncodeDate(2024, 2, 29)},
  };
  t.First();
  for (const auto& c : cases) {
    EXPECT_EQ(t.Value(c.field).kind(), Variant::Kind::DateTime) << c.field;
    EXPECT_NEAR(t.AsDateTime(c.field), c.value, 1e-9) << c.field;
  }
  EXPECT_EQ(t.AsString("dt"), "31/12/2023");
  EXPECT_EQ(t.AsString("dtt"), "15/01/2024 08:30:15");
  EXPECT_EQ(t.AsString("tm"), "08:30:00");
  t.Next();  // what cannot be read as a date is left null, without an error
  for (const auto& c : cases) EXPECT_TRUE(t.IsNull(c.field)) << c.field;
}

TEST_F(QueryTest, LoadIntoReplacesTheRecordSet) {
  Exec("create table m(k integer primary key autoincrement, nome text not null, preco real, "
       "custo numeric(12,3), peso float(10))");
  Exec("insert into m(nome, preco, custo, peso) values ('b', 1.5, 2.25, 3), ('a', 2, null, 4), ('c', null, 1, 5)");
  MemTable t;
  t.AddFieldDef(FieldDef{"antigo", ftInteger});
  t.Open();
  t.Append();
  t.Post();
  t.SortOn("antigo");

  Select("Select k, nome, preco, custo, peso from m order by k");
  q.Next();  // the query's own cursor does not matter
  q.LoadInto(t);
  EXPECT_TRUE(q.Active());  // the query stays open
  ASSERT_EQ(t.FieldCount(), 5);
  EXPECT_TRUE(t.Active());
  EXPECT_EQ(t.RecordCount(), 3);
  EXPECT_EQ(t.RecNo(), 1);

  struct Expected {
    const char* name;
    TFieldType type;
    int size, precision, scale;
    bool required;
  } expected[] = {
      {"k", ftAutoInc, 0, 0, 0, false},
      {"nome", ftWideMemo, 0, 0, 0, true},
      {"preco", ftFloat, 0, 15, 0, false},
      {"custo", ftBCD, 0, 12, 3, false},
      {"peso", ftFloat, 0, 15, 0, false},  // a float always has its type's default precision
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const FieldDef& f = t.Fields()[i];
    const auto& e = expected[i];
    EXPECT_EQ(f.name, e.name);
    EXPECT_EQ(FieldTypeName(f.type), FieldTypeName(e.type)) << e.name;
    EXPECT_EQ(f.size, e.size) << e.name;
    EXPECT_EQ(f.precision, e.precision) << e.name;
    EXPECT_EQ(f.scale, e.scale) << e.name;
    EXPECT_EQ(f.required, e.required) << e.name;
    EXPECT_FALSE(f.inKey) << e.name;          // no key flag in the record set
    EXPECT_FALSE(f.autoIncrement) << e.name;  // nor an auto-increment mark
  }
  EXPECT_TRUE(q.Fields()[0].inKey);
  EXPECT_TRUE(q.Fields()[0].autoIncrement);

  std::vector<std::string> names;
  for (t.First(); !t.Eof(); t.Next()) names.push_back(t.AsString("nome"));
  EXPECT_EQ(names, (std::vector<std::string>{"b", "a", "c"}));  // the result's order; no earlier sort
  t.First();
  EXPECT_DOUBLE_EQ(t.AsFloat("preco"), 1.5);
  EXPECT_DOUBLE_EQ(t.AsFloat("custo"), 2.25);
  EXPECT_EQ(t.AsInteger("k"), 1);
}

TEST_F(QueryTest, ALoadedTableKeepsItsRowsAfterTheQueryMovesOn) {
  Exec("create table m(k integer, nome text)");
  Exec("insert into m values (1, 'um'), (2, 'dois')");
  MemTable t;
  Select("Select k, nome from m order by k");
  q.LoadInto(t);
  q.Close();  // the rows are shared with the table, not lost with the query
  Select("Select 9 as k, 'outro' as nome");
  t.Append();  // changing the table does not reach the query
  t.SetValue("k", Variant::Integer(3));
  t.Post();
  std::vector<std::string> names;
  for (t.First(); !t.Eof(); t.Next()) names.push_back(std::to_string(t.AsInteger("k")) + t.AsString("nome"));
  EXPECT_EQ(names, (std::vector<std::string>{"1um", "2dois", "3"}));
  EXPECT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.FieldByName("nome").AsString(), "outro");
}

TEST_F(QueryTest, LoadingAClosedQueryIsAnError) {
  MemTable t;
  EXPECT_EQ(ErrorOf([&] { q.LoadInto(t); }), "The query is not open");
}

TEST_F(QueryTest, WalkingAResult) {
  Select("Select 1 as n union all select 2 union all select 3");
  EXPECT_EQ(q.RecordCount(), 3);
  std::vector<std::int64_t> seen;
  for (q.First(); !q.Eof(); q.Next()) seen.push_back(q.FieldByName("N").AsInteger());
  EXPECT_EQ(seen, (std::vector<std::int64_t>{1, 2, 3}));
  // Past the end, and on an empty result, fields read as null.
  EXPECT_TRUE(q.FieldByName("n").IsNull());
  Select("Select 1 as n where 0");
  EXPECT_EQ(q.RecordCount(), 0);
  EXPECT_EQ(q.FieldByName("n").AsInteger(), 0);
  EXPECT_EQ(q.FieldByName("n").AsString(), "");
  EXPECT_EQ(ErrorOf([&] { q.FieldByName("nada"); }), "Field 'nada' not found");
  q.Close();
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(ErrorOf([&] { q.FieldByName("n"); }), "The query is not open");
}

TEST_F(QueryTest, StatementTextErrors) {
  Exec("create table t(k integer primary key, v)");
  struct Case {
    std::vector<std::string> lines;
    bool open;
    std::string message;
  } cases[] = {
      {{}, false, "The statement text is empty"},
      {{"   ", ""}, true, "The statement text is empty"},
      {{"-- nada"}, false, "The statement text is empty"},
      {{"insert into t(v) values (1);", "insert into t(v) values (2)"}, false,
       "The statement text holds more than one statement"},
      {{"select 1; select 2"}, true, "The statement text holds more than one statement"},
      {{"select 1; garbage"}, true, "The statement text holds more than one statement"},
      {{"insert into t(v) values (3)"}, true, "The statement returns no result set"},
      {{"selec 1"}, true, "[SQLite] near \"selec\": syntax error"},
      {{"Select * from nada"}, true, "[SQLite] no such table: nada"},
      {{"insert into t(k) values (1), (1)"}, false, "[SQLite] UNIQUE constraint failed: t.k"},
  };
  for (const auto& c : cases) {
    q.Close();
    q.ClearSQL();
    for (const auto& line : c.lines) q.Add(line);
    EXPECT_EQ(ErrorOf([&] { c.open ? q.Open() : q.ExecSQL(); }), c.message) << q.SQLText();
    EXPECT_FALSE(q.Active());
  }
  Select("Select count(*) as n from t");
  EXPECT_EQ(q.FieldByName("n").AsInteger(), 0);  // nothing of the refused statements ran

  // A trailing semicolon or comment is one statement.
  Select("Select 1 as n; -- fim");
  EXPECT_EQ(q.FieldByName("n").AsInteger(), 1);
}

TEST_F(QueryTest, RowsAffected) {
  Exec("create table t(v)");
  struct Case {
    const char* sql;
    std::int64_t rows;
  } cases[] = {
      {"insert into t values (1), (2), (3)", 3},
      {"update t set v = v + 1 where v > 1", 2},
      {"select * from t", 0},
      {"create table u(x)", 0},
      {"delete from t where v = 99", 0},
      {"delete from t", 3},
  };
  for (const auto& c : cases) {
    q.Close();
    q.ClearSQL();
    q.Add(c.sql);
    q.ExecSQL();
    EXPECT_EQ(q.RowsAffected(), c.rows) << c.sql;
  }
}

// A value its field's type cannot hold (a text in a number column written by
// another program) is left empty in the record set, and counted per field;
// values the type can hold are kept as they are.
TEST_F(QueryTest, ValuesTheFieldTypeCannotHoldAreLeftEmptyAndCounted) {
  Exec("create table m(n INTEGER, r REAL, s SMALLINT, t TEXT)");
  Exec("insert into m values (1, 1.5, 2, 'a'), ('abc', 'x,y', '12', 'b'), (' 7 ', '2,5', x'01', 3)");
  struct Case {
    const char* sql;
    std::vector<std::string> texts;  // AsString of each row of the first column, "<null>" for null
    std::vector<std::pair<std::string, std::size_t>> emptied;
  } cases[] = {
      {"select column1 as X from (values (1), ('abc'))", {"1", "<null>"}, {{"X", 1}}},
      {"select column1 as X from (values (1.5), ('abc'), ('2,5'))", {"1,5", "<null>", "2,5"}, {{"X", 1}}},
      {"select column1 as X from (values ('abc'), (1))", {"abc", "1"}, {}},
      {"select n as X, r, s, t from m", {"1", "<null>", "7"}, {{"X", 1}, {"r", 1}, {"s", 1}}},
      {"select n as X from m where n <> 'abc'", {"1", "7"}, {}},
  };
  for (const Case& c : cases) {
    Select(c.sql);
    MemTable table;
    q.LoadInto(table);
    std::vector<std::string> texts;
    for (table.First(); !table.Eof(); table.Next())
      texts.push_back(table.IsNull("X") ? "<null>" : table.AsString("X"));
    EXPECT_EQ(texts, c.texts) << c.sql;
    EXPECT_EQ(table.EmptiedValues(), c.emptied) << c.sql;
  }
}

TEST_F(QueryTest, EngineErrorsCarryTheirCode) {
  Exec("create table t(k integer primary key)");
  q.Add("insert into t values (1), (1)");
  try {
    q.ExecSQL();
    ADD_FAILURE() << "no error";
  } catch (const EngineError& e) {
    EXPECT_EQ(e.Code(), SQLITE_CONSTRAINT);
  }
}

}  // namespace
}  // namespace quelvar
