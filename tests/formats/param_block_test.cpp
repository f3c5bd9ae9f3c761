// The binary form of parameter lists.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "formats/errors.h"
#include "formats/param_block.h"
#include "formats/wire_values.h"

namespace quelvar {
namespace {

using enum TObjectValue;

TJSONParam& AddParam(TDWParams& list, std::string_view name, TObjectDirection dir, TObjectValue type, bool encoded) {
  TJSONParam& p = list.AddNew();
  p.SetParamName(name);
  p.SetDirection(dir);
  p.SetValueType(type);
  p.SetEncoded(encoded);
  return p;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

TEST(ParamBlock, EmptyListIsTheSixteenByteHeader) {
  TDWParams list;
  EXPECT_EQ(SaveToStream(list, TDWParamExpType::tdwpxt_All), Bytes({6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ParamBlock, StringRecordIsPlainAnsiText) {
  TDWParams list;
  AddParam(list, "n", TObjectDirection::odIN, ovString, true).SetAsString("São João");
  const std::string block = SaveToStream(list, TDWParamExpType::tdwpxt_All);
  const std::string record = Bytes({1, 0, 0, 0, 0, 0, 0, 0}) + "N" + Bytes({0, 0, 0, 0}) /*odIN*/ + Bytes({1, 0}) +
                             Bytes({0, 0, 0, 0}) /*jmEnvelope*/ + Bytes({1, 0, 0, 0}) /*toParam*/ +
                             Bytes({1, 0, 0, 0}) /*ovString*/ + Bytes({8, 0, 0, 0, 0, 0, 0, 0}) + "S\xE3o Jo\xE3o";
  EXPECT_EQ(block, Bytes({6, 0, 0, 0, 1, 0, 0, 0, static_cast<int>(record.size()), 0, 0, 0, 0, 0, 0, 0}) + record);
}

TEST(ParamBlock, SelectionOutLeavesInputParametersOut) {
  TDWParams list;
  AddParam(list, "a", TObjectDirection::odIN, ovInteger, false).SetAsInteger(1);
  AddParam(list, "b", TObjectDirection::odOUT, ovInteger, false).SetAsInteger(2);
  const std::string block = SaveToStream(list, TDWParamExpType::tdwpxt_OUT);
  EXPECT_EQ(block[4], 1);
  TDWParams back;
  LoadFromStream(back, block, TDWParamExpType::tdwpxt_All);
  ASSERT_EQ(back.Count(), 1);
  EXPECT_EQ(back.GetRec(0)->ParamName(), "B");
}

TEST(ParamBlock, EveryValueLayoutRoundTrips) {
  TDWParams list;
  AddParam(list, "s", TObjectDirection::odIN, ovString, true).SetAsString("São João");
  AddParam(list, "i", TObjectDirection::odOUT, ovInteger, false).SetAsInteger(-42);
  AddParam(list, "l", TObjectDirection::odINOUT, ovLargeint, false).SetAsLargeInt(12345678901);
  AddParam(list, "b", TObjectDirection::odIN, ovBoolean, false).SetAsBoolean(true);
  AddParam(list, "d", TObjectDirection::odIN, ovDateTime, false).SetAsDateTime(EncodeDateTime(2024, 1, 15, 10, 30, 0));
  AddParam(list, "f", TObjectDirection::odIN, ovFloat, false).SetAsFloat(12.5);
  AddParam(list, "w", TObjectDirection::odIN, ovWord, false).SetAsWord(65535);
  TJSONParam& blob = AddParam(list, "x", TObjectDirection::odIN, ovBlob, true);
  blob.SetValue("AAEC/w==", true);  // bytes 00 01 02 FF
  AddParam(list, "m", TObjectDirection::odIN, ovMemo, true).SetValue("memo has no value field", true);

  TDWParams back;
  LoadFromStream(back, SaveToStream(list, TDWParamExpType::tdwpxt_All), TDWParamExpType::tdwpxt_All);
  ASSERT_EQ(back.Count(), 9);
  EXPECT_EQ(back.Item("s").GetAsString(), "São João");
  EXPECT_TRUE(back.Item("s").Encoded());
  EXPECT_EQ(back.Item("i").GetAsInteger(), -42);
  EXPECT_EQ(back.Item("i").Direction(), TObjectDirection::odOUT);
  EXPECT_EQ(back.Item("l").GetAsLargeInt(), 12345678901);
  EXPECT_TRUE(back.Item("b").GetAsBoolean());
  EXPECT_EQ(back.Item("d").GetAsString(), "3914476200");
  EXPECT_DOUBLE_EQ(back.Item("f").GetAsFloat(), 12.5);
  EXPECT_EQ(back.Item("w").GetAsInteger(), 65535);
  EXPECT_EQ(back.Item("x").ValueType(), ovBlob);
  EXPECT_EQ(back.Item("x").GetAsString(), "AAEC/w==");
  EXPECT_TRUE(back.Item("m").IsNull());
}

TEST(ParamBlock, ReadingUpdatesExistingNamesAndAppliesTheSelection) {
  TDWParams source;
  AddParam(source, "Tabela", TObjectDirection::odIN, ovString, true).SetAsString("novo");
  AddParam(source, "Resposta", TObjectDirection::odOUT, ovString, true).SetAsString("x");
  TDWParams target;
  AddParam(target, "TABELA", TObjectDirection::odIN, ovString, true).SetAsString("velho");
  LoadFromStream(target, SaveToStream(source, TDWParamExpType::tdwpxt_All), TDWParamExpType::tdwpxt_IN);
  ASSERT_EQ(target.Count(), 1);  // the odOUT record is dropped again
  EXPECT_EQ(target.Item("tabela").GetAsString(), "novo");
}

TEST(ParamBlock, MalformedBlocksRaiseInsteadOfReadingGarbage) {
  TDWParams list;
  AddParam(list, "s", TObjectDirection::odIN, ovString, true).SetAsString("abc");
  const std::string good = SaveToStream(list, TDWParamExpType::tdwpxt_All);

  struct Case {
    std::string block;
    const char* message;
  } cases[] = {
      {"", "Invalid Stream..."},
      {good.substr(0, 10), "Invalid Stream..."},
      {good + "x", "Invalid Stream..."},
      {good.substr(0, good.size() - 1), "Invalid Stream..."},
      // header claims two records, the data holds one
      {good.substr(0, 4) + Bytes({2, 0, 0, 0}) + good.substr(8), "Stream read error"},
      // string length far beyond the data
      {good.substr(0, good.size() - 11) + Bytes({0x7f, 0, 0, 0, 0, 0, 0, 0x7f}) + "abc", "Stream read error"},
  };
  for (const auto& c : cases) {
    TDWParams target;
    try {
      LoadFromStream(target, c.block, TDWParamExpType::tdwpxt_All);
      ADD_FAILURE() << "no error for a block of " << c.block.size() << " bytes";
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  // Out-of-range ordinals are refused.
  std::string badType = good;
  badType[16 + 8 + 1 + 4 + 2 + 4 + 4] = 99;
  TDWParams target;
  EXPECT_THROW(LoadFromStream(target, badType, TDWParamExpType::tdwpxt_All), Error);
}

}  // namespace
}  // namespace quelvar
