// The service as the listener sees it: the worked "Sobre" reply byte for
// byte, compression, asynchronous calls, the module counter under concurrent
// requests, and requests made of arbitrary bytes.

#include "service/event_service.h"

#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "formats/base64.h"
#include "host/standard_handlers.h"
#include "service/http_gate.h"
#include "service/reserved_names.h"
#include "service_test_support.h"

namespace quelvar::service {
namespace {

using test::ClientHeaders;
using test::Inflate;
using test::LengthPrefix;
using test::MakeRequest;
using test::MultipartContentType;
using test::MultipartOf;
using test::ParamText;
using test::RecordingConsole;
using test::TempFolder;

// The worked reply of "Sobre": the version text "1.5" as RESPOSTA.
constexpr std::string_view kSobreEnvelope =
    "{\"PARAMS\":[{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", "
    "\"ValueType\":\"ovString\", \"RESPOSTA\":\"MS41\"}], \"RESULT\":[{\"MESSAGE\":\"OK\",  \"RESULT\":\"OK\"}]}";

class EventServiceTest : public ::testing::Test {
 protected:
  HttpReply Send(const HttpRequest& request) {
    HttpReply reply;
    service_.Handle(request, reply);
    return reply;
  }
  HttpRequest SobreMultipart(std::vector<std::pair<std::string, std::string>> extra = {}) {
    std::vector<std::pair<std::string, std::string>> fields = {
        {"dwservereventname", test::GroupHolderText("TDM.DWServerEventsFerramentas")},
        {"Resposta", "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", "
                     "\"ValueType\":\"ovString\", \"RESPOSTA\":null}"}};
    for (auto& f : extra) fields.push_back(std::move(f));
    HeaderList headers = ClientHeaders();
    headers.emplace_back("Content-Type", MultipartContentType());
    return MakeRequest("POST", "/Sobre", std::move(headers), MultipartOf(fields));
  }

  RecordingConsole console_;
  TempFolder folder_;
  EventService service_{console_, folder_.path(), std::make_shared<DatabasePath>("/nowhere/QuelvarDB.db3"),
                        BuildEventCatalogue(), host::StandardHandlers()};
};

TEST_F(EventServiceTest, SobreAnswersTheWorkedReplyByteForByte) {
  const HttpReply fromDeclaration = Send(MakeRequest("GET", "/DWServerEventsFerramentas/Sobre", ClientHeaders()));
  const HttpReply fromField = Send(SobreMultipart());
  for (const HttpReply& reply : {fromDeclaration, fromField}) {
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, kSobreEnvelope);
    EXPECT_EQ(ReplyHead(reply, 784111777),
              "HTTP/1.1 200 OK\r\n"
              "Connection: close\r\n"
              "Content-Type: application/json; charset=ansi\r\n"
              "Content-Encoding: ansi\r\n"
              "Content-Length: " +
                  std::to_string(kSobreEnvelope.size()) +
                  "\r\n"
                  "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                  "Access-Control-Allow-Origin: *\r\n\r\n");
  }
  EXPECT_FALSE(fromField.afterWrite);
}

// The figures count a request under the group and event it reached, whether
// the path or a field named them.
TEST_F(EventServiceTest, TheReplyNamesTheGroupAndEventReachedHoweverTheyWereNamed) {
  struct Case {
    const char* name;
    HttpRequest request;
    const char* group;
    const char* event;
  };
  const Case cases[] = {
      {"path", MakeRequest("GET", "/DWServerEventsFerramentas/Sobre", ClientHeaders()), "DWServerEventsFerramentas",
       "Sobre"},
      {"path in other case", MakeRequest("GET", "/dwservereventsferramentas/SOBRE", ClientHeaders()),
       "DWServerEventsFerramentas", "Sobre"},
      {"group in a field", SobreMultipart(), "DWServerEventsFerramentas", "Sobre"},
      {"no such event", MakeRequest("GET", "/DWServerEventsFerramentas/Nada", ClientHeaders()), "", ""},
      {"status page", MakeRequest("GET", "/", ClientHeaders()), "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const HttpReply reply = Send(c.request);
    EXPECT_EQ(reply.group, c.group);
    EXPECT_EQ(reply.event, c.event);
  }
}

TEST_F(EventServiceTest, AnInputParameterIsNeverWrittenBack) {
  HeaderList headers = ClientHeaders();
  headers.emplace_back("Content-Type", MultipartContentType());
  const HttpReply reply = Send(MakeRequest("POST", "/DWServerEventsFerramentas/Sobre", std::move(headers),
                                           MultipartOf({{"Resposta", ParamText("RESPOSTA", "odIN", "")}})));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "{\"PARAMS\":[null], \"RESULT\":[{\"MESSAGE\":\"OK\",  \"RESULT\":\"OK\"}]}");
}

TEST_F(EventServiceTest, CompressedSobreDecompressesToPrefixAndEnvelope) {
  const HttpReply reply = Send(SobreMultipart({{"datacompression", "true"}}));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.contentEncoding, "ansi");
  const std::string inflated = Inflate(reply.body);
  EXPECT_EQ(LengthPrefix(inflated), kSobreEnvelope.size());
  EXPECT_EQ(inflated.substr(4), kSobreEnvelope);
}

TEST_F(EventServiceTest, CompressedNotFoundHasAnEmptyBodyAndTheTextInTheStatusLine) {
  HeaderList headers = ClientHeaders();
  headers.emplace_back("datacompression", "true");
  const HttpReply reply = Send(MakeRequest("GET", "/Nada", std::move(headers)));
  EXPECT_EQ(reply.status, 404);
  EXPECT_EQ(reply.body, "");
  EXPECT_EQ(ReplyHead(reply, 0).substr(0, 39), "HTTP/1.1 404 RXZlbnQgbm90IGZvdW5kLi4u\r\n");
}

TEST_F(EventServiceTest, AsynchronousCallIsAcknowledgedBeforeTheEventRuns) {
  HeaderList headers = ClientHeaders();
  headers.emplace_back("dwassyncexec", "true");
  const HttpReply reply = Send(MakeRequest("GET", "/DWServerEventsT04_MATE/Consulta", std::move(headers)));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "{\"status\":\"OK\", \"assyncmsg\":\"AssyncCommand Executed\"}");
  EXPECT_EQ(console_.count(), 0);
  ASSERT_TRUE(reply.afterWrite);
  reply.afterWrite();  // the event fails (no handler yet); the acknowledgement stands
  EXPECT_EQ(console_.count(), 1);
}

TEST_F(EventServiceTest, MalformedParameterTextIsStatus500WithTheReadersMessage) {
  HeaderList headers = ClientHeaders();
  headers.emplace_back("Content-Type", MultipartContentType());
  const HttpReply reply = Send(MakeRequest("POST", "/Sobre", std::move(headers),
                                           MultipartOf({{"Resposta", "{\"ObjectType\":\"toParam\", \"Direction\""}})));
  EXPECT_EQ(reply.status, 500);
  EXPECT_NE(reply.body.find("erro no caracter"), std::string::npos) << reply.body;
  EXPECT_EQ(console_.count(), 0);
}

TEST_F(EventServiceTest, TenConcurrentRequestsCountTenModules) {
  std::vector<std::thread> threads;
  std::vector<HttpReply> replies(10);
  for (int i = 0; i < 10; ++i) {
    threads.emplace_back([this, &replies, i] {
      replies[static_cast<std::size_t>(i)] = Send(MakeRequest("GET", "/DWServerEventsFerramentas/Sobre", ClientHeaders()));
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(console_.count(), 10);
  for (const HttpReply& reply : replies) EXPECT_EQ(reply.body, kSobreEnvelope);
}

// Arbitrary bytes in every place a client controls end in a reply, never in a
// crash or an escaping exception.
TEST_F(EventServiceTest, ArbitraryRequestsAlwaysGetAReply) {
  std::mt19937 random(4693);
  const std::vector<std::string> pieces = {
      "--", "\r\n", "=", "&", "%", "%4", "{", "}", "\"", ":", ", ", "dwservereventname", "binarydata", "TDM.",
      std::string(kParamJsonMarker), "odOUT", "name=\"a\"", "Content-Disposition: form-data; ", std::string(1, '\0'), "\xFF",
      "Sobre", "/", "?", "dwReadBodyRaw=1", "dwassyncexec=true", "x"};
  auto text = [&](int maxPieces) {
    std::string out;
    const int n = static_cast<int>(random() % static_cast<unsigned>(maxPieces));
    for (int i = 0; i < n; ++i) out += pieces[random() % pieces.size()];
    return out;
  };
  const std::vector<std::string> methods = {"GET", "POST", "PUT", "PATCH", "DELETE"};
  const std::vector<std::string> types = {"multipart/form-data; boundary=--", "application/x-www-form-urlencoded",
                                          "text/plain", ""};
  for (int round = 0; round < 1500; ++round) {
    HeaderList headers = ClientHeaders();
    headers.emplace_back("Content-Type", types[random() % types.size()]);
    if (random() % 3 == 0) headers.emplace_back(text(4), text(6));
    const std::string method = methods[random() % methods.size()];
    std::string target = "/" + text(4);
    for (char& c : target) {
      if (c == ' ' || c == '\0' || c == '\r' || c == '\n') c = '_';
    }
    HttpReply reply;
    ASSERT_NO_THROW(service_.Handle(MakeRequest(method, target, headers, text(20)), reply));
    EXPECT_GE(reply.status, 200);
    if (reply.afterWrite) reply.afterWrite();
  }
}

}  // namespace
}  // namespace quelvar::service
