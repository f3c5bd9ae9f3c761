// The event service inside the real server binary, spoken to with raw HTTP
// over loopback: the worked "Sobre" reply and a group's event list byte for
// byte, compression, asynchronous calls and the module counter.

#include <signal.h>
#include <zlib.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "formats/base64.h"
#include "raw_http.h"
#include "server_process.h"

namespace quelvar::test {
namespace {

const std::string kAuth = GoodAuthorizationLine();

std::string Inflate(const std::string& compressed) {
  z_stream stream{};
  inflateInit(&stream);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  std::string out;
  char buffer[4096];
  int rc = Z_OK;
  do {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    rc = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  } while (rc == Z_OK);
  inflateEnd(&stream);
  EXPECT_EQ(rc, Z_STREAM_END);
  return out;
}

std::string JsonReply(const std::string& status, const std::string& body) {
  return "HTTP/1.1 " + status +
         "\r\nConnection: close\r\nContent-Type: application/json; charset=ansi\r\nContent-Encoding: ansi\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\nDate: <date>\r\nAccess-Control-Allow-Origin: *\r\n\r\n" + body;
}

// The multipart request of the worked example, calling "Sobre".
std::string SobreRequest(const std::string& extraHeaders = "") {
  const std::string boundary = "QuelvarE2E";
  const std::string group = "{\"ObjectType\":\"toObject\", \"Direction\":\"odIN\", \"Encoded\":\"true\", "
                            "\"ValueType\":\"ovString\", \"TAGJSON\":\"" +
                            EncodeText("TDM.DWServerEventsFerramentas") + "\"}";
  const std::string resposta = "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", "
                               "\"ValueType\":\"ovString\", \"RESPOSTA\":null}";
  std::string body;
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"dwservereventname", group}, {"dwassyncexec", "false"}, {"binaryrequest", "false"}, {"Resposta", resposta}}) {
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
  }
  body += "--" + boundary + "--\r\n";
  return "POST /Sobre HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kAuth + extraHeaders +
         "Content-Type: multipart/form-data; boundary=" + boundary + "\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string kSobreEnvelope =
    "{\"PARAMS\":[{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", "
    "\"ValueType\":\"ovString\", \"RESPOSTA\":\"MS41\"}], \"RESULT\":[{\"MESSAGE\":\"OK\",  \"RESULT\":\"OK\"}]}";

class EventServiceEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Start();
    ASSERT_TRUE(server_.WaitUntilAccepting()) << server_.Stderr();
    caption_ = "Servidor do Banco de Dados do Quelvar 1.5 - Porta " + std::to_string(server_.port()) + "\n";
    ASSERT_TRUE(server_.WaitForStdout(caption_));
  }

  RawResult Ask(const std::string& request) { return Exchange(server_.port(), request); }

  // Asks for the counter (SIGUSR1) until the server prints `expected`; an
  // asynchronous event may still be starting when the first answer comes.
  bool CounterReaches(int expected) {
    const std::string line = "Qtd. de acessos ao banco de dados: " + std::to_string(expected) + "\n";
    for (int attempt = 0; attempt < 200; ++attempt) {
      ::kill(server_.pid(), SIGUSR1);
      if (server_.WaitForStdout(line, 50ms)) return true;
    }
    return false;
  }

  ServerProcess server_;
  std::string caption_;
};

TEST_F(EventServiceEndToEnd, SobreAnswersTheWorkedReplyByteForByte) {
  const RawResult multipart = Ask(SobreRequest());
  EXPECT_TRUE(multipart.closed);
  EXPECT_EQ(MaskDate(multipart.bytes), JsonReply("200 OK", kSobreEnvelope));
  const RawResult byPath = Ask("GET /DWServerEventsFerramentas/Sobre HTTP/1.1\r\nHost: x\r\n" + kAuth + "\r\n");
  EXPECT_EQ(MaskDate(byPath.bytes), JsonReply("200 OK", kSobreEnvelope));
}

TEST_F(EventServiceEndToEnd, GetEventsListsTheConfigurationGroup) {
  const std::string list =
      "[{\"serverevents\":["
      "{\"eventname\":\"Consulta\", \"jsonmode\":\"jmEnvelope\", \"params\":["
      "{\"typeobject\":\"toParam\", \"objectdirection\":\"odOUT\", \"objectvalue\":\"ovString\", "
      "\"paramname\":\"Tabela\", \"encoded\":\"true\", \"default\":\"\"}]}, "
      "{\"eventname\":\"Grava\", \"jsonmode\":\"jmEnvelope\", \"params\":["
      "{\"typeobject\":\"toParam\", \"objectdirection\":\"odIN\", \"objectvalue\":\"ovString\", "
      "\"paramname\":\"Tabela\", \"encoded\":\"true\", \"default\":\"\"}, "
      "{\"typeobject\":\"toParam\", \"objectdirection\":\"odOUT\", \"objectvalue\":\"ovString\", "
      "\"paramname\":\"Resposta\", \"encoded\":\"true\", \"default\":\"\"}]}, "
      "{\"eventname\":\"ServerTime\", \"jsonmode\":\"jmEnvelope\", \"params\":["
      "{\"typeobject\":\"toParam\", \"objectdirection\":\"odOUT\", \"objectvalue\":\"ovDateTime\", "
      "\"paramname\":\"Resultado\", \"encoded\":\"true\", \"default\":\"\"}]}"
      "]}]";
  const std::string body =
      "{\"PARAMS\":["
      "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"false\", \"ValueType\":\"ovBoolean\", "
      "\"ERROR\":false}, "
      "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", \"ValueType\":\"ovString\", "
      "\"MESSAGEERROR\":null}, "
      "{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", \"ValueType\":\"ovString\", "
      "\"RESULT\":\"" +
      EncodeText(list) + "\"}], \"RESULT\":[{\"MESSAGE\":\"OK\",  \"RESULT\":\"OK\"}]}";
  const RawResult reply = Ask("GET /DWServerEventsT03_CONF/GETEVENTS HTTP/1.1\r\nHost: x\r\n" + kAuth + "\r\n");
  EXPECT_EQ(MaskDate(reply.bytes), JsonReply("200 OK", body));
}

TEST_F(EventServiceEndToEnd, CompressionOfSuccessAndOfFailure) {
  const ParsedReply ok = ParseReply(Ask(SobreRequest("datacompression: true\r\n")).bytes);
  EXPECT_EQ(ok.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(ok.Header("Content-Encoding"), "ansi");
  const std::string inflated = Inflate(ok.body);
  ASSERT_GE(inflated.size(), 4u);
  const auto* b = reinterpret_cast<const unsigned char*>(inflated.data());
  EXPECT_EQ(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24, static_cast<int>(kSobreEnvelope.size()));
  EXPECT_EQ(inflated.substr(4), kSobreEnvelope);

  const RawResult notFound =
      Ask("GET /Nada HTTP/1.1\r\nHost: x\r\ndatacompression: true\r\n" + kAuth + "\r\n");
  EXPECT_EQ(MaskDate(notFound.bytes),
            "HTTP/1.1 404 RXZlbnQgbm90IGZvdW5kLi4u\r\nConnection: close\r\n"
            "Content-Type: application/json; charset=ansi\r\nContent-Encoding: ansi\r\nContent-Length: 0\r\n"
            "Date: <date>\r\nAccess-Control-Allow-Origin: *\r\n\r\n");
}

TEST_F(EventServiceEndToEnd, TenConcurrentRequestsRaiseTheCounterByTen) {
  ASSERT_TRUE(CounterReaches(0));
  std::vector<std::thread> clients;
  std::vector<RawResult> results(10);
  for (std::size_t i = 0; i < results.size(); ++i) {
    clients.emplace_back([this, &results, i] {
      results[i] = Ask("GET /DWServerEventsFerramentas/Sobre HTTP/1.1\r\nHost: x\r\n" + kAuth + "\r\n");
    });
  }
  for (auto& c : clients) c.join();
  for (const RawResult& r : results) EXPECT_EQ(ParseReply(r.bytes).body, kSobreEnvelope);
  EXPECT_TRUE(CounterReaches(10)) << server_.Stdout();
}

TEST_F(EventServiceEndToEnd, AsynchronousCallIsAcknowledgedAndItsEventStillRuns) {
  const RawResult reply =
      Ask("GET /DWServerEventsT04_MATE/Consulta HTTP/1.1\r\nHost: x\r\ndwassyncexec: true\r\n" + kAuth + "\r\n");
  const ParsedReply parsed = ParseReply(reply.bytes);
  EXPECT_EQ(parsed.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(parsed.body, "{\"status\":\"OK\", \"assyncmsg\":\"AssyncCommand Executed\"}");
  EXPECT_TRUE(CounterReaches(1)) << server_.Stdout();
}

TEST_F(EventServiceEndToEnd, BadInputGetsClearReplies) {
  const std::string badParam = "--b\r\nContent-Disposition: form-data; name=\"Resposta\"\r\n\r\n{\"ObjectType\":\r\n--b--\r\n";
  const ParsedReply malformed = ParseReply(
      Ask("POST /Sobre HTTP/1.1\r\nHost: x\r\n" + kAuth + "Content-Type: multipart/form-data; boundary=b\r\n"
          "Content-Length: " + std::to_string(badParam.size()) + "\r\n\r\n" + badParam).bytes);
  EXPECT_EQ(malformed.statusLine, "HTTP/1.1 500 Internal Server Error");
  EXPECT_NE(malformed.body.find("erro no caracter"), std::string::npos) << malformed.body;

  const std::string block(40, '\x06');
  const std::string binary = "--b\r\nContent-Disposition: form-data; name=\"binarydata\"\r\n\r\n" + block + "\r\n--b--\r\n";
  const ParsedReply invalidStream = ParseReply(
      Ask("POST /Sobre HTTP/1.1\r\nHost: x\r\nbinaryrequest: true\r\n" + kAuth +
          "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: " + std::to_string(binary.size()) +
          "\r\n\r\n" + binary).bytes);
  EXPECT_EQ(invalidStream.statusLine, "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(invalidStream.body, "Invalid Stream...");

  // The server is still there.
  EXPECT_EQ(ParseReply(Ask(SobreRequest()).bytes).body, kSobreEnvelope);
}

}  // namespace
}  // namespace quelvar::test
