// Result-set JSON: the text written from a record set and the record set read back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "data/mem_table.h"
#include "formats/base64.h"
#include "data/dataset_json.h"
#include "formats/errors.h"
#include "formats/json_text.h"
#include "formats/params.h"
#include "formats/wire_values.h"
#include "dataset_reference.h"

namespace quelvar {
namespace {

using enum TFieldType;

const std::string kWorkedHolder =
    R"({"ObjectType":"toDataset", "Direction":"odINOUT", "Encoded":"true", "ValueType":"ovDataSet", "temp":[)"
    R"({"fields":[{"Field":"T06_NumGrupo", "Type":"ftInteger", "Primary":"N", "Required":"N", "Size":0, "Precision":0, "ReadOnly":"N", "Autogeneration":"N"}, )"
    R"({"Field":"T06_Grupo", "Type":"ftWideMemo", "Primary":"N", "Required":"N", "Size":0, "Precision":0, "ReadOnly":"N", "Autogeneration":"N"}], "buildside":"D"}, )"
    R"({"lines":[{"line0":[15, "UGFyYWZ1c28="]}]}]})";

MemTable GroupTable() {
  MemTable t;
  t.AddFieldDef({.name = "T06_NumGrupo", .type = ftInteger});
  t.AddFieldDef({.name = "T06_Grupo", .type = ftWideMemo});
  t.Open();
  return t;
}

std::string HolderText(MemTable& table, TEncodeSelect encoding = TEncodeSelect::esASCII, bool encoded = true) {
  TJSONValue holder;
  holder.vEncoding = encoding;
  LoadFromDataset(holder, "temp", table, encoded);
  return holder.ToJSON();
}

// The values part of the only row of a one-field table.
std::string RowOf(TFieldType type, Variant v, bool encoded = true) {
  MemTable t;
  t.AddFieldDef({.name = "F", .type = type});
  t.Open();
  t.Append();
  t.SetValue(0, std::move(v));
  t.Post();
  const std::string text = DatasetText(t, encoded, true);
  const auto start = text.find("\"line0\":[") + 9;
  return text.substr(start, text.rfind("]}]}") - start);
}

TEST(DatasetWriter, WorkedExampleByteForByte) {
  MemTable t = GroupTable();
  t.Append();
  t.SetValue("T06_NumGrupo", Variant::Integer(15));
  t.SetValue("T06_Grupo", Variant::Text("Parafuso"));
  t.Post();
  const std::string holder = HolderText(t);
  EXPECT_EQ(holder, kWorkedHolder);
  EXPECT_EQ(holder.size(), 453u);

  TJSONParam tabela(TEncodeSelect::esASCII);
  tabela.SetParamName("Tabela");
  tabela.SetDirection(TObjectDirection::odOUT);
  tabela.SetEncoded(true);
  tabela.SetAsString(holder);
  const std::string prefix = R"({"ObjectType":"toParam", "Direction":"odOUT", "Encoded":"true", "ValueType":"ovString", "TABELA":")";
  const std::string text = tabela.ToJSON();
  ASSERT_EQ(text.substr(0, prefix.size()), prefix);
  EXPECT_EQ(text.substr(prefix.size(), text.size() - prefix.size() - 2), EncodeText(holder));
  EXPECT_EQ(text.size() - prefix.size() - 2, 604u);
  EXPECT_EQ(tabela.GetAsString(), holder);
}

TEST(DatasetWriter, EmptyResultKeepsTheHeader) {
  MemTable t = GroupTable();
  const std::string holder = HolderText(t);
  EXPECT_EQ(holder.substr(0, holder.find("{\"lines\"")), kWorkedHolder.substr(0, kWorkedHolder.find("{\"lines\"")));
  EXPECT_EQ(holder.substr(holder.find("{\"lines\"")), "{\"lines\":[]}]}");
}

TEST(DatasetWriter, ClosedTableIsOpenedAndRowsNumberedFromZero) {
  MemTable t = GroupTable();
  t.Close();
  EXPECT_NE(HolderText(t).find("{\"lines\":[]}"), std::string::npos);
  for (int i = 0; i < 3; ++i) {
    t.Append();
    t.SetValue(0, Variant::Integer(i));
    t.Post();
  }
  const std::string text = DatasetText(t, true, true);
  EXPECT_NE(text.find(R"({"lines":[{"line0":[0, null]}, {"line1":[1, null]}, {"line2":[2, null]}]})"), std::string::npos);
}

TEST(DatasetWriter, ValueFormsByFieldType) {
  struct Case {
    TFieldType type;
    Variant value;
    const char* written;
  } cases[] = {
      {ftInteger, Variant(), "null"},
      {ftInteger, Variant::Integer(7), "7"},
      {ftLargeint, Variant::Integer(-12345678901), "-12345678901"},
      {ftAutoInc, Variant::Integer(7), "\"7\""},
      {ftWord, Variant::Integer(7), "\"7\""},
      {ftFloat, Variant::Float(12.5), "\"12D5\""},
      {ftCurrency, Variant::Float(0.1 + 0.2), "\"0D3\""},
      {ftDate, Variant::DateTime(EncodeDate(2024, 1, 15)), "\"3914438400\""},
      {ftBoolean, Variant::Boolean(true), "true"},
      {ftWideMemo, Variant(), "null"},
      {ftWideMemo, Variant::Text(""), "\"\""},
      {ftMemo, Variant::Text("São João"), "\"U8OjbyBKb8Ojbw==\""},
      {ftWideString, Variant::Text("São João"), "\"U8OjbyBKb8Ojbw==\""},
      {ftBlob, Variant::Bytes(std::string("\x00\x01\x02\xFF", 4)), "\"AAEC/w==\""},
  };
  for (const auto& c : cases) EXPECT_EQ(RowOf(c.type, c.value), c.written) << FieldTypeName(c.type);
  // Without the Encoded argument only the plain string types change; memos stay Base64.
  EXPECT_EQ(RowOf(ftWideString, Variant::Text("ação, 10%"), false), "\"a\\u00E7\\u00E3o\\u002C 10\\u0025\"");
  EXPECT_EQ(RowOf(ftWideMemo, Variant::Text("São João"), false), "\"U8OjbyBKb8Ojbw==\"");
}

TEST(DatasetWriter, FieldDefinitionForms) {
  MemTable t;
  t.AddFieldDef({.name = "Valor", .type = ftExtended});
  t.AddFieldDef({.name = "Preço", .type = ftBCD, .precision = 18, .scale = 4});
  t.AddFieldDef({.name = "Nome", .type = ftWideString, .size = 50, .required = true, .readOnly = true});
  t.Open();
  const std::string text = HolderText(t);
  EXPECT_NE(text.find(R"({"Field":"Valor", "Type":"ftFloat", "Primary":"N", "Required":"N", "Size":19, "Precision":0, )"),
            std::string::npos);
  EXPECT_NE(text.find(R"({"Field":"Pre?o", "Type":"ftBCD", "Primary":"N", "Required":"N", "Size":18, "Precision":4, )"),
            std::string::npos);
  EXPECT_NE(text.find(R"({"Field":"Nome", "Type":"ftWideString", "Primary":"N", "Required":"S", "Size":50, "Precision":0, "ReadOnly":"S", )"),
            std::string::npos);
  // Under esUtf8 the name is kept.
  EXPECT_NE(HolderText(t, TEncodeSelect::esUtf8).find("\"Preço\""), std::string::npos);
}

// Awkward rows for comparing the streaming writer with the first one: every
// field type, values of the kind the type holds and of other kinds, nulls,
// texts with accents, carriage returns, quotes, backslashes, 4-byte
// characters and broken UTF-8, large and tiny numbers, and field names
// beyond ASCII. Row r takes value r % n of each column's list.
MemTable AwkwardTable(int rows) {
  struct Column {
    const char* name;
    TFieldType type;
    std::vector<Variant> values;
  };
  const std::string broken("ab\xE3\x81\xFF\xC3", 6);
  const std::vector<Variant> texts = {
      Variant::Text("Parafuso"), Variant::Text("São João"), Variant::Text("linha\r\noutra\rmais"),
      Variant::Text("aspas \"x\" \\ barra / <tag>"), Variant::Text(""), Variant::Text("😀 çÇ"), Variant::Text(broken),
      Variant::Null(), Variant(), Variant::Integer(-42), Variant::Float(2.5), Variant::DateTime(EncodeDate(2024, 1, 15)),
      Variant::Boolean(true), Variant::Bytes(std::string("\x00\xFF", 2))};
  const std::vector<Column> columns = {
      {"T04_NumMaterial", ftInteger, {Variant::Integer(1), Variant::Integer(-7), Variant::Null(), Variant::Float(2.5),
                                      Variant::Text("12"), Variant::Boolean(true)}},
      {"Grande", ftLargeint, {Variant::Integer(INT64_MAX), Variant::Integer(INT64_MIN), Variant::Integer(0)}},
      {"Pequeno", ftSmallint, {Variant::Integer(-32768), Variant()}},
      {"Valor", ftFloat, {Variant::Float(0.1 + 0.2), Variant::Float(1.5e20), Variant::Float(-1e-7), Variant::Float(1e308),
                          Variant::Float(-0.0), Variant::Float(12.5), Variant::Integer(123456789012345678),
                          Variant::Text("12,5"), Variant::Boolean(false), Variant::Float(std::nan("")),
                          Variant::Float(-INFINITY), Variant::Float(4.9e-324), Variant::Float(999999999999999.9)}},
      {"Moeda", ftCurrency, {Variant::Float(1.0 / 3), Variant::Null()}},
      {"Decimal", ftBCD, {Variant::Float(-0.005)}},
      {"Estendido", ftExtended, {Variant::Float(123456.789e-3)}},
      {"Simples", ftSingle, {Variant::Float(1e15), Variant::Float(1e-5)}},
      {"Ativo", ftBoolean, {Variant::Boolean(true), Variant::Boolean(false), Variant::Null(), Variant::Integer(0),
                            Variant::Float(2), Variant::Text("TRUE")}},
      {"Nome", ftWideString, texts},
      {"Código", ftString, texts},
      {"Fixo", ftFixedChar, texts},
      {"Observação", ftWideMemo, texts},
      {"Memo", ftMemo, texts},
      {"Formatado", ftFmtMemo, texts},
      {"Foto", ftBlob, {Variant::Bytes(std::string("\x00\x01\x02\xFF", 4)), Variant::Bytes(""), Variant::Text("txt"),
                        Variant::Integer(5), Variant::Null()}},
      {"Bytes", ftVarBytes, {Variant::Bytes("abc")}},
      {"Data", ftDate, {Variant::DateTime(EncodeDate(2024, 1, 15)), Variant::DateTime(-1.5), Variant::Float(45000.25),
                        Variant::Integer(2), Variant::Text("3,5"), Variant::Null()}},
      {"Hora", ftTime, {Variant::DateTime(0.5)}},
      {"Quando", ftDateTime, {Variant::DateTime(EncodeDateTime(2024, 1, 15, 10, 30, 0, 600))}},
      {"Marca", ftTimeStamp, {Variant::DateTime(1e6)}},
      {"Chave", ftAutoInc, {Variant::Integer(7), Variant::Float(2.5)}},
      {"Palavra", ftWord, texts},
      {"Guid", ftGuid, texts},
      {"Desconhecido", ftUnknown, texts},
  };
  MemTable t;
  for (const Column& c : columns) t.AddFieldDef({.name = c.name, .type = c.type});
  t.Open();
  for (int r = 0; r < rows; ++r) {
    t.Append();
    for (std::size_t c = 0; c < columns.size(); ++c)
      t.SetValue(static_cast<int>(c), columns[c].values[static_cast<std::size_t>(r) % columns[c].values.size()]);
    t.Post();
  }
  return t;
}

TEST(DatasetWriter, StreamingWriterGivesTheFirstWritersBytes) {
  for (int rows : {0, 1, 37, 900}) {  // 900 rows are several pieces of the streaming writer
    MemTable t = AwkwardTable(rows);
    for (bool encoded : {true, false})
      for (bool utf8 : {true, false})
        EXPECT_EQ(DatasetText(t, encoded, utf8), reference::DatasetText(t, encoded, utf8)) << rows << encoded << utf8;

    for (TEncodeSelect encoding : {TEncodeSelect::esASCII, TEncodeSelect::esUtf8, TEncodeSelect::esANSI}) {
      SCOPED_TRACE(testing::Message() << rows << " rows, encoding " << static_cast<int>(encoding));
      const std::string expected = reference::HolderText(t, encoding);
      EXPECT_EQ(HolderText(t, encoding), expected);

      EncodedText streamed = DatasetHolderText(t, "temp", true, encoding);
      EXPECT_EQ(streamed.Text(), expected);
      // The parameter carrying it: the same text, value and reads as when it
      // is stored from the plain text.
      TJSONParam plain(encoding), direct(encoding);
      for (TJSONParam* p : {&plain, &direct}) {
        p->SetParamName("Tabela");
        p->SetDirection(TObjectDirection::odOUT);
      }
      plain.SetAsString(expected);
      direct.SetAsString(std::move(streamed));
      EXPECT_EQ(direct.ToJSON(), plain.ToJSON());
      EXPECT_EQ(direct.GetAsString(), plain.GetAsString());
      EXPECT_FALSE(direct.IsNull());
      std::string appended = "x";
      direct.AppendJSON(appended);
      EXPECT_EQ(appended, "x" + plain.ToJSON());
    }
    EXPECT_EQ(t.RecNo(), 1);  // the cursor is back on the first row
  }
}

TEST(DatasetWriter, AValueItsFieldCannotShowFailsBothWritersAlike) {
  const struct {
    TFieldType type;
    Variant value;
  } cases[] = {
      {ftInteger, Variant::Text("abc")},
      {ftFloat, Variant::Text("12.5")},
      {ftDate, Variant::Text("ontem")},
      {ftBoolean, Variant::Text("talvez")},
  };
  for (const auto& c : cases) {
    MemTable t;
    t.AddFieldDef({.name = "F", .type = c.type});
    t.Open();
    for (int r = 0; r < 100; ++r) {  // the bad value comes after a full piece
      t.Append();
      t.SetValue(0, r == 99 ? c.value : Variant());
      t.Post();
    }
    std::string expected, actual;
    try {
      reference::HolderText(t, TEncodeSelect::esASCII);
    } catch (const std::exception& e) {
      expected = e.what();
    }
    try {
      DatasetHolderText(t, "temp", true, TEncodeSelect::esASCII);
    } catch (const std::exception& e) {
      actual = e.what();
    }
    EXPECT_FALSE(expected.empty()) << FieldTypeName(c.type);
    EXPECT_EQ(actual, expected) << FieldTypeName(c.type);
  }
}

TEST(EncodedTextParam, StoresLikeThePlainTextInEveryCase) {
  const std::string nullBase64("\x9E\xE9\x65", 3);  // its Base64 is the four letters null
  for (const std::string& text : {std::string(), std::string("Olá\r\n"), nullBase64, std::string(5000, 'x')}) {
    for (bool encodedParam : {true, false}) {
      for (bool wasNull : {true, false}) {
        SCOPED_TRACE(testing::Message() << text.size() << " bytes, encoded " << encodedParam << ", null " << wasNull);
        TJSONParam plain(TEncodeSelect::esASCII), direct(TEncodeSelect::esASCII);
        for (TJSONParam* p : {&plain, &direct}) {
          p->SetParamName("Resposta");
          p->SetDirection(TObjectDirection::odOUT);
          p->SetEncoded(encodedParam);
          if (!wasNull) p->SetAsString("antes");
        }
        EncodedText value;
        for (std::size_t at = 0; at < text.size(); at += 7) value.Write(std::string_view(text).substr(at, 7));
        value.Finish();
        EXPECT_EQ(value.Text(), text);
        plain.SetAsString(text);
        direct.SetAsString(std::move(value));
        EXPECT_EQ(direct.ToJSON(), plain.ToJSON());
        EXPECT_EQ(direct.IsNull(), plain.IsNull());
        EXPECT_EQ(direct.GetAsString(), plain.GetAsString());
      }
    }
  }
}

TEST(DatasetReader, WorkedExampleReadsBack) {
  MemTable t;
  TJSONValue holder;
  WriteToDataset(holder, kWorkedHolder, t);
  ASSERT_TRUE(t.Active());
  ASSERT_EQ(t.FieldCount(), 2);
  EXPECT_EQ(t.Fields()[0].name, "T06_NumGrupo");
  EXPECT_EQ(t.Fields()[0].type, ftInteger);
  EXPECT_EQ(t.Fields()[1].type, ftWideMemo);
  ASSERT_EQ(t.RecordCount(), 1);
  EXPECT_EQ(t.AsInteger("t06_numgrupo"), 15);
  EXPECT_EQ(t.AsString("T06_Grupo"), "Parafuso");
  EXPECT_TRUE(holder.vEncoded);
  EXPECT_EQ(holder.vtagName, "temp");
  EXPECT_EQ(holder.vTypeObject, TTypeObject::toDataset);
}

// A holder text of one row whose fields and values are given.
std::string OneRow(const std::string& defs, const std::string& values, const char* encoded = "true") {
  return std::string(R"({"ObjectType":"toDataset", "Direction":"odINOUT", "Encoded":")") + encoded +
         R"(", "ValueType":"ovDataSet", "temp":[{"fields":[)" + defs + R"(], "buildside":"D"}, {"lines":[{"line0":[)" +
         values + "]}]}]}";
}

std::string Def(const char* name, const char* type, int size = 0) {
  return std::string(R"({"Field":")") + name + R"(", "Type":")" + type + R"(", "Primary":"N", "Required":"N", "Size":)" +
         std::to_string(size) + R"(, "Precision":0, "ReadOnly":"N", "Autogeneration":"N"})";
}

TEST(DatasetReader, ValueAssignmentTable) {
  struct Case {
    const char* type;
    const char* value;
    const char* encoded;
    bool isNull;
    const char* asText;  // the field read as text when not null
  } cases[] = {
      {"ftFloat", "\"12D5\"", "true", false, "12,5"},
      {"ftFloat", "\"12,5\"", "true", false, "12,5"},
      {"ftDate", "\"0\"", "true", true, ""},
      {"ftDate", "\"null\"", "true", true, ""},
      {"ftDate", "\"3914438400\"", "true", false, "15/01/2024"},
      {"ftBoolean", "\"1\"", "true", false, "True"},
      {"ftBoolean", "\"TRUE\"", "true", false, "True"},
      {"ftBoolean", "true", "true", false, "True"},
      {"ftBoolean", "\"0\"", "true", false, "False"},
      {"ftBoolean", "\"sim\"", "true", false, "False"},
      {"ftWideString", R"("a\\nb")", "false", false, "a\nb"},
      {"ftWideString", "\"YWJj\"", "true", false, "abc"},
      {"ftWideMemo", "\"YWJj\"", "false", false, "abc"},  // memos are always Base64
      {"ftWideString", "\"null\"", "true", false, ""},
      {"ftWideString", "\"NULL\"", "true", true, ""},
      {"ftWideString", "null", "true", true, ""},
      {"ftShortint", "\"5\"", "true", true, ""},
      {"ftFixedWideChar", "\"YQ==\"", "true", true, ""},
      {"ftInteger", "\"42\"", "true", false, "42"},
      {"ftLargeint", "12345678901", "true", false, "12345678901"},
      {"ftNoSuchType", "\"YWJj\"", "true", false, "abc"},  // unknown type names read as ftString
  };
  for (const auto& c : cases) {
    MemTable t;
    TJSONValue holder;
    WriteToDataset(holder, OneRow(Def("F", c.type), c.value, c.encoded), t);
    ASSERT_EQ(t.RecordCount(), 1) << c.type << " " << c.value;
    EXPECT_EQ(t.IsNull("F"), c.isNull) << c.type << " " << c.value;
    if (!c.isNull) {
      EXPECT_EQ(t.AsString("F"), c.asText) << c.type << " " << c.value;
    }
  }
}

TEST(DatasetReader, StructureRules) {
  MemTable t;
  TJSONValue holder;
  // Duplicate names in another case give one field; a short row leaves the rest null.
  WriteToDataset(holder, OneRow(Def("A", "ftInteger") + ", " + Def("a", "ftInteger") + ", " + Def("B", "ftInteger"), "1"), t);
  ASSERT_EQ(t.FieldCount(), 2);
  EXPECT_EQ(t.AsInteger("A"), 1);
  EXPECT_TRUE(t.IsNull("B"));
  // Size becomes the precision of float types and the size of the others.
  WriteToDataset(holder, OneRow(Def("X", "ftFloat", 12) + ", " + Def("S", "ftString", 30) + ", " + Def("E", "ftExtended", 9), "null, null, null"), t);
  EXPECT_EQ(t.Fields()[0].precision, 12);
  EXPECT_EQ(t.Fields()[1].size, 30);
  EXPECT_EQ(t.Fields()[2].size, 9);
  // Primary and Autogeneration marks.
  const std::string keyed =
      R"({"Field":"K", "Type":"ftInteger", "Primary":" s ", "Required":"N", "Size":0, "Precision":0, "ReadOnly":"N", "Autogeneration":"S"})";
  WriteToDataset(holder, OneRow(keyed, "1"), t);
  EXPECT_TRUE(t.Fields()[0].inKey);
  EXPECT_TRUE(t.Fields()[0].autoIncrement);
}

TEST(DatasetReader, ByteOrderMarksAndLineBreaksAreRemoved) {
  MemTable t;
  TJSONValue holder;
  std::string text = "\xEF\xBB\xBF" + kWorkedHolder;
  text.insert(text.find("\"lines\""), "\r\n");
  WriteToDataset(holder, text, t);
  EXPECT_EQ(t.AsString("T06_Grupo"), "Parafuso");
}

TEST(DatasetReader, FailuresAndTextsThatChangeNothing) {
  MemTable t = GroupTable();
  TJSONValue holder;
  WriteToDataset(holder, "", t);
  WriteToDataset(holder, "{}", t);  // no "[": nothing happens
  EXPECT_TRUE(t.Active());
  EXPECT_EQ(t.FieldCount(), 2);

  struct Case {
    std::string text;
    std::string message;
  } cases[] = {
      {"[]", "Invalid JSON Data..."},
      {" " + kWorkedHolder, "Invalid JSON Data..."},
      {R"({"ObjectType":"toDataset", "Direction":"odINOUT", "x":[1]})", "Null key"},
      {R"({"ObjectType":"toDataset", "Direction":"odINOUT", "Encoded":"true", "ValueType":"ovDataSet", "temp":"[x]"})",
       R"(TJSONObject["temp"] is not a TJSONArray.)"},
      {OneRow(Def("F", "ftFloat"), "12.5"), "'12.5' is not a valid floating point value"},
      {OneRow(Def("F", "ftInteger"), "\"x\""), "'x' is not a valid integer value"},
      {OneRow(R"({"Field":"F", "Type":"ftInteger", "Primary":"N", "Required":"N", "Size":"big"})", "1"),
       "'big' is not a valid integer value"},
      {OneRow(Def("F", "ftWideString"), R"("\\uZZZZ")", "false"), "Invalid unicode \\uZZZZ"},
  };
  for (const auto& c : cases) {
    MemTable target;
    try {
      WriteToDataset(holder, c.text, target);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), c.message) << c.text;
    }
  }
}

}  // namespace
}  // namespace quelvar
