// The multipart reader: preamble, parts, delimiters, truncation, attributes.

#include "service/multipart_reader.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quelvar::service {
namespace {

struct ExpectedPart {
  std::string name;
  std::string body;
};

struct ReaderCase {
  std::string label;
  std::string body;
  std::vector<ExpectedPart> parts;
  bool truncated = false;
  std::string truncatedName = {};
};

class MultipartReaderTable : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(MultipartReaderTable, ReadsPartsAsDelimited) {
  const ReaderCase& c = GetParam();
  const MultipartBody read = ReadMultipart(c.body, "XyZ");
  ASSERT_EQ(read.parts.size(), c.parts.size());
  for (std::size_t i = 0; i < c.parts.size(); ++i) {
    EXPECT_EQ(read.parts[i].name, c.parts[i].name) << "part " << i;
    EXPECT_EQ(std::string(read.parts[i].body), c.parts[i].body) << "part " << i;
  }
  EXPECT_EQ(read.truncated, c.truncated);
  EXPECT_EQ(read.truncatedName, c.truncatedName);
}

std::string Part(const std::string& name, const std::string& body) {
  return "--XyZ\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + body + "\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MultipartReaderTable,
    ::testing::Values(
        ReaderCase{"two_fields", Part("a", "1") + Part("b", "two") + "--XyZ--\r\n", {{"a", "1"}, {"b", "two"}}},
        ReaderCase{"preamble_skipped",
                   "this is the preamble\r\n--XyZ is not alone on its line\r\n" + Part("a", "1") + "--XyZ--\r\n",
                   {{"a", "1"}}},
        ReaderCase{"no_delimiter_line_gives_no_parts", "just text\r\nmore text --XyZ\r\n", {}},
        ReaderCase{"empty_body", "", {}},
        ReaderCase{"closing_only", "--XyZ--\r\n", {}},
        ReaderCase{"epilogue_ignored", Part("a", "1") + "--XyZ--\r\n" + Part("b", "2"), {{"a", "1"}}},
        ReaderCase{"last_delimiter_without_closing_dashes", Part("a", "1") + "--XyZ", {{"a", "1"}}},
        ReaderCase{"lf_line_ends", "--XyZ\nContent-Disposition: form-data; name=\"a\"\n\nvalue\n--XyZ--\n",
                   {{"a", "value"}}},
        ReaderCase{"empty_part_body", Part("a", "") + "--XyZ--", {{"a", ""}}},
        ReaderCase{"boundary_text_inside_a_line_is_data",
                   Part("a", "x--XyZ y\r\n--XyZextra\r\nend") + "--XyZ--", {{"a", "x--XyZ y\r\n--XyZextra\r\nend"}}},
        ReaderCase{"body_keeps_inner_line_breaks", Part("a", "l1\r\nl2\n\r\n") + "--XyZ--", {{"a", "l1\r\nl2\n\r\n"}}},
        ReaderCase{"truncated_body_keeps_earlier_parts",
                   Part("a", "1") + "--XyZ\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\nhalf a val",
                   {{"a", "1"}}, true, "b"},
        ReaderCase{"truncated_headers", "--XyZ\r\nContent-Disposition: form-data; name=\"a\"", {}, true, ""},
        ReaderCase{"headers_without_blank_line", "--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n", {},
                   true, ""},
        ReaderCase{"unquoted_and_escaped_names",
                   "--XyZ\r\nContent-Disposition: form-data; name=plain\r\n\r\n1\r\n"
                   "--XyZ\r\nContent-Disposition: form-data; name=\"say \\\"hi\\\"; ok\"\r\n\r\n2\r\n--XyZ--",
                   {{"plain", "1"}, {"say \"hi\"; ok", "2"}}}),
    [](const ::testing::TestParamInfo<ReaderCase>& info) { return info.param.label; });

TEST(MultipartReader, FilePartCarriesFileNameContentTypeAndExactBytes) {
  const std::string bytes("\x00\x01\xFF\r\n--Xy\r\n\x7F", 10);
  const std::string body =
      "--XyZ\r\nContent-Disposition: form-data; name=\"Arquivo\"; filename=\"nota fiscal.pdf\"\r\n"
      "Content-Type: application/pdf\r\n\r\n" +
      bytes + "\r\n--XyZ--\r\n";
  const MultipartBody read = ReadMultipart(body, "XyZ");
  ASSERT_EQ(read.parts.size(), 1u);
  const MultipartPart& part = read.parts[0];
  EXPECT_EQ(part.name, "Arquivo");
  ASSERT_TRUE(part.fileName.has_value());
  EXPECT_EQ(*part.fileName, "nota fiscal.pdf");
  EXPECT_EQ(part.contentType, "application/pdf");
  EXPECT_EQ(std::string(part.body), bytes);
  EXPECT_EQ(part.headerText,
            "Content-Disposition: form-data; name=\"Arquivo\"; filename=\"nota fiscal.pdf\"\r\n"
            "Content-Type: application/pdf");
}

TEST(MultipartReader, FieldWithoutFileNameHasNone) {
  const MultipartBody read = ReadMultipart(Part("a", "1") + "--XyZ--", "XyZ");
  ASSERT_EQ(read.parts.size(), 1u);
  EXPECT_FALSE(read.parts[0].fileName.has_value());
  EXPECT_EQ(read.parts[0].contentType, "");
}

TEST(MultipartReader, EmptyBoundaryReadsNothing) {
  EXPECT_TRUE(ReadMultipart("--\r\n\r\n\r\n--\r\n", "").parts.empty());
}

struct BoundaryCase {
  std::string contentType;
  std::optional<std::string> boundary;
};

TEST(MultipartBoundary, ReadsTheBoundaryParameter) {
  const std::vector<BoundaryCase> cases = {
      {"multipart/form-data; boundary=abc123", "abc123"},
      {"multipart/form-data; charset=utf-8; BOUNDARY=abc", "abc"},
      {"multipart/form-data; boundary=\"quoted; value\"", "quoted; value"},
      {"multipart/form-data;boundary=  spaced  ;x=1", "spaced"},
      {"multipart/form-data", std::nullopt},
      {"multipart/form-data; boundary=", std::nullopt},
      {"multipart/form-data; boundary=\"\"", std::nullopt},
      {"multipart/form-data; boundary=\"unterminated", "unterminated"},
      {"", std::nullopt},
      {";;;=;boundary", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(MultipartBoundary(c.contentType), c.boundary) << c.contentType;
}

// Arbitrary bytes never make the reader read outside its input.
TEST(MultipartReader, ArbitraryBytesAreReadSafely) {
  std::mt19937 random(20240115);
  const std::string alphabet = "-XyZ\r\n\"; =:abcname";
  for (int round = 0; round < 3000; ++round) {
    std::string body;
    const int size = static_cast<int>(random() % 120);
    for (int i = 0; i < size; ++i) body += alphabet[random() % alphabet.size()];
    const MultipartBody read = ReadMultipart(body, "XyZ");
    for (const MultipartPart& part : read.parts) {
      ASSERT_GE(part.body.data(), body.data());
      ASSERT_LE(part.body.data() + part.body.size(), body.data() + body.size());
    }
  }
}

}  // namespace
}  // namespace quelvar::service
