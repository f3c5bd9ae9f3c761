// The reply: result wrapping, the envelope, bare texts, binary blocks, the
// asynchronous acknowledgement and compression.

#include "service/reply_writer.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "formats/base64.h"
#include "formats/param_block.h"
#include "service/reply_compression.h"
#include "service_test_support.h"

namespace quelvar::service {
namespace {

using test::Inflate;
using test::LengthPrefix;

TEST(WrapResult, QuotesOnlyPlainTexts) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Hello", "\"Hello\""},
      {"\"Hello\"", "\"Hello\""},
      {"[1,2]", "[1,2]"},
      {"{\"a\":1}", "{\"a\":1}"},
      {"a{b", "\"a{b\""},
      {"a]b[", "a]b["},
      {"", ""},
      {"  ", "  "},
      {"\"aberta", "\"\"aberta\""},
      {"linha\r\nnova", "\"linha\r\nnova\""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(WrapResult(in), out) << in;
}

TJSONParam& AddParam(TDWParams& params, std::string_view name, TObjectDirection direction, std::string_view value) {
  TJSONParam& p = params.AddNew();
  p.SetParamName(name);
  p.SetDirection(direction);
  p.SetAsString(value);
  return p;
}

TEST(Envelope, WritesOutAndInOutParametersInListOrder) {
  TDWParams params;
  params.vEncoding = TEncodeSelect::esASCII;
  AddParam(params, "Entrada", TObjectDirection::odIN, "x");
  AddParam(params, "Resposta", TObjectDirection::odOUT, "OK");
  AddParam(params, "Tabela", TObjectDirection::odINOUT, "T");
  EXPECT_EQ(Envelope(params, "Hello"),
            "{\"PARAMS\":[{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", "
            "\"ValueType\":\"ovString\", \"RESPOSTA\":\"T0s=\"}, {\"ObjectType\":\"toParam\", \"Direction\":\"odINOUT\", "
            "\"Encoded\":\"true\", \"ValueType\":\"ovString\", \"TABELA\":\"VA==\"}], \"RESULT\":[\"Hello\"]}");
}

TEST(Envelope, NoOutputParametersGiveNull) {
  TDWParams params;
  AddParam(params, "Entrada", TObjectDirection::odIN, "x");
  EXPECT_EQ(Envelope(params, ""), "{\"PARAMS\":[null], \"RESULT\":[]}");
  TDWParams empty;
  EXPECT_EQ(Envelope(empty, "[1]"), "{\"PARAMS\":[null], \"RESULT\":[[1]]}");
}

TEST(ReplyHead, CharsetLabels) {
  EXPECT_EQ(CharsetLabel(TEncodeSelect::esASCII), "ansi");
  EXPECT_EQ(CharsetLabel(TEncodeSelect::esANSI), "ansi");
  EXPECT_EQ(CharsetLabel(TEncodeSelect::esUtf8), "utf-8");
  TDWParams params;
  DispatchOutcome outcome;
  outcome.result = "x";
  HttpReply reply;
  WriteEventReply(outcome, params, RequestFlags{}, TEncodeSelect::esUtf8, reply);
  EXPECT_EQ(reply.contentType, "application/json");
  EXPECT_EQ(reply.charset, "utf-8");
  EXPECT_EQ(reply.contentEncoding, "utf-8");
}

struct ReplyCase {
  std::string label;
  DispatchOutcome outcome;
  RequestFlags flags;
  int status;
  std::string body;  // for uncompressed text replies
};

DispatchOutcome Outcome(std::string result, int status, TJsonMode mode, bool noEvent = false) {
  DispatchOutcome o;
  o.result = std::move(result);
  o.status = status;
  o.mode = mode;
  o.noEventNamed = noEvent;
  return o;
}

TEST(WriteEventReply, BodiesByModeAndStatus) {
  TDWParams params;
  AddParam(params, "Resposta", TObjectDirection::odOUT, "OK");
  const std::string envelopeOk =
      "{\"PARAMS\":[{\"ObjectType\":\"toParam\", \"Direction\":\"odOUT\", \"Encoded\":\"true\", "
      "\"ValueType\":\"ovString\", \"RESPOSTA\":\"T0s=\"}], \"RESULT\":[{\"MESSAGE\":\"OK\",  \"RESULT\":\"OK\"}]}";
  const std::vector<ReplyCase> cases = {
      {"envelope", Outcome(std::string(kResultOk), 200, TJsonMode::jmEnvelope), {}, 200, envelopeOk},
      {"undefined_mode_is_an_envelope", Outcome(std::string(kResultOk), 200, TJsonMode::jmUndefined), {}, 200, envelopeOk},
      {"bare_text", Outcome("Event not found...", 404, TJsonMode::jmPureJSON), {}, 404, "Event not found..."},
      {"blank_bare_text", Outcome(" ", 500, TJsonMode::jmPureJSON), {}, 500, "{}"},
      {"group_only_has_an_empty_body", Outcome("Event not found...", 404, TJsonMode::jmPureJSON, true), {}, 404, ""},
  };
  for (const ReplyCase& c : cases) {
    HttpReply reply;
    WriteEventReply(c.outcome, params, c.flags, TEncodeSelect::esASCII, reply);
    EXPECT_EQ(reply.status, c.status) << c.label;
    EXPECT_EQ(reply.body, c.body) << c.label;
    EXPECT_EQ(reply.reason, "") << c.label;
  }
}

TEST(WriteEventReply, CompressedSuccessCarriesTheLengthPrefix) {
  TDWParams params;
  AddParam(params, "Resposta", TObjectDirection::odOUT, "Situação çá");
  RequestFlags flags;
  flags.compression = true;
  HttpReply reply;
  WriteEventReply(Outcome(std::string(kResultOk), 200, TJsonMode::jmEnvelope), params, flags, TEncodeSelect::esASCII,
                  reply);
  EXPECT_EQ(reply.status, 200);
  ASSERT_GE(reply.body.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(reply.body[0]), 0x78);  // zlib header
  const std::string inflated = Inflate(reply.body);
  EXPECT_EQ(LengthPrefix(inflated), inflated.size() - 4);
  EXPECT_EQ(inflated.substr(4), Envelope(params, kResultOk));
}

TEST(WriteEventReply, CompressedFailureMovesTheTextToTheReason) {
  TDWParams params;
  RequestFlags flags;
  flags.compression = true;
  HttpReply reply;
  WriteEventReply(Outcome("Event not found...", 404, TJsonMode::jmPureJSON), params, flags, TEncodeSelect::esASCII,
                  reply);
  EXPECT_EQ(reply.status, 404);
  EXPECT_EQ(reply.body, "");
  EXPECT_EQ(reply.reason, EncodeText("Event not found..."));
  EXPECT_EQ(reply.reason, "RXZlbnQgbm90IGZvdW5kLi4u");
}

TEST(WriteEventReply, BinaryReplyIsTheBlockOfOutputParameters) {
  TDWParams params;
  AddParam(params, "Entrada", TObjectDirection::odIN, "x");
  AddParam(params, "Resposta", TObjectDirection::odOUT, "São João");
  RequestFlags flags;
  flags.binary = true;
  HttpReply reply;
  // An envelope-mode outcome takes status 200 in binary mode.
  WriteEventReply(Outcome(std::string(kResultInvalidPooler), 404, TJsonMode::jmEnvelope), params, flags,
                  TEncodeSelect::esASCII, reply);
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, SaveToStream(params, TDWParamExpType::tdwpxt_OUT));
  TDWParams back;
  LoadFromStream(back, reply.body, TDWParamExpType::tdwpxt_All);
  ASSERT_EQ(back.Count(), 1);
  EXPECT_EQ(back.Item("Resposta").GetAsString(), "São João");

  flags.compression = true;
  HttpReply compressed;
  WriteEventReply(Outcome(std::string(kResultOk), 200, TJsonMode::jmEnvelope), params, flags, TEncodeSelect::esASCII,
                  compressed);
  const std::string inflated = Inflate(compressed.body);
  EXPECT_EQ(LengthPrefix(inflated), inflated.size() - 4);
  EXPECT_EQ(inflated.substr(4), SaveToStream(params, TDWParamExpType::tdwpxt_OUT));
}

TEST(AsyncAcknowledgement, PlainAndCompressed) {
  HttpReply plain;
  WriteAsyncAcknowledgement(RequestFlags{}, TEncodeSelect::esASCII, plain);
  EXPECT_EQ(plain.status, 200);
  EXPECT_EQ(plain.body, "{\"status\":\"OK\", \"assyncmsg\":\"AssyncCommand Executed\"}");
  EXPECT_EQ(plain.contentType, "application/json");
  RequestFlags flags;
  flags.compression = true;
  HttpReply compressed;
  WriteAsyncAcknowledgement(flags, TEncodeSelect::esASCII, compressed);
  EXPECT_EQ(Inflate(compressed.body).substr(4), plain.body);
}

TEST(CompressReplyBody, RoundTripsSizesAroundBufferBoundaries) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65536},
                           std::size_t{3u << 20}}) {
    std::string payload(size, '\0');
    std::uint32_t state = 12345;
    for (char& c : payload) {
      state = state * 1103515245u + 12345u;
      c = static_cast<char>(state >> 24);
    }
    const std::string inflated = Inflate(CompressReplyBody(payload));
    ASSERT_EQ(inflated.size(), size + 4) << size;
    EXPECT_EQ(LengthPrefix(inflated), size);
    EXPECT_EQ(inflated.substr(4), payload) << size;
  }
}

}  // namespace
}  // namespace quelvar::service
