#include "service/http_gate.h"

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quelvar::service {
namespace {

TEST(RequestTextOf, RemovesEveryVersionText) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"GET /a?b=1 HTTP/1.1", "GET /a?b=1"},
      {"GET / HTTP/1.0", "GET /"},
      {"POST /x HTTP/2.0", "POST /x"},
      {"POST /x HTTP/2.1", "POST /x"},
      {"GET /x HTTP/1.2", "GET /x HTTP/1.2"},  // only the four listed versions
      {"GET /x HTTP/1.1 HTTP/1.0 HTTP/1.1", "GET /x"},
      {"GET /x HTTP/1.1HTTP/1.1", "GET /xHTTP/1.1"},
      {"GET /x HTTP/1.1 HTTP/1.1", "GET /x"},
      {"GET /x HTTP/1.10", "GET /x0"},
      {"GET /x http/1.1", "GET /x http/1.1"},  // case-sensitive
      {"", ""},
  };
  for (const auto& [line, text] : cases) EXPECT_EQ(RequestTextOf(line), text) << line;
}

TEST(ClassifyMethod, ByTheFirstThreeOrFourCharacters) {
  const std::vector<std::pair<std::string, std::optional<RequestType>>> cases = {
      {"GET /", RequestType::Get},
      {"get /", RequestType::Get},
      {"GeT /", RequestType::Get},
      {"GETS /", RequestType::Get},
      {"PUT /", RequestType::Put},
      {"put", RequestType::Put},
      {"POST /", RequestType::Post},
      {"post /", RequestType::Post},
      {"DELETE /", RequestType::Delete},
      {"DELE", RequestType::Delete},
      {"PATCH /", RequestType::Patch},
      {"patc", RequestType::Patch},
      {"POS /", std::nullopt},
      {"PO", std::nullopt},
      {"HEAD /", std::nullopt},
      {"OPTIONS /", std::nullopt},
      {"TRACE /", std::nullopt},
      {"CONNECT x:1", std::nullopt},
      {" GET /", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, type] : cases) EXPECT_EQ(ClassifyMethod(text), type) << text;
}

TEST(RequestTypeValues, AreTheWireCodes) {
  EXPECT_EQ(static_cast<int>(RequestType::Get), 0);
  EXPECT_EQ(static_cast<int>(RequestType::Post), 1);
  EXPECT_EQ(static_cast<int>(RequestType::Put), 2);
  EXPECT_EQ(static_cast<int>(RequestType::Patch), 3);
  EXPECT_EQ(static_cast<int>(RequestType::Delete), 4);
}

TEST(ParseAuthorization, Cases) {
  using Kind = Credentials::Kind;
  struct Case {
    std::optional<std::string> header;
    Kind kind;
    std::string user;
    std::string password;
    bool authorized;
  };
  const std::vector<Case> cases = {
      {std::nullopt, Kind::None, "", "", false},
      {"", Kind::None, "", "", false},
      {"Basic dmFyb3NhOnF1aWJldDQ2OTM=", Kind::Basic, "varosa", "quibet4693", true},
      {"basic dmFyb3NhOnF1aWJldDQ2OTM=", Kind::Basic, "varosa", "quibet4693", true},
      {"BASIC dmFyb3NhOnF1aWJldDQ2OTM=", Kind::Basic, "varosa", "quibet4693", true},
      {"Basic   dmFyb3NhOnF1aWJldDQ2OTM=  ", Kind::Basic, "varosa", "quibet4693", true},
      {"Basic VmFyb3NhOnF1aWJldDQ2OTM=", Kind::Basic, "Varosa", "quibet4693", false},
      {"Basic dmFyb3NhOg==", Kind::Basic, "varosa", "", false},
      {"Basic dmFyb3Nh", Kind::Basic, "varosa", "", false},
      {"Basic dTpwOmFzcw==", Kind::Basic, "u", "p:ass", false},
      {"Basic", Kind::Basic, "", "", false},
      {"Bearer abc", Kind::OtherScheme, "", "", false},
      {"Digest username=\"varosa\"", Kind::OtherScheme, "", "", false},
      {"Basicx dmFyb3NhOnF1aWJldDQ2OTM=", Kind::OtherScheme, "", "", false},
      {"dmFyb3NhOnF1aWJldDQ2OTM=", Kind::OtherScheme, "", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header.value_or("<none>"));
    const Credentials credentials =
        ParseAuthorization(c.header ? std::optional<std::string_view>(*c.header) : std::nullopt);
    EXPECT_EQ(credentials.kind, c.kind);
    EXPECT_EQ(credentials.user, c.user);
    EXPECT_EQ(credentials.password, c.password);
    EXPECT_EQ(IsAuthorized(credentials), c.authorized);
  }
}

TEST(HttpDate, ImfFixdateInGmt) {
  const std::vector<std::pair<std::time_t, std::string>> cases = {
      {784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
      {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
      {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
      {1735689599, "Tue, 31 Dec 2024 23:59:59 GMT"},
  };
  for (const auto& [when, text] : cases) EXPECT_EQ(HttpDate(when), text);
}

// The date is computed without the C library; it must agree with it on every
// day and time of day, leap years and century years included.
TEST(HttpDate, AgreesWithTheCLibraryAcrossCenturies) {
  const auto reference = [](std::time_t when) {
    std::tm tm{};
    gmtime_r(&when, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return std::string(text);
  };
  // From 1901 to 2200 in steps of a little over a day, so that every time of
  // day and every day of the month comes round.
  for (std::time_t when = -2'145'916'800; when < 7'258'118'400; when += 86'400 + 3'607) {
    ASSERT_EQ(HttpDate(when), reference(when)) << when;
  }
}

TEST(ReplyHead, UnauthorizedReply) {
  EXPECT_EQ(ReplyHead(UnauthorizedReply(), 784111777),
            "HTTP/1.1 401 Unauthorized\r\n"
            "Connection: close\r\n"
            "Content-Type: text/html; charset=utf-8\r\n"
            "Content-Length: 49\r\n"
            "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
            "Access-Control-Allow-Origin: *\r\n"
            "WWW-Authenticate: Basic realm=\"Provide Authentication\"\r\n"
            "\r\n");
  EXPECT_EQ(UnauthorizedReply().body, "<HTML><BODY><B>401 Unauthorized</B></BODY></HTML>");
}

TEST(ReplyHead, EmptyReplyHasNoContentType) {
  EXPECT_EQ(ReplyHead(EmptyReply(), 0),
            "HTTP/1.1 200 OK\r\n"
            "Connection: close\r\n"
            "Content-Length: 0\r\n"
            "Date: Thu, 01 Jan 1970 00:00:00 GMT\r\n"
            "Access-Control-Allow-Origin: *\r\n"
            "\r\n");
}

TEST(ReplyHead, FieldsOfTheReply) {
  struct Case {
    const char* name;
    HttpReply reply;
    std::string head;
  };
  std::vector<Case> cases(4);
  cases[0].name = "type without charset";
  cases[0].reply.contentType = "text/html";
  cases[0].reply.body = "abc";
  cases[0].head = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: 3\r\n";
  cases[1].name = "type, charset, encoding, reason";
  cases[1].reply.status = 500;
  cases[1].reply.reason = "RXJybw==";
  cases[1].reply.contentType = "application/json";
  cases[1].reply.charset = "ansi";
  cases[1].reply.contentEncoding = "ansi";
  cases[1].head =
      "HTTP/1.1 500 RXJybw==\r\nConnection: close\r\nContent-Type: application/json; charset=ansi\r\n"
      "Content-Encoding: ansi\r\nContent-Length: 0\r\n";
  cases[2].name = "line breaks cannot split the head";
  cases[2].reply.status = 404;
  cases[2].reply.reason = "a\r\nb";
  cases[2].reply.extraHeaders = {{"X-A\r\n", "1\n2"}};
  cases[2].head = "HTTP/1.1 404 ab\r\nConnection: close\r\nContent-Length: 0\r\n";
  cases[3].name = "status without a standard reason";
  cases[3].reply.status = 299;
  cases[3].head = "HTTP/1.1 299 Unknown\r\nConnection: close\r\nContent-Length: 0\r\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string head = ReplyHead(c.reply, 0);
    std::string expected = c.head + "Date: Thu, 01 Jan 1970 00:00:00 GMT\r\nAccess-Control-Allow-Origin: *\r\n";
    for (const auto& [name, value] : c.reply.extraHeaders) {
      std::string n = name;
      std::string v = value;
      std::erase(n, '\r');
      std::erase(n, '\n');
      std::erase(v, '\r');
      std::erase(v, '\n');
      expected += n + ": " + v + "\r\n";
    }
    EXPECT_EQ(head, expected + "\r\n");
  }
}

TEST(StandardReason, KnownAndUnknownCodes) {
  EXPECT_EQ(StandardReason(200), "OK");
  EXPECT_EQ(StandardReason(401), "Unauthorized");
  EXPECT_EQ(StandardReason(413), "Payload Too Large");
  EXPECT_EQ(StandardReason(431), "Request Header Fields Too Large");
  EXPECT_EQ(StandardReason(500), "Internal Server Error");
  EXPECT_EQ(StandardReason(299), "Unknown");
  EXPECT_EQ(StandardReason(0), "Unknown");
  EXPECT_EQ(StandardReason(-5), "Unknown");
  EXPECT_EQ(StandardReason(100000), "Unknown");
}

TEST(FailureReply, TextBody) {
  const HttpReply reply = FailureReply(500, "Invalid DWParam");
  EXPECT_EQ(reply.status, 500);
  EXPECT_EQ(reply.body, "Invalid DWParam");
  EXPECT_EQ(reply.contentType, "text/html");
  EXPECT_EQ(reply.charset, "utf-8");
}

}  // namespace
}  // namespace quelvar::service
