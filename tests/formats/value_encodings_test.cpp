// Single-value text forms: Base64, byte encodings, floats, date-times, escapers.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "formats/base64.h"
#include "formats/errors.h"
#include "formats/escape.h"
#include "formats/text_codec.h"
#include "formats/wire_values.h"

namespace quelvar {
namespace {

TEST(Base64, TextRoundTripsAndKnownForms) {
  struct Case {
    std::string text, base64;
  } cases[] = {
      {"", ""},
      {"OK", "T0s="},
      {"São João", "U8OjbyBKb8Ojbw=="},
      {"a", "YQ=="},
      {"abc", "YWJj"},
      {"\xF0\x9F\x98\x80", "8J+YgA=="},  // a character outside the basic plane: its four UTF-8 bytes
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeText(c.text), c.base64) << c.text;
    EXPECT_EQ(DecodeText(c.base64), c.text) << c.base64;
  }
}

TEST(Base64, BytesRoundTripEveryByteValue) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (std::size_t n = 0; n <= all.size(); n += 37) {
    const std::string chunk = all.substr(0, n);
    const std::string encoded = EncodeBytes(chunk);
    EXPECT_EQ(encoded.size(), (n + 2) / 3 * 4);
    EXPECT_EQ(DecodeBytes(encoded), chunk);
  }
}

TEST(Base64, WrittenInPiecesGivesTheWholeTextsForm) {
  std::string bytes;
  for (int i = 0; i < 40; ++i) bytes += static_cast<char>(i * 37 + 11);
  // Every way of cutting the bytes into two or three pieces, empty pieces included.
  for (std::size_t a = 0; a <= bytes.size(); ++a) {
    for (std::size_t b = a; b <= bytes.size(); b += 3) {
      std::string out = "=>";
      Base64Writer writer;
      writer.Write(out, std::string_view(bytes).substr(0, a));
      writer.Write(out, std::string_view(bytes).substr(a, b - a));
      writer.Write(out, std::string_view(bytes).substr(b));
      writer.Finish(out);
      ASSERT_EQ(out, "=>" + EncodeBytes(bytes)) << a << " " << b;
    }
  }
  for (std::size_t n = 0; n < 5; ++n) {  // short texts: padding
    std::string out;
    Base64Writer writer;
    for (std::size_t i = 0; i < n; ++i) writer.Write(out, std::string_view(bytes).substr(i, 1));
    writer.Finish(out);
    EXPECT_EQ(out, EncodeBytes(bytes.substr(0, n)));
  }
}

TEST(Base64, DecodingIsLenient) {
  EXPECT_EQ(DecodeBytes("YWJjZ"), "abc");    // characters after the last full group are ignored
  EXPECT_EQ(DecodeBytes("YW=="), "a");       // two "=" drop two bytes
  EXPECT_EQ(DecodeBytes("YWI="), "ab");      // one "=" drops one
  EXPECT_EQ(DecodeBytes("@@@@").size(), 3u);  // outside the alphabet: garbage, not a failure
  EXPECT_EQ(DecodeText("/w=="), "\xEF\xBF\xBD");  // byte 0xFF is not UTF-8: U+FFFD
  EXPECT_EQ(DecodeBytes("===="), std::string(1, '\0'));
  EXPECT_EQ(DecodeText("="), "");
}

TEST(ByteEncodings, AsciiStoresQuestionMarksPerUtf16Unit) {
  EXPECT_EQ(ToStoredBytes("São", TEncodeSelect::esASCII), "S?o");
  EXPECT_EQ(ToStoredBytes("a\xF0\x9F\x98\x80z", TEncodeSelect::esASCII), "a??z");  // surrogate pair: two units
  EXPECT_EQ(ToStoredBytes("São", TEncodeSelect::esANSI), "S?o");
  EXPECT_EQ(ToStoredBytes("São", TEncodeSelect::esUtf8), "São");
  EXPECT_EQ(FromStoredBytes("S\xE3o", TEncodeSelect::esASCII), "S\xEF\xBF\xBDo");
  EXPECT_EQ(FromStoredBytes("S\xE3o", TEncodeSelect::esUtf8), "S\xEF\xBF\xBDo");  // ill-formed UTF-8
}

TEST(ByteEncodings, Windows1252BothWays) {
  EXPECT_EQ(Utf8ToAnsi("São João"), "S\xE3o Jo\xE3o");
  EXPECT_EQ(Utf8ToAnsi("€ “x”"), "\x80 \x93x\x94");
  EXPECT_EQ(Utf8ToAnsi("日"), "?");
  EXPECT_EQ(AnsiToUtf8("S\xE3o \x80"), "São €");
  EXPECT_EQ(AnsiToUtf8("\x81"), "\xEF\xBF\xBD");  // undefined position
}

TEST(Utf16, ConversionsAreLenient) {
  EXPECT_EQ(Utf8ToUtf16("ação"), u"ação");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\xFFFD");        // truncated sequence
  EXPECT_EQ(Utf8ToUtf16("\xC0\x80"), u"\xFFFD\xFFFD");  // overlong
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");  // lone surrogate
}

TEST(Floats, GeneralFormatWithDecimalComma) {
  struct Case {
    double value;
    const char* local;
    const char* wire;
  } cases[] = {
      {12.5, "12,5", "12D5"},
      {-0.25, "-0,25", "-0D25"},
      {3, "3", "3"},
      {0, "0", "0"},
      {1.5e20, "1,5E20", "1D5E20"},
      {0.1 + 0.2, "0,3", "0D3"},
      {0.00001, "0,00001", "0D00001"},
      {0.0000099, "9,9E-6", "9D9E-6"},
      {123456789012345.0, "123456789012345", "123456789012345"},
      {1234567890123456.0, "1,23456789012346E15", "1D23456789012346E15"},
      {2.0 / 3.0, "0,666666666666667", "0D666666666666667"},
      {-1e-7, "-1E-7", "-1E-7"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatFloat(c.value), c.local) << c.value;
    EXPECT_EQ(FloatToWire(FormatFloat(c.value)), c.wire) << c.value;
    EXPECT_EQ(FloatFromWire(c.wire), c.local);
    EXPECT_NEAR(ParseFloat(FloatFromWire(c.wire)), c.value, std::fabs(c.value) * 1e-14) << c.wire;
  }
}

// FormatFloat as first written, on the C library's "%.14e": the reference
// for the faster conversion, which must give the same text for every value.
std::string PrintfFormatFloat(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", value);
  std::string s(buf);
  const bool negative = s.front() == '-';
  if (negative) s.erase(0, 1);
  const auto e = s.find('e');
  std::string digits = s.substr(0, 1) + s.substr(2, e - 2);
  const int exponent = std::atoi(s.c_str() + e + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = negative ? "-" : "";
  if (exponent >= 15 || exponent < -5) {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "," + digits.substr(1);
    out += "E" + std::to_string(exponent);
  } else if (exponent < 0) {
    out += "0," + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
  } else {
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole) out += digits + std::string(whole - digits.size(), '0');
    else out += digits.substr(0, whole) + "," + digits.substr(whole);
  }
  return out;
}

TEST(Floats, EveryValueFormatsAsTheLibraryWouldPrintIt) {
  std::vector<double> values = {0.5, -0.0, 1e15, 1e-5, 1e-6, 999999999999999.9, 0.000099999999999999995,
                                9.99999999999999e14, 4.9e-324, 2.2250738585072014e-308, 1.7976931348623157e308,
                                -123456.789, 1.0 / 3, 100, 1e21, 0.15, 0.25, 2.5, 1.005, 5e-324, 123456789012345678.0};
  std::mt19937_64 random(20261210);
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    values.push_back(value);  // any bit pattern: every exponent, NaNs, infinities, subnormals
    values.push_back(static_cast<double>(static_cast<std::int64_t>(bits % 2000000)) / 1000);  // money-like
  }
  for (double value : values) {
    const std::string expected = PrintfFormatFloat(value);
    ASSERT_EQ(FormatFloat(value), expected) << value;
    std::string wire = "x";
    AppendFloatWire(wire, value);
    ASSERT_EQ(wire, "x" + FloatToWire(expected)) << value;
  }
}

TEST(Floats, ParsingUsesTheServerFormatOnly) {
  EXPECT_DOUBLE_EQ(ParseFloat(FloatFromWire("12D5")), 12.5);
  EXPECT_DOUBLE_EQ(ParseFloat("12,5"), 12.5);
  EXPECT_DOUBLE_EQ(ParseFloat("  -3,25e2 "), -325);
  EXPECT_DOUBLE_EQ(ParseFloat("+7"), 7);
  EXPECT_DOUBLE_EQ(ParseFloat("1e-999"), 0);  // underflow reads as zero
  EXPECT_DOUBLE_EQ(ParseFloat("0,0001e-400"), 0);
  for (const char* bad : {"12.5", "", " ", "1.000,5", "abc", "1e", "--1", ",", "1,2,3", "1e999", "123e400"}) {
    try {
      ParseFloat(bad);
      ADD_FAILURE() << "parsed: " << bad;
    } catch (const ConversionError& e) {
      EXPECT_EQ(e.what(), "'" + std::string(bad) + "' is not a valid floating point value");
    }
  }
}

TEST(DateTimes, WholeSecondsSince1899HalvesToEven) {
  EXPECT_EQ(DateTimeToWire(1.5 - 1.0), 43200);  // 30/12/1899 12:00
  EXPECT_EQ(DateTimeToWire(EncodeDate(2024, 1, 15)), 3914438400);
  EXPECT_EQ(DateTimeToWire(EncodeDateTime(2024, 1, 15, 10, 30, 0)), 3914476200);
  EXPECT_EQ(DateTimeToWire(EncodeDateTime(2024, 1, 15, 10, 30, 0, 600)), 3914476201);
  EXPECT_EQ(DateTimeToWire(0.5 / 86400), 0);        // half a second rounds to even (0)
  EXPECT_EQ(DateTimeToWire(1.5 / 86400), 2);        // and 1.5 to 2
  EXPECT_DOUBLE_EQ(DateTimeFromWire(3914438400), EncodeDate(2024, 1, 15));
  const DateParts p = DecodeDateTime(DateTimeFromWire(3914476200));
  EXPECT_EQ((std::array{p.year, p.month, p.day, p.hour, p.minute, p.second}),
            (std::array{2024, 1, 15, 10, 30, 0}));
  EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 31), 1.0);
}

TEST(Integers, RunTimeConversionRules) {
  EXPECT_EQ(ParseInt32("42"), 42);
  EXPECT_EQ(ParseInt32(" -7"), -7);
  EXPECT_EQ(ParseInt32("$FF"), 255);
  EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseInt64("12345678901"), 12345678901);
  for (const char* bad : {"", "abc", "1.5", "2147483648", "12 ", "0x"}) {
    EXPECT_THROW(ParseInt32(bad), ConversionError) << bad;
  }
  try {
    ParseInt32("x1");
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'x1' is not a valid integer value");
  }
}

TEST(Escapers, EscapeBasicReplacesEightCharacters) {
  EXPECT_EQ(EscapeBasic("a\\b\"c/d\be\tf\ng\fh\ri"), "a\\\\b\\\"c\\/d\\be\\tf\\ng\\fh\\ri");
  EXPECT_EQ(EscapeBasic("ção <x>"), "ção <x>");
}

TEST(Escapers, EscapeJSONTextPerUtf16Unit) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"ação, 10%", "a\\u00E7\\u00E3o\\u002C 10\\u0025"},
      {"a/b</c", "a/b\\u003C\\/c"},
      {"\"q\"\\", "\\\"q\\\"\\\\"},
      {"\b\t\n\f\r\x01", "\\b\\t\\n\\f\\r\\u0001"},
      {"Az09 !$'()*-.@_", "Az09 !$'()*-.@_"},
      {"#&+:;<=>?[]^`{|}~\x7F", "\\u0023\\u0026\\u002B\\u003A\\u003B\\u003C\\u003D\\u003E\\u003F\\u005B\\u005D\\u005E\\u0060\\u007B\\u007C\\u007D\\u007E\\u007F"},
      {"\xF0\x9F\x98\x80", "\\uD83D\\uDE00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EscapeJSONText(c.in), c.out) << c.in;
    EXPECT_EQ(UnescapeJSONText(c.out), c.in) << c.out;
  }
}

TEST(Escapers, Unescape) {
  EXPECT_EQ(UnescapeJSONText("\\u00e3\\u00E3"), "ãã");
  EXPECT_EQ(UnescapeJSONText("\\q\\/"), "q/");
  EXPECT_EQ(UnescapeJSONText("end\\"), "end\\");
  try {
    UnescapeJSONText("x\\uZZZZ");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Invalid unicode \\uZZZZ");
  }
  EXPECT_THROW(UnescapeJSONText("\\u12"), Error);  // fewer than four characters
}

}  // namespace
}  // namespace quelvar
