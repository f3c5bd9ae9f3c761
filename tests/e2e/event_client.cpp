#include "event_client.h"

#include <gtest/gtest.h>

#include "formats/base64.h"
#include "formats/json_text.h"
#include "raw_http.h"

namespace quelvar::test {

std::string StringParam(std::string_view name, std::string_view value, TObjectDirection direction) {
  TJSONParam p(TEncodeSelect::esASCII);
  p.SetParamName(name);
  p.SetDirection(direction);
  p.SetEncoded(true);
  p.SetAsString(value);
  return p.ToJSON();
}

std::string OutParam(std::string_view name) {
  TJSONParam p(TEncodeSelect::esASCII);
  p.SetParamName(name);
  p.SetDirection(TObjectDirection::odOUT);
  return p.ToJSON();
}

std::string EventReply::Text(std::string_view name) const {
  const TJSONParam* p = params.GetRecName(name);
  return p ? p->GetAsString() : std::string();
}

EventReply CallEvent(std::uint16_t port, std::string_view group, std::string_view event,
                     const std::vector<std::pair<std::string, std::string>>& params,
                     std::chrono::milliseconds timeout) {
  const std::string boundary = "QuelvarEventClient";
  const std::string groupText = "{\"ObjectType\":\"toObject\", \"Direction\":\"odIN\", \"Encoded\":\"true\", "
                                "\"ValueType\":\"ovString\", \"TAGJSON\":\"" +
                                EncodeText(group) + "\"}";
  std::vector<std::pair<std::string, std::string>> fields = {{"dwservereventname", groupText}};
  fields.insert(fields.end(), params.begin(), params.end());
  std::string body;
  for (const auto& [name, value] : fields)
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
  body += "--" + boundary + "--\r\n";
  const std::string request = "POST /" + std::string(event) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                              GoodAuthorizationLine() + "Content-Type: multipart/form-data; boundary=" + boundary +
                              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;

  EventReply reply;
  const ParsedReply parsed = ParseReply(Exchange(port, request, timeout).bytes);
  const auto space = parsed.statusLine.find(' ');
  reply.status = space == std::string::npos ? 0 : std::stoi(parsed.statusLine.substr(space + 1, 3));
  reply.body = parsed.body;
  if (reply.status == 200 && !reply.body.empty() && reply.body.front() == '{') {
    const json::Wrapper list = json::Wrapper::Of(reply.body).arrayUnder("PARAMS");
    for (std::size_t i = 0; i < list.count(); ++i) {
      auto p = std::make_unique<TJSONParam>(TEncodeSelect::esASCII);
      p->FromJSON(list.element(i).value()->asText());
      reply.params.Add(std::move(p));
    }
  }
  return reply;
}

}  // namespace quelvar::test
