#include "client/event_request.h"

#include <curl/curl.h>

#include <memory>

#include "formats/base64.h"
#include "formats/text_codec.h"

namespace quelvar::client {
namespace {

constexpr std::string_view kBoundary = "QuelvarClientBoundary7f3a";
std::string GroupHolderText(std::string_view group) {
  return "{\"ObjectType\":\"toObject\", \"Direction\":\"odIN\", \"Encoded\":\"true\", "
         "\"ValueType\":\"ovString\", \"TAGJSON\":\"" +
         EncodeText(group) + "\"}";
}

size_t AppendBody(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// Keeps the reason phrase of the last status line seen.
size_t ReadHeader(char* data, size_t size, size_t count, void* target) {
  const std::string_view line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) {
    std::string_view rest = line;
    for (int skip = 0; skip < 2; ++skip) {
      const auto space = rest.find(' ');
      rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    }
    while (!rest.empty() && (rest.back() == '\r' || rest.back() == '\n')) rest.remove_suffix(1);
    *static_cast<std::string*>(target) = std::string(rest);
  }
  return size * count;
}

struct CurlCleanup {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct ListCleanup {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

std::string MultipartBody(std::string_view boundary, std::string_view group, const std::vector<ParamField>& params) {
  std::vector<ParamField> fields = {{"dwservereventname", GroupHolderText(group)}};
  fields.insert(fields.end(), params.begin(), params.end());
  std::string body;
  for (const auto& [name, value] : fields) {
    body += "--";
    body += boundary;
    body += "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
  }
  body += "--";
  body += boundary;
  body += "--\r\n";
  return body;
}

HttpAnswer CallEvent(const ServerAddress& server, std::string_view group, std::string_view event,
                     const std::vector<ParamField>& params) {
  std::unique_ptr<CURL, CurlCleanup> curl(curl_easy_init());
  if (!curl) throw TransportError("the HTTP library could not start");
  std::string host = server.host;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  const std::string url = std::string(server.tls ? "https://" : "http://") + host + ":" + std::to_string(server.port) + "/" + std::string(event);
  const std::string body = MultipartBody(kBoundary, group, params);

  curl_slist* raw = nullptr;
  raw = curl_slist_append(raw, ("Content-Type: multipart/form-data; boundary=" + std::string(kBoundary)).c_str());
  raw = curl_slist_append(raw, ("Authorization: Basic " + EncodeBytes(server.user + ":" + server.password)).c_str());
  raw = curl_slist_append(raw, "Expect:");
  std::unique_ptr<curl_slist, ListCleanup> headers(raw);

  HttpAnswer answer;
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_POST, 1L);
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer.body);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, ReadHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &answer.reason);
  curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
  const std::string local = "host!" + server.localAddress;
  if (!server.localAddress.empty()) curl_easy_setopt(c, CURLOPT_INTERFACE, local.c_str());
  if (server.tls) {
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!server.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, server.caFile.c_str());
  }
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 10L);
  // Compressed replies are announced with a charset label, not a coding: take the bytes as sent.
  curl_easy_setopt(c, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  const CURLcode code = curl_easy_perform(c);
  if (code != CURLE_OK) throw TransportError(url + ": " + curl_easy_strerror(code));
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  answer.status = static_cast<int>(status);
  return answer;
}

}  // namespace quelvar::client
