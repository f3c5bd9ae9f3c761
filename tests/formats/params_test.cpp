// Parameters and parameter lists: typed access and their JSON texts.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "formats/errors.h"
#include "formats/json_text.h"
#include "formats/params.h"
#include "formats/wire_values.h"

namespace quelvar {
namespace {

using enum TObjectValue;

// A declared parameter as the event catalogue creates it.
std::unique_ptr<TJSONParam> Declared(std::string_view name, TObjectDirection dir, TObjectValue type, bool encoded,
                                     TEncodeSelect enc = TEncodeSelect::esASCII) {
  auto p = std::make_unique<TJSONParam>(enc);
  p->SetParamName(name);
  p->SetDirection(dir);
  p->SetValueType(type);
  p->SetEncoded(encoded);
  return p;
}

TEST(ParamJson, WorkedExamples) {
  auto resposta = Declared("Resposta", TObjectDirection::odOUT, ovString, true);
  EXPECT_EQ(resposta->ToJSON(),
            R"({"ObjectType":"toParam", "Direction":"odOUT", "Encoded":"true", "ValueType":"ovString", "RESPOSTA":null})");
  resposta->SetAsString("OK");
  EXPECT_EQ(resposta->ToJSON(),
            R"({"ObjectType":"toParam", "Direction":"odOUT", "Encoded":"true", "ValueType":"ovString", "RESPOSTA":"T0s="})");

  auto numfunc = Declared("NumFunc", TObjectDirection::odOUT, ovInteger, true);
  numfunc->SetAsInteger(15);
  EXPECT_EQ(numfunc->ToJSON(),
            R"({"ObjectType":"toParam", "Direction":"odOUT", "Encoded":"false", "ValueType":"ovInteger", "NUMFUNC":15})");

  auto when = Declared("Data", TObjectDirection::odOUT, ovString, true);
  when->SetAsDateTime(EncodeDateTime(2024, 1, 15, 10, 30, 0));
  EXPECT_EQ(when->GetAsString(), "3914476200");
  EXPECT_EQ(when->ToJSON(),
            R"({"ObjectType":"toParam", "Direction":"odOUT", "Encoded":"false", "ValueType":"ovDateTime", "DATA":"3914476200"})");
  EXPECT_DOUBLE_EQ(when->GetAsDate(), EncodeDateTime(2024, 1, 15, 10, 30, 0));
}

TEST(ParamJson, EmptyStringIsNullOnlyOnANewParameter) {
  auto p = Declared("Resposta", TObjectDirection::odOUT, ovString, true);
  p->SetAsString("");
  EXPECT_TRUE(p->IsNull());
  EXPECT_NE(p->ToJSON().find("\"RESPOSTA\":null}"), std::string::npos);
  p->SetAsString("x");
  p->SetAsString("");
  EXPECT_FALSE(p->IsNull());
  EXPECT_NE(p->ToJSON().find("\"RESPOSTA\":\"\"}"), std::string::npos);
  p->Clear();
  EXPECT_TRUE(p->IsNull());
}

TEST(ParamJson, TypedSettersAndTheirTexts) {
  struct Case {
    void (*set)(TJSONParam&);
    const char* tail;  // ValueType and value members
    const char* encoded;
  } cases[] = {
      {[](TJSONParam& p) { p.SetAsBoolean(true); }, R"("ValueType":"ovBoolean", "P":true})", "false"},
      {[](TJSONParam& p) { p.SetAsFloat(12.5); }, R"("ValueType":"ovFloat", "P":"12D5"})", "false"},
      {[](TJSONParam& p) { p.SetAsCurrency(-0.25); }, R"("ValueType":"ovFloat", "P":"-0D25"})", "false"},
      {[](TJSONParam& p) { p.SetAsLargeInt(-12345678901); }, R"("ValueType":"ovLargeint", "P":-12345678901})", "false"},
      {[](TJSONParam& p) { p.SetAsShortInt(-3); }, R"("ValueType":"ovShortint", "P":-3})", "false"},
      {[](TJSONParam& p) { p.SetAsDate(EncodeDate(2024, 1, 15)); }, R"("ValueType":"ovDateTime", "P":"3914438400"})", "false"},
      {[](TJSONParam& p) { p.SetAsString("a\"b/c"); }, R"("ValueType":"ovString", "P":"YSJiL2M="})", "true"},
      {[](TJSONParam& p) { p.SetAsObject("{\"x\":1}"); }, R"("ValueType":"ovObject", "P":"eyJ4IjoxfQ=="})", "true"},
  };
  for (const auto& c : cases) {
    auto p = Declared("p", TObjectDirection::odOUT, ovString, true);
    c.set(*p);
    EXPECT_EQ(p->ToJSON(), std::string(R"({"ObjectType":"toParam", "Direction":"odOUT", "Encoded":")") + c.encoded +
                               "\", " + c.tail);
  }
}

TEST(ParamJson, UnencodedStringIsEscapedAndAsciiStored) {
  auto p = Declared("p", TObjectDirection::odOUT, ovString, false);
  p->SetAsString("São \"x\"");
  EXPECT_EQ(p->GetAsString(), "S?o \"x\"");  // esASCII stores "?" for every non-ASCII unit
  EXPECT_EQ(p->ToJSON(),
            R"({"ObjectType":"toParam", "Direction":"odOUT", "Encoded":"false", "ValueType":"ovString", "P":"S?o \"x\""})");
  auto enc = Declared("p", TObjectDirection::odOUT, ovString, true);
  enc->SetAsString("São");
  EXPECT_EQ(enc->GetAsString(), "São");  // the Base64 form survives the 7-bit store
}

TEST(ParamJson, FromJsonReadsPositionallyAndKeepsTheRawValue) {
  TJSONParam p(TEncodeSelect::esASCII);
  p.FromJSON(R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":"true", "ValueType":"ovString", "FILTRO":"U8OjbyBKb8Ojbw=="})");
  EXPECT_EQ(p.ParamName(), "filtro");
  EXPECT_EQ(p.Direction(), TObjectDirection::odIN);
  EXPECT_TRUE(p.Encoded());
  EXPECT_EQ(p.GetAsString(), "São João");
  // Written back with the lower-case key and the value as it arrived.
  EXPECT_EQ(p.ToJSON(),
            R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":"true", "ValueType":"ovString", "filtro":"U8OjbyBKb8Ojbw=="})");

  TDWParams list;
  auto owned = std::make_unique<TJSONParam>();
  owned->FromJSON(R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":"true", "ValueType":"ovString", "FILTRO":"YWJj"})");
  list.Add(std::move(owned));
  ASSERT_NE(list.GetRecName("Filtro"), nullptr);
  EXPECT_EQ(list.GetRecName("Filtro")->GetAsString(), "abc");
}

TEST(ParamJson, BooleanReadings) {
  struct Case {
    const char* encoded;
    const char* value;
    bool expected;
  } cases[] = {
      {"false", "true", true}, {"false", "1", true},    {"false", "\"1\"", true}, {"false", "yes", false},
      {"false", "TRUE", true}, {"false", "null", false}, {"true", "true", false},  // "true" is Base64-decoded first
  };
  for (const auto& c : cases) {
    TJSONParam p;
    p.FromJSON(std::string(R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":")") + c.encoded +
               R"(", "ValueType":"ovBoolean", "DESATIVADOS":)" + c.value + "}");
    EXPECT_EQ(p.GetAsBoolean(), c.expected) << c.encoded << " " << c.value;
  }
}

TEST(ParamJson, ExtractValueTextCases) {
  struct Case {
    const char* text;
    const char* value;
  } cases[] = {
      {R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":"true", "ValueType":"ovString", "FILTRO": "YWJj"})", R"( "YWJj)"},
      {R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":"false", "ValueType":"ovInteger", "N":15})", "15"},
      {R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":"false", "ValueType":"ovString", "S":"a}b"})", "a}b"},
      {R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":"false", "ValueType":"ovString", "S":"}"})", "}"},
      {R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":"false", "ValueType":"ovString", "S":})", ""},
      {R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":"false", "ValueType":"ovString", "S":null})", "null"},
      {"no colon at all", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractValueText(c.text), c.value) << c.text;
}

TEST(ParamJson, MembersInAnotherOrderAreStillReadByPosition) {
  TJSONParam p;
  p.FromJSON(R"({"Direction":"odIN", "ObjectType":"toParam", "Encoded":"false", "ValueType":"ovString", "X":"v"})");
  EXPECT_EQ(p.TypeObject(), TTypeObject::toObject);      // "odIN" is no kind name
  EXPECT_EQ(p.Direction(), TObjectDirection::odOUT);     // "toParam" is no direction name
  TJSONParam q;
  q.FromJSON(R"({"ObjectType":"toParam", "Direction":"odINOUT", "Encoded":"false", "ValueType":"ovNothing", "X":1})");
  EXPECT_EQ(q.ValueType(), ovSingle);  // unknown type name
}

TEST(ParamJson, FromJsonErrorsAndNonObjects) {
  TJSONParam p;
  p.SetParamName("keep");
  p.SetAsString("v");
  EXPECT_THROW(p.FromJSON(R"({"ObjectType":"toParam", "Direction")"), json::JsonSyntaxError);
  EXPECT_EQ(p.ParamName(), "KEEP");
  EXPECT_EQ(p.GetAsString(), "v");
  p.FromJSON(R"(  {"ObjectType":"toParam"})");  // leading blank: no members, nothing changes
  p.FromJSON("");
  EXPECT_EQ(p.GetAsString(), "v");
}

TEST(ParamJson, CrLfPairsAreRemovedBeforeReading) {
  TJSONParam p;
  p.FromJSON("{\"ObjectType\":\"toParam\",\r\n \"Direction\":\"odIN\", \"Encoded\":\"false\", \"ValueType\":\"ovString\", \"S\":\"a\r\nb\"}");
  EXPECT_EQ(p.GetAsString(), "ab");
}

TEST(ParamValues, TypedGettersAndConversionErrors) {
  TJSONParam p;
  EXPECT_EQ(p.GetAsInteger(), 0);  // null reads as 0 and false
  EXPECT_FALSE(p.GetAsBoolean());
  EXPECT_THROW(p.GetAsFloat(), ConversionError);
  EXPECT_THROW(p.GetAsDate(), ConversionError);
  p.SetAsString("12");
  EXPECT_EQ(p.GetAsInteger(), 12);
  p.SetAsString("12x");
  try {
    p.GetAsInteger();
    ADD_FAILURE();
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'12x' is not a valid integer value");
  }
  p.FromJSON(R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":"false", "ValueType":"ovFloat", "V":"12D5"})");
  EXPECT_DOUBLE_EQ(p.GetAsFloat(), 12.5);
  p.FromJSON(R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":"false", "ValueType":"ovFloat", "V":12.5})");
  EXPECT_THROW(p.GetAsFloat(), ConversionError);  // a full stop is not the server's decimal mark
}

TEST(ParamList, LookupDirectionsAndMissingParameters) {
  TDWParams list;
  list.vEncoding = TEncodeSelect::esASCII;
  list.Add(Declared("Tabela", TObjectDirection::odIN, ovString, true));
  list.Add(Declared("Resposta", TObjectDirection::odOUT, ovString, true));
  list.Add(Declared("Tabela", TObjectDirection::odINOUT, ovString, true));
  EXPECT_EQ(list.GetRecName("tabela"), list.GetRec(0));  // first match
  EXPECT_EQ(list.GetRecName("nada"), nullptr);
  EXPECT_EQ(list.GetRec(3), nullptr);
  EXPECT_EQ(list.GetRec(-1), nullptr);
  EXPECT_EQ(list.CountOutParams(), 2);
  EXPECT_TRUE(list.ParamsReturn());
  try {
    list.Item("Nada").GetAsString();
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Invalid DWParam");
  }
  list.Delete(1);
  list.Delete(list.GetRec(1));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_FALSE(list.ParamsReturn());
}

TEST(ParamList, ListFormRoundTrip) {
  TDWParams out;
  out.Add(Declared("Nome", TObjectDirection::odIN, ovString, true));
  out.GetRec(0)->SetAsString("São João");
  out.Add(Declared("Quantos", TObjectDirection::odOUT, ovInteger, false));
  out.GetRec(1)->SetAsInteger(7);
  out.Add(Declared("Ignorado", TObjectDirection::odIN, ovUnknown, false));
  const std::string text = out.ToJSON();
  EXPECT_EQ(text,
            R"({"ObjectType":"toParam", "Direction":"odIN", "Encoded":"true", "ValueType":"ovString", "NOME":"U8OjbyBKb8Ojbw=="}, )"
            R"({"ObjectType":"toParam", "Direction":"odOUT", "Encoded":"false", "ValueType":"ovInteger", "QUANTOS":7})");

  TDWParams in;
  in.FromJSON(text);
  ASSERT_EQ(in.Count(), 2);
  EXPECT_EQ(in.GetRec(0)->ParamName(), "NOME");
  EXPECT_EQ(in.GetRecName("nome")->GetAsString(), "São João");
  EXPECT_EQ(in.GetRecName("quantos")->GetAsInteger(), 7);
  EXPECT_EQ(in.GetRecName("quantos")->Direction(), TObjectDirection::odOUT);

  TDWParams copy;
  copy.CopyFrom(in);
  EXPECT_EQ(copy.ToJSON(), in.ToJSON());
}

TEST(ParamList, AddCopiesTheListSettings) {
  TDWParams list;
  list.vEncoding = TEncodeSelect::esASCII;
  list.SetCriptOptions(true, "k");
  TJSONParam& p = list.AddNew();
  EXPECT_EQ(p.vEncoding, TEncodeSelect::esASCII);
  EXPECT_TRUE(p.vCripto.use);
  EXPECT_EQ(p.vCripto.key, "k");
}

TEST(ValueHolder, OwnJsonTextAndLoad) {
  TJSONValue v;
  v.vEncoded = true;
  v.LoadFromJSON(R"({"ObjectType":"toObject", "Direction":"odIN", "Encoded":"true", "ValueType":"ovString", "TAGJSON":"RFdTZXJ2ZXJFdmVudHNUMDRfTUFURQ=="})");
  EXPECT_FALSE(v.IsNull());
  EXPECT_EQ(v.vtagName, "tagjson");
  EXPECT_EQ(v.vObjectDirection, TObjectDirection::odIN);
  EXPECT_EQ(v.Value(), "DWServerEventsT04_MATE");
  EXPECT_EQ(v.ToJSON(),
            R"({"ObjectType":"toObject", "Direction":"odIN", "Encoded":"true", "ValueType":"ovString", "tagjson":"RFdTZXJ2ZXJFdmVudHNUMDRfTUFURQ=="})");

  TJSONValue plain;  // Encoded flag off: stored as it came
  plain.LoadFromJSON(R"({"ObjectType":"toDataset", "Direction":"odIN", "Encoded":"true", "ValueType":"ovString", "T":"[abc]"})");
  EXPECT_EQ(plain.vTypeObject, TTypeObject::toDataset);
  EXPECT_EQ(plain.Value(), "abc");
}

}  // namespace
}  // namespace quelvar
