#include "formats/json_text.h"

#include "formats/json_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quelvar::json {
namespace {

// The one value inside "[<token>]".
Value SoleElement(const std::string& token) {
  Value array = Parse("[" + token + "]");
  EXPECT_EQ(array.kind, Kind::Array);
  EXPECT_EQ(array.elements.size(), 1u) << token;
  return array.elements.empty() ? Value{} : array.elements[0];
}

std::string SyntaxErrorOf(const std::string& text) {
  try {
    Wrapper::Of(text);
  } catch (const JsonSyntaxError& e) {
    return e.what();
  }
  return "<no error>";
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Absent: return "Absent";
    case Kind::Null: return "Null";
    case Kind::Boolean: return "Boolean";
    case Kind::Integer: return "Integer";
    case Kind::Float: return "Float";
    case Kind::String: return "String";
    case Kind::Object: return "Object";
    case Kind::Array: return "Array";
  }
  return "?";
}

// ---------------------------------------------------------------------------
// Bare tokens

struct TokenCase {
  const char* token;
  Kind kind;
  const char* text;
  bool wide;
};

class BareTokenTest : public ::testing::TestWithParam<TokenCase> {};

TEST_P(BareTokenTest, ReadsKindAndText) {
  const TokenCase& c = GetParam();
  Value v = SoleElement(c.token);
  EXPECT_STREQ(KindName(v.kind), KindName(c.kind)) << c.token;
  EXPECT_EQ(v.asText(), c.text) << c.token;
  EXPECT_EQ(v.wideInteger, c.wide) << c.token;
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, BareTokenTest,
    ::testing::Values(
        TokenCase{"true", Kind::Boolean, "true", false},
        TokenCase{"TRUE", Kind::Boolean, "true", false},
        TokenCase{"fAlSe", Kind::Boolean, "false", false},
        TokenCase{"NuLL", Kind::Null, "null", false},
        TokenCase{"0", Kind::Integer, "0", false},
        TokenCase{"-0", Kind::Integer, "0", false},
        TokenCase{"+7", Kind::Integer, "7", false},
        TokenCase{"-12", Kind::Integer, "-12", false},
        TokenCase{"0123", Kind::Integer, "83", false},
        TokenCase{"09", Kind::Float, "9", false},
        TokenCase{"08.5", Kind::Float, "8.5", false},
        TokenCase{"0e5", Kind::Float, "0", false},
        TokenCase{"0x1F", Kind::Integer, "31", false},
        TokenCase{"0X1f", Kind::Integer, "31", false},
        TokenCase{"0xFFFFFFFF", Kind::Integer, "4294967295", true},
        TokenCase{"0x7FFFFFFFFFFFFFFF", Kind::Integer, "9223372036854775807", true},
        TokenCase{"0xZZ", Kind::String, "0xZZ", false},
        TokenCase{"0x", Kind::String, "0x", false},
        TokenCase{"-0x10", Kind::String, "-0x10", false},
        TokenCase{"123456789", Kind::Integer, "123456789", false},
        TokenCase{"1000000000", Kind::Integer, "1000000000", true},
        TokenCase{"-123456789", Kind::Integer, "-123456789", true},
        TokenCase{"12345678901", Kind::Integer, "12345678901", true},
        TokenCase{"-9223372036854775808", Kind::Integer, "-9223372036854775808", true},
        TokenCase{"9223372036854775808", Kind::Float, "9.22337203685478E18", false},
        TokenCase{"99999999999999999999", Kind::Float, "1E20", false},
        TokenCase{"0777777777777777777777", Kind::Integer, "9223372036854775807", true},
        TokenCase{"1.5", Kind::Float, "1.5", false},
        TokenCase{".5", Kind::Float, "0.5", false},
        TokenCase{"-.5", Kind::Float, "-0.5", false},
        TokenCase{"+2.25", Kind::Float, "2.25", false},
        TokenCase{"1e3", Kind::Float, "1000", false},
        TokenCase{"1E-7", Kind::Float, "1E-7", false},
        TokenCase{"2.50", Kind::Float, "2.5", false},
        TokenCase{"1.2.3", Kind::String, "1.2.3", false},
        TokenCase{"12abc", Kind::String, "12abc", false},
        TokenCase{"-", Kind::String, "-", false},
        TokenCase{".", Kind::String, ".", false},
        TokenCase{"1e999", Kind::String, "1e999", false},
        TokenCase{"inf", Kind::String, "inf", false},
        TokenCase{"NaN", Kind::String, "NaN", false},
        TokenCase{"abc", Kind::String, "abc", false},
        TokenCase{"  hello world   ", Kind::String, "hello world", false},
        TokenCase{"it's", Kind::String, "it's", false},
        TokenCase{"1 000", Kind::String, "1 000", false}));

TEST(JsonTextTest, IntegerTokensCarryTheirValue) {
  Value v = SoleElement("12345678901");
  EXPECT_EQ(v.integer, 12345678901LL);
  EXPECT_EQ(SoleElement("0123").integer, 83);
  EXPECT_DOUBLE_EQ(SoleElement("09").number, 9.0);
  EXPECT_DOUBLE_EQ(SoleElement("-1.25e2").number, -125.0);
}

// ---------------------------------------------------------------------------
// Strings

struct StringCase {
  const char* literal;
  std::string content;
};

class StringTokenTest : public ::testing::TestWithParam<StringCase> {};

TEST_P(StringTokenTest, ResolvesEscapes) {
  const StringCase& c = GetParam();
  Value v = SoleElement(c.literal);
  EXPECT_EQ(v.kind, Kind::String) << c.literal;
  EXPECT_EQ(v.string, c.content) << c.literal;
}

INSTANTIATE_TEST_SUITE_P(
    Strings, StringTokenTest,
    ::testing::Values(
        StringCase{R"("x\/y")", "x/y"},
        StringCase{R"("a\bb\fc\nd\re\tf")", "a\bb\fc\nd\re\tf"},
        StringCase{R"("\q\'\"\\")", "q'\"\\"},
        StringCase{R"('say "hi"')", "say \"hi\""},
        StringCase{R"('a\'b')", "a'b"},
        StringCase{R"("")", ""},
        StringCase{R"("123")", "123"},
        StringCase{R"("\u0041BC")", "ABC"},
        StringCase{R"("\u00e7\u00E3")", "\xC3\xA7\xC3\xA3"},
        StringCase{R"("\u20AC")", "\xE2\x82\xAC"},
        StringCase{R"("\uD83D\uDE00")", "\xF0\x9F\x98\x80"},
        StringCase{R"("\uD83D")", "\xEF\xBF\xBD"},
        StringCase{R"("\uDE00x")", "\xEF\xBF\xBDx"},
        StringCase{R"("\uD83Dx")", "\xEF\xBF\xBDx"},
        StringCase{R"("\uD83D\u0041")", "\xEF\xBF\xBD" "A"},
        StringCase{R"("\uD83D\uD83D\uDE00")", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        StringCase{"\"a\\\nb\"", "a\nb"},
        StringCase{"\"a\xC3\xA7\xC3\xA3o\"", "a\xC3\xA7\xC3\xA3o"},
        StringCase{"\"tab\there\"", "tab\there"},
        StringCase{R"("# not // a /* comment")", "# not // a /* comment"}));

TEST(JsonTextTest, NonHexUnicodeEscapeIsAConversionError) {
  try {
    Parse(R"(["\uZZZZ"])");
    FAIL() << "no error";
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'$ZZZZ' is not a valid integer value");
  }
  // The four characters are taken whatever they are, closing quote included.
  try {
    Parse(R"(["\u12"])");
    FAIL() << "no error";
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'$12\"]' is not a valid integer value");
  }
}

// ---------------------------------------------------------------------------
// Objects and arrays

TEST(JsonTextTest, ObjectMembersKeepTextualOrder) {
  Wrapper w = Wrapper::Of(R"({"b":1, "a":2})");
  ASSERT_EQ(w.count(), 2u);
  EXPECT_EQ(w.member(0).name, "b");
  EXPECT_EQ(w.member(0).value, "1");
  EXPECT_EQ(w.member(1).name, "a");
  EXPECT_EQ(w.member(1).value, "2");
}

TEST(JsonTextTest, DuplicateKeysAreAllKept) {
  Wrapper w = Wrapper::Of(R"({"a":1, "A":2, "a":3})");
  ASSERT_EQ(w.count(), 3u);
  EXPECT_EQ(w.member(1).name, "A");
  EXPECT_EQ(w.member(2).value, "3");
}

TEST(JsonTextTest, LenientObjectSyntax) {
  Wrapper w = Wrapper::Of("{'a':'x'; b=>2,}");
  ASSERT_EQ(w.count(), 2u);
  EXPECT_EQ(w.member(0).name, "a");
  EXPECT_EQ(w.member(0).value, "x");
  EXPECT_EQ(w.member(0).kind, Kind::String);
  EXPECT_EQ(w.member(1).name, "b");
  EXPECT_EQ(w.member(1).value, "2");
  EXPECT_EQ(w.member(1).kind, Kind::Integer);

  Wrapper equals = Wrapper::Of("{a = 1; c : 2 ;}");
  ASSERT_EQ(equals.count(), 2u);
  EXPECT_EQ(equals.member(1).name, "c");
  EXPECT_EQ(equals.member(1).value, "2");
}

TEST(JsonTextTest, KeysAreTheTextOfAnyValue) {
  Wrapper w = Wrapper::Of(R"({1:"a", 0x10:"b", null:"c", 1.50:"d", [1,"x"]:"e", {"k":true}:"f"})");
  ASSERT_EQ(w.count(), 6u);
  EXPECT_EQ(w.member(0).name, "1");
  EXPECT_EQ(w.member(1).name, "16");
  EXPECT_EQ(w.member(2).name, "null");
  EXPECT_EQ(w.member(3).name, "1.5");
  EXPECT_EQ(w.member(4).name, R"([1,"x"])");
  EXPECT_EQ(w.member(5).name, R"({"k":true})");
}

TEST(JsonTextTest, EmptyContainers) {
  for (const char* text : {"{}", "{ }", "{/*c*/}"}) {
    Wrapper w = Wrapper::Of(text);
    EXPECT_TRUE(w.isObject()) << text;
    EXPECT_EQ(w.count(), 0u) << text;
  }
  for (const char* text : {"[]", "[ ]", "[\n]"}) {
    Wrapper w = Wrapper::Of(text);
    EXPECT_TRUE(w.isArray()) << text;
    EXPECT_EQ(w.count(), 0u) << text;
  }
}

struct ArrayCase {
  const char* text;
  std::vector<Kind> kinds;
};

TEST(JsonTextTest, ArraySeparatorsAndAbsentElements) {
  const std::vector<ArrayCase> cases = {
      {"[1,,3]", {Kind::Integer, Kind::Absent, Kind::Integer}},
      {"[1,2,]", {Kind::Integer, Kind::Integer}},
      {"[1;2;3]", {Kind::Integer, Kind::Integer, Kind::Integer}},
      {"[1;;3]", {Kind::Integer, Kind::Absent, Kind::Integer}},
      {"[,1]", {Kind::Absent, Kind::Integer}},
      {"[,]", {Kind::Absent}},
      {"[1,,]", {Kind::Integer, Kind::Absent}},
      {"[null, , 'x']", {Kind::Null, Kind::Absent, Kind::String}},
  };
  for (const ArrayCase& c : cases) {
    Value v = Parse(c.text);
    ASSERT_EQ(v.elements.size(), c.kinds.size()) << c.text;
    for (std::size_t i = 0; i < c.kinds.size(); ++i) {
      EXPECT_STREQ(KindName(v.elements[i].kind), KindName(c.kinds[i])) << c.text << " #" << i;
    }
  }
}

TEST(JsonTextTest, CommentsAreSkippedBetweenTokens) {
  Wrapper w = Wrapper::Of(
      "{ # hash comment\n"
      "  \"a\" // line comment\r"
      "  : /* block\n comment */ 1,\n"
      "  b: abc/* ends the token */ ;"
      "  c: [1#x\n,2]"
      "}");
  ASSERT_EQ(w.count(), 3u);
  EXPECT_EQ(w.member(0).value, "1");
  EXPECT_EQ(w.member(1).name, "b");
  EXPECT_EQ(w.member(1).value, "abc");
  EXPECT_EQ(w.member(2).value, "[1,2]");
}

TEST(JsonTextTest, TextAfterTheTopValueIsIgnored) {
  Wrapper w = Wrapper::Of(R"({"a":1} trailing, "b":2})");
  EXPECT_EQ(w.count(), 1u);
}

// ---------------------------------------------------------------------------
// Wrapper

TEST(JsonTextTest, KindOfTextIsDecidedByFirstCharacter) {
  for (const char* text : {"  {\"a\":1}", "", "x", "\n[1]", "null", "  {broken"}) {
    Wrapper w = Wrapper::Of(text);
    EXPECT_FALSE(w.holdsNothing()) << text;
    EXPECT_TRUE(w.isObject()) << text;
    EXPECT_EQ(w.count(), 0u) << text;
  }
  EXPECT_TRUE(Wrapper().holdsNothing());
  EXPECT_EQ(Wrapper().count(), 0u);
}

TEST(JsonTextTest, MemberValueTexts) {
  Wrapper w = Wrapper::Of(
      R"({"n":null, "s":"null", "S":"NULL", "t":true, "f":2.50,)"
      R"( "o":{ "x" : [1, 2.50, "q\"\\\n"], "y":null }, "a":[[1,,3]], "c":"\u0001"})");
  ASSERT_EQ(w.count(), 8u);
  EXPECT_EQ(w.member(0).value, "");
  EXPECT_EQ(w.member(0).kind, Kind::Null);
  EXPECT_EQ(w.member(1).value, "");
  EXPECT_EQ(w.member(1).kind, Kind::String);
  EXPECT_EQ(w.member(2).value, "NULL");
  EXPECT_EQ(w.member(3).value, "true");
  EXPECT_EQ(w.member(4).value, "2.5");
  EXPECT_EQ(w.member(4).kind, Kind::Float);
  EXPECT_EQ(w.member(5).value, R"({"x":[1,2.5,"q\"\\\n"],"y":null})");
  EXPECT_EQ(w.member(5).kind, Kind::Object);
  EXPECT_EQ(w.member(6).value, "[[1,null,3]]");
  EXPECT_EQ(w.member(7).value, "\x01");
  EXPECT_EQ(w.valueAt(7)->kind, Kind::String);
  Value wrapped = Parse(R"(["\u0001\t"])");
  EXPECT_EQ(wrapped.asText(), R"(["\u0001\t"])");
}

// One literal for every writer: the data's text, a page's, a value's own.
TEST(JsonTextTest, StringLiteralsEscapeTheSameWayEverywhere) {
  struct Case {
    std::string in;
    std::string data;
    std::string page;
  } cases[] = {
      {"a\"b\\c", R"("a\"b\\c")", R"("a\"b\\c")"},
      {"\b\f\n\r\t", R"("\b\f\n\r\t")", R"("\b\f\n\r\t")"},
      {std::string("\x01\x1f\0", 3), R"("\u0001\u001f\u0000")", R"("\u0001\u001f\u0000")"},
      {"</script>", R"("</script>")", R"("\u003c/script>")"},
      {"ação \x7f", "\"ação \x7f\"", "\"ação \x7f\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JsonString(c.in), c.data) << c.in;
    EXPECT_EQ(JsonString(c.in, JsonStringFor::Page), c.page) << c.in;
    Value array = Parse("[]");
    Value element;
    element.kind = Kind::String;
    element.string = c.in;
    array.elements.push_back(element);
    EXPECT_EQ(array.asText(), "[" + c.data + "]") << c.in;
  }
}

TEST(JsonTextTest, MemberOutOfRangeAndArrayMembers) {
  Wrapper obj = Wrapper::Of(R"({"a":1})");
  Wrapper::Pair none = obj.member(1);
  EXPECT_EQ(none.name, "");
  EXPECT_EQ(none.value, "");
  EXPECT_EQ(none.kind, Kind::Absent);
  EXPECT_EQ(obj.valueAt(1), nullptr);

  Wrapper arr = Wrapper::Of("[7,,'x']");
  EXPECT_EQ(arr.member(0).name, "");
  EXPECT_EQ(arr.member(0).value, "7");
  EXPECT_EQ(arr.member(1).value, "");
  EXPECT_EQ(arr.member(1).kind, Kind::Absent);
  EXPECT_EQ(arr.member(2).value, "x");
  EXPECT_EQ(Wrapper().member(0).value, "");
  EXPECT_EQ(Wrapper().valueAt(0), nullptr);
}

TEST(JsonTextTest, ArrayUnderFindsFirstCaseInsensitiveMatch) {
  Wrapper w = Wrapper::Of(R"({"x":0, "a":[1], "A":[2,3]})");
  Wrapper first = w.arrayUnder("A");
  ASSERT_TRUE(first.isArray());
  EXPECT_EQ(first.count(), 1u);
  EXPECT_EQ(first.member(0).value, "1");
}

TEST(JsonTextTest, ArrayUnderOutlivesItsParentWrapper) {
  Wrapper inner = Wrapper::Of(R"({"rows":[{"v":"kept"}]})").arrayUnder("ROWS").element(0);
  ASSERT_TRUE(inner.isObject());
  EXPECT_EQ(inner.member(0).value, "kept");
}

TEST(JsonTextTest, ArrayUnderErrors) {
  Wrapper w = Wrapper::Of(R"({"a":1, "A":[2], "q\"k":"s", "\u00e7":[1]})");
  auto messageOf = [&w](const std::string& key) -> std::string {
    try {
      w.arrayUnder(key);
    } catch (const JsonSyntaxError&) {
      return "<syntax error>";
    } catch (const Error& e) {
      return e.what();
    }
    return "<no error>";
  };
  EXPECT_EQ(messageOf(""), "Null key");
  EXPECT_EQ(messageOf("a"), R"(TJSONObject["a"] is not a TJSONArray.)");
  EXPECT_EQ(messageOf("missing"), R"(TJSONObject["missing"] is not a TJSONArray.)");
  EXPECT_EQ(messageOf("Q\"K"), R"(TJSONObject["Q\"K"] is not a TJSONArray.)");
  // Only ASCII letters fold.
  EXPECT_EQ(messageOf("\xC3\x87"), "TJSONObject[\"\xC3\x87\"] is not a TJSONArray.");
  EXPECT_EQ(Wrapper::Of("[[1]]").count(), 1u);
  EXPECT_THROW(Wrapper::Of("[[1]]").arrayUnder("0"), Error);
}

TEST(JsonTextTest, ElementGivesNothingForMissingValues) {
  Wrapper w = Wrapper::Of(R"([{"a":1}, null, , 5, [2]])");
  ASSERT_EQ(w.count(), 5u);
  EXPECT_TRUE(w.element(0).isObject());
  EXPECT_EQ(w.element(0).member(0).name, "a");
  EXPECT_TRUE(w.element(1).holdsNothing());
  EXPECT_TRUE(w.element(2).holdsNothing());
  EXPECT_FALSE(w.element(3).holdsNothing());
  EXPECT_EQ(w.element(3).value()->integer, 5);
  EXPECT_EQ(w.element(3).count(), 0u);
  EXPECT_TRUE(w.element(4).isArray());
  EXPECT_TRUE(w.element(5).holdsNothing());
  EXPECT_TRUE(Wrapper::Of(R"({"a":[1]})").element(0).holdsNothing());
  EXPECT_TRUE(Wrapper().element(0).holdsNothing());
}

// ---------------------------------------------------------------------------
// Float text

TEST(JsonTextTest, FloatTextUsesFifteenSignificantDigits) {
  struct Case {
    double number;
    const char* text;
  };
  const Case cases[] = {
      {0.1 + 0.2, "0.3"},
      {1.0, "1"},
      {100.0, "100"},
      {-2.5, "-2.5"},
      {0.0, "0"},
      {123456789.123456789, "123456789.123457"},
      {999999999999999.0, "999999999999999"},
      {1e15, "1E15"},
      {1.23456789012345678e17, "1.23456789012346E17"},
      {0.00001, "0.00001"},
      {0.000012, "0.000012"},
      {0.0000099, "9.9E-6"},
      {9.999999999999999e-6, "0.00001"},
      {1.5e-7, "1.5E-7"},
      {-1e300, "-1E300"},
      {2.5e-300, "2.5E-300"},
  };
  for (const Case& c : cases) {
    Value v;
    v.kind = Kind::Float;
    v.number = c.number;
    EXPECT_EQ(v.asText(), c.text) << c.number;
  }
}

// ---------------------------------------------------------------------------
// Syntax errors

TEST(JsonTextTest, SyntaxErrorMessageNamesTheOffendingCharacter) {
  // The character that broke the rule is left unread: the position and the
  // excerpt both start at it.
  EXPECT_EQ(SyntaxErrorOf(R"({"a" 1})"),
            "Expected a \":\" after a key at character 6 of {\"a\" 1} next to : 1}"
            "\n\r erro no caracter : 6");
  // Ten characters of excerpt at most.
  EXPECT_EQ(SyntaxErrorOf(R"(["a" "2345678901234"])"),
            "Expected a \",\" or \"]\" at character 6 of [\"a\" \"2345678901234\"] next to : \"234567890"
            "\n\r erro no caracter : 6");
  // Running out of text points one past its end, with an empty excerpt.
  EXPECT_EQ(SyntaxErrorOf("{"),
            "A TJSONObject must end with \"}\" at character 2 of { next to : \n\r erro no caracter : 2");
}

TEST(JsonTextTest, SyntaxErrorPositionsCountCharactersNotBytes) {
  EXPECT_EQ(SyntaxErrorOf("{\"a\xC3\xA7\xC3\xA3o\" 1}"),
            "Expected a \":\" after a key at character 9 of {\"a\xC3\xA7\xC3\xA3o\" 1} next to : 1}"
            "\n\r erro no caracter : 9");
  const std::string many = "\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7\xC3\xA7";  // six
  const std::string text = "[\"x\" " + many + many + "]";
  EXPECT_EQ(SyntaxErrorOf(text), "Expected a \",\" or \"]\" at character 6 of " + text + " next to : " +
                                     many + many.substr(0, 8) + "\n\r erro no caracter : 6");
}

struct ErrorCase {
  const char* text;
  const char* what;
  int position;
  const char* excerpt;
};

TEST(JsonTextTest, MalformedTextErrors) {
  const std::vector<ErrorCase> cases = {
      {R"({"a" 1})", R"(Expected a ":" after a key)", 6, "1}"},
      {R"({"a"})", R"(Expected a ":" after a key)", 5, "}"},
      {R"({"a"=)", "Missing value.", 6, ""},
      {R"({"a":1 "b":2})", R"(Expected a "," or "}")", 8, R"("b":2})"},
      {R"({"a":1)", R"(Expected a "," or "}")", 7, ""},
      {R"({"a":1 /x})", R"(Expected a "," or "}")", 8, "/x}"},
      {R"({"a":1,)", R"(A TJSONObject must end with "}")", 8, ""},
      {"{", R"(A TJSONObject must end with "}")", 2, ""},
      {R"({"a":})", "Missing value.", 6, "}"},
      {"{,}", "Missing value.", 2, ",}"},
      {R"({"a":1,,})", "Missing value.", 8, ",}"},
      {"[", "Missing value.", 2, ""},
      {"[1,", "Missing value.", 4, ""},
      {R"(["1" 2])", R"(Expected a "," or "]")", 6, "2]"},
      {"[1", R"(Expected a "," or "]")", 3, ""},
      {"[1 /* c */ 2]", R"(Expected a "," or "]")", 12, "2]"},
      {"[1:2]", R"(Expected a "," or "]")", 3, ":2]"},
      {R"({"a":"x)", "Unterminated string", 8, ""},
      {"{\"a\":\"x\ny\"}", "Unterminated string", 8, "\ny\"}"},
      {"{\"a\":\"x\ry\"}", "Unterminated string", 8, "\ry\"}"},
      {R"(["\)", "Unterminated string", 4, ""},
      {R"(['abc")", "Unterminated string", 7, ""},
      {R"({"a":"\u12)", "Substring bounds error", 9, "12"},
      {"{/* x", "Unclosed comment.", 6, ""},
      {"[1/*/]", "Unclosed comment.", 7, ""},
  };
  for (const ErrorCase& c : cases) {
    std::string position = std::to_string(c.position);
    std::string expected = std::string(c.what) + " at character " + position + " of " + c.text +
                           " next to : " + c.excerpt + "\n\r erro no caracter : " + position;
    EXPECT_EQ(SyntaxErrorOf(c.text), expected) << c.text;
  }
}

TEST(JsonTextTest, ParseRequiresAnObjectOrArray) {
  try {
    Parse("x");
    FAIL() << "no error";
  } catch (const JsonSyntaxError& e) {
    EXPECT_STREQ(e.what(), "A TJSONObject must begin with \"{\" at character 1 of x next to : x"
                           "\n\r erro no caracter : 1");
  }
  EXPECT_THROW(Parse(""), JsonSyntaxError);
  EXPECT_EQ(Parse(" /* c */ {\"a\":1}").members.size(), 1u);
}

// ---------------------------------------------------------------------------
// Hostile input

std::string Nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(JsonTextTest, NestingIsLimited) {
  Value deepest = Parse(Nested(512));
  const Value* v = &deepest;
  int levels = 0;
  while (v->kind == Kind::Array) {
    ++levels;
    v = v->elements.empty() ? nullptr : &v->elements[0];
    if (v == nullptr) break;
  }
  EXPECT_EQ(levels, 512);

  std::string message = SyntaxErrorOf(Nested(513));
  EXPECT_EQ(message.rfind("Nesting too deep at character 513 of ", 0), 0u) << message.substr(0, 80);
  EXPECT_NE(message.find("\n\r erro no caracter : 513"), std::string::npos);
}

TEST(JsonTextTest, VeryDeepInputIsRefusedWithoutCrashing) {
  std::string arrays(200000, '[');
  EXPECT_THROW(Wrapper::Of(arrays), JsonSyntaxError);
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_THROW(Wrapper::Of(objects), JsonSyntaxError);
  std::string keys;
  for (int i = 0; i < 100000; ++i) keys += "{[";
  EXPECT_THROW(Wrapper::Of(keys), JsonSyntaxError);
}

// Every prefix of a text that touches each construct either parses or fails
// with one of the layer's own errors.
TEST(JsonTextTest, TruncatedAndAlteredTextsFailCleanly) {
  const std::string text =
      "{ \"a\" : 'x\\u00e7\\uD83D\\uDE00\\n' , b=>[1,,0x1F;0123, 1.5e3,] # c\n"
      ", /* c */ \"k\"=null // c\r, 'z': {\"n\":[true, FALSE, \"\xC3\xA7\"]};}";
  ASSERT_EQ(Wrapper::Of(text).count(), 4u);
  auto survives = [](const std::string& candidate) {
    try {
      Wrapper w = Wrapper::Of(candidate);
      for (std::size_t i = 0; i <= w.count(); ++i) w.member(i);
    } catch (const JsonSyntaxError&) {
    } catch (const ConversionError&) {
    }
  };
  for (std::size_t n = 0; n <= text.size(); ++n) survives(text.substr(0, n));
  const std::string replacements("\0\"'\\{}[],;:=/*#\n x", 18);
  for (std::size_t i = 1; i < text.size(); ++i) {
    for (char r : replacements) {
      std::string altered = text;
      altered[i] = r;
      survives(altered);
    }
  }
}

}  // namespace
}  // namespace quelvar::json
