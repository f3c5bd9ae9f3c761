#include "service/reply_writer.h"

#include "formats/base64.h"
#include "formats/param_block.h"
#include "service/reply_compression.h"
#include "service/status_page.h"

namespace quelvar::service {
namespace {

constexpr std::string_view kJsonMediaType = "application/json";

bool Contains(std::string_view text, char c) { return text.find(c) != std::string_view::npos; }

void SetJsonHead(TEncodeSelect encoding, HttpReply& reply) {
  reply.contentType = std::string(kJsonMediaType);
  reply.charset = std::string(CharsetLabel(encoding));
  reply.contentEncoding = std::string(CharsetLabel(encoding));
}

// Status, body and reason from the reply text and the payload that stands for
// it on the wire (the text itself, or a binary block).
void SetBody(int status, std::string_view text, std::string payload, bool compress, HttpReply& reply) {
  reply.status = status;
  if (!compress) {
    reply.body = std::move(payload);
    return;
  }
  if (status == 200) {
    reply.body = CompressReplyBody(payload);
  } else {
    reply.body.clear();
    reply.reason = EncodeText(text);
  }
}

}  // namespace

std::string_view CharsetLabel(TEncodeSelect encoding) {
  return encoding == TEncodeSelect::esUtf8 ? "utf-8" : "ansi";
}

std::string WrapResult(std::string_view result) {
  if (Trim(result).empty()) return std::string(result);
  const bool braces = Contains(result, '{') && Contains(result, '}');
  const bool brackets = Contains(result, '[') && Contains(result, ']');
  const bool quoted = result.front() == '"' && result.back() == '"';
  if (braces || brackets || quoted) return std::string(result);
  std::string out;
  out.reserve(result.size() + 2);
  out += '"';
  out += result;
  out += '"';
  return out;
}

std::string Envelope(const TDWParams& params, std::string_view result) {
  // One allocation for the whole text in the usual case: a parameter's text
  // is its stored value and about a hundred bytes around it.
  std::size_t size = result.size() + 64;
  for (int i = 0; i < params.Count(); ++i) {
    const TJSONParam* param = params.GetRec(i);
    if (param->Direction() != TObjectDirection::odIN) size += param->StoredSize() + param->ParamName().size() + 128;
  }
  std::string out;
  out.reserve(size);
  out += "{\"PARAMS\":[";
  bool any = false;
  for (int i = 0; i < params.Count(); ++i) {
    const TJSONParam* param = params.GetRec(i);
    if (param->Direction() == TObjectDirection::odIN) continue;
    if (any) out += ", ";
    param->AppendJSON(out);
    any = true;
  }
  if (!any) out += "null";
  out += "], \"RESULT\":[";
  out += WrapResult(result);
  out += "]}";
  return out;
}

void WriteStatusPage(TEncodeSelect encoding, HttpReply& reply) {
  reply.status = 200;
  reply.contentType = "text/html";
  reply.charset = std::string(CharsetLabel(encoding));
  reply.body = std::string(kStatusPage);
}

void WriteAsyncAcknowledgement(const RequestFlags& flags, TEncodeSelect encoding, HttpReply& reply) {
  SetJsonHead(encoding, reply);
  SetBody(200, kAsyncAcknowledgement, std::string(kAsyncAcknowledgement), flags.compression, reply);
}

void WriteEventReply(const DispatchOutcome& outcome, const TDWParams& params, const RequestFlags& flags,
                     TEncodeSelect encoding, HttpReply& reply) {
  SetJsonHead(encoding, reply);
  int status = outcome.status;
  if (outcome.noEventNamed) {
    SetBody(status, {}, std::string(), flags.compression, reply);
    return;
  }
  std::string text;
  if (outcome.mode == TJsonMode::jmPureJSON) {
    text = Trim(outcome.result).empty() ? std::string("{}") : outcome.result;
  } else {
    text = Envelope(params, outcome.result);
    if (flags.binary) status = 200;
  }
  if (flags.binary) {
    SetBody(status, text, SaveToStream(params, TDWParamExpType::tdwpxt_OUT), flags.compression, reply);
  } else if (flags.compression) {
    SetBody(status, text, text, flags.compression, reply);
  } else {
    SetBody(status, {}, std::move(text), false, reply);  // the reply text is the body, moved, not copied
  }
}

}  // namespace quelvar::service
