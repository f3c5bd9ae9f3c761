#include "client/event_answer.h"

#include <memory>

#include "formats/base64.h"
#include "data/dataset_json.h"
#include "formats/json_text.h"
#include "formats/params.h"
#include "formats/text_codec.h"

namespace quelvar::client {
namespace {

bool LooksLikeRecordSet(std::string_view text) {
  const std::string_view t = Trim(text);
  return !t.empty() && t.front() == '{' && t.find("\"toDataset\"") != std::string_view::npos;
}

// The reason phrase of a failed call as a person reads it: the server puts
// its answer text there Base64-encoded; a phrase that is not exactly that
// stays as it is.
std::string ReasonText(std::string_view reason) {
  try {
    std::string decoded = DecodeText(reason);
    if (!decoded.empty() && EncodeText(decoded) == reason) return decoded;
  } catch (const std::exception&) {
  }
  return std::string(reason);
}

// A parameter's value as a person reads it: dates, floats and flags in the
// server's display forms, anything else as its text.
std::string DisplayValue(const TJSONParam& param) {
  const TObjectValue type = param.ValueType();
  if (!param.IsNull() && (IsDateType(type) || IsFloatType(type) || type == TObjectValue::ovBoolean)) {
    try {
      return param.GetVariantValue().asText();
    } catch (const std::exception&) {
    }
  }
  return param.GetAsString();
}

bool Sent(const std::vector<std::string>& sentNames, std::string_view name) {
  for (const std::string& s : sentNames)
    if (EqualsIgnoreCase(s, name)) return true;
  return false;
}

}  // namespace

EventAnswer ReadEventAnswer(const HttpAnswer& http, const std::vector<std::string>& sentNames,
                            std::string_view group, std::string_view event) {
  EventAnswer answer;
  answer.status = http.status;
  if (http.status == 401) {
    // The body is the server's fixed page, of no use to a person.
    answer.failed = true;
    answer.failureReason = "wrong user or password (HTTP 401)";
    return answer;
  }
  if (http.status >= 400) {
    answer.failed = true;
    answer.failureReason = "HTTP " + std::to_string(http.status) + " " + ReasonText(http.reason);
    if (!Trim(http.body).empty()) answer.failureReason += ": " + std::string(Trim(http.body));
    if (http.status == 404 && !event.empty())
      answer.failureReason += " (no event '" + std::string(event) + "' in group '" + std::string(group) + "')";
    return answer;
  }
  const std::string_view body = Trim(http.body);
  if (body.empty() || body.front() != '{') {
    answer.result = http.body;
    return answer;
  }
  // {"PARAMS":[P], "RESULT":[R]}: R is written unescaped, so only P is read as JSON.
  constexpr std::string_view kResultKey = ", \"RESULT\":[";
  const auto resultAt = body.rfind(kResultKey);
  const std::string paramsText =
      resultAt == std::string_view::npos ? std::string(body) : std::string(body.substr(0, resultAt)) + "}";
  if (resultAt != std::string_view::npos) {
    std::string_view result = body.substr(resultAt + kResultKey.size());
    if (result.size() >= 2 && result.substr(result.size() - 2) == "]}") result.remove_suffix(2);
    if (result.size() >= 2 && result.front() == '"' && result.back() == '"') result = result.substr(1, result.size() - 2);
    answer.result = std::string(result);
  }
  const json::Wrapper list = json::Wrapper::Of(paramsText).arrayUnder("PARAMS");
  for (std::size_t i = 0; i < list.count(); ++i) {
    const json::Value* element = list.valueAt(i);
    if (!element || element->kind != json::Kind::Object) continue;
    TJSONParam param(TEncodeSelect::esASCII);
    param.FromJSON(element->asText());
    OutputValue out;
    // The name as the server wrote it (the fifth member's key).
    out.name = element->members.size() >= 5 ? element->members[4].key : param.ParamName();
    out.text = DisplayValue(param);
    if (LooksLikeRecordSet(out.text)) {
      TJSONValue holder;
      WriteToDataset(holder, out.text, out.table);
      out.isTable = true;
    }
    answer.outputs.push_back(std::move(out));
  }
  for (const OutputValue& out : answer.outputs) {
    if (answer.failed) break;
    if (!out.isTable && out.text.rfind(kFailurePrefix, 0) == 0) {
      answer.failed = true;
      answer.failureReason = out.text;
    } else if (EqualsIgnoreCase(out.name, "Tabela") && !out.isTable && Trim(out.text).empty() &&
               !Sent(sentNames, out.name)) {
      answer.failed = true;
      answer.failureReason =
          "the query answered an empty Tabela; the server's log holds the reason, in an entry that begins with "
          "the query's option or event name and \" --> \"";
    }
  }
  return answer;
}

}  // namespace quelvar::client
