#pragma once
// Helpers of the event-service suites: request values as the listener builds
// them, a recording operator console, a temporary folder and a zlib reader.

#include <zlib.h>

#include <atomic>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "formats/base64.h"
#include "formats/text_codec.h"
#include "service/http_exchange.h"
#include "service/http_gate.h"
#include "data/operator_console.h"

namespace quelvar::service::test {

// A console that counts modules and keeps every log entry.
class RecordingConsole final : public OperatorConsole {
 public:
  void countModule() override { ++count_; }
  void log(std::string entry) override {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  int count() const { return count_.load(); }
  std::vector<std::string> entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }

 private:
  std::atomic<int> count_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

// A request as the listener hands it over: `target` is path and query.
inline HttpRequest MakeRequest(std::string_view method, std::string_view target, HeaderList headers = {},
                               std::string body = {}) {
  HttpRequest request;
  request.method = std::string(method);
  request.requestLine = std::string(method) + " " + std::string(target) + " HTTP/1.1";
  request.requestText = RequestTextOf(request.requestLine);
  const auto question = target.find('?');
  request.path = std::string(target.substr(0, question));
  if (question != std::string_view::npos) request.query = std::string(target.substr(question + 1));
  for (const auto& [name, value] : headers) {
    if (EqualsIgnoreCase(name, "Content-Type")) request.contentType = value;
    if (EqualsIgnoreCase(name, "Referer")) request.referer = value;
    if (EqualsIgnoreCase(name, "User-Agent")) request.userAgent = value;
  }
  request.headers = std::move(headers);
  request.body = std::move(body);
  request.authUser = std::string(kServiceUser);
  request.authPassword = std::string(kServicePassword);
  request.peerIp = "127.0.0.1";
  request.peerIpVersion = "ipv4";
  request.peerPort = 40000;
  const auto type = ClassifyMethod(request.requestText);
  if (!type) throw std::invalid_argument("method not handled by the service");
  request.requestType = *type;
  return request;
}

// Percent escapes for every byte but letters, digits and "-._~".
inline std::string PercentEncodeForTest(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// The two headers every client sends.
inline HeaderList ClientHeaders() {
  return {{"Host", "127.0.0.1:8082"},
          {"Authorization", "Basic " + EncodeText(std::string(kServiceUser) + ":" + std::string(kServicePassword))}};
}

// A parameter text as clients write it: the string value as EncodeText.
inline std::string ParamText(std::string_view name, std::string_view direction, std::string_view plainValue) {
  return "{\"ObjectType\":\"toParam\", \"Direction\":\"" + std::string(direction) +
         "\", \"Encoded\":\"true\", \"ValueType\":\"ovString\", \"" + std::string(name) + "\":\"" +
         EncodeText(plainValue) + "\"}";
}

// The value-holder text of a group name.
inline std::string GroupHolderText(std::string_view group) {
  return "{\"ObjectType\":\"toObject\", \"Direction\":\"odIN\", \"Encoded\":\"true\", \"ValueType\":\"ovString\", "
         "\"TAGJSON\":\"" +
         EncodeText(group) + "\"}";
}

// A multipart body of (name, value) fields, and the Content-Type naming its boundary.
inline constexpr std::string_view kBoundary = "----QuelvarBoundary7MA4YWxk";
inline std::string MultipartOf(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string body;
  for (const auto& [name, value] : fields) {
    body += "--" + std::string(kBoundary) + "\r\n";
    body += "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n";
    body += value + "\r\n";
  }
  body += "--" + std::string(kBoundary) + "--\r\n";
  return body;
}
inline std::string MultipartContentType() { return "multipart/form-data; boundary=" + std::string(kBoundary); }

// Inflates a zlib stream (any size, for tests only).
inline std::string Inflate(std::string_view compressed) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) throw std::runtime_error("inflateInit");
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  std::string out;
  char buffer[4096];
  int rc = Z_OK;
  do {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    rc = inflate(&stream, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) {
      inflateEnd(&stream);
      throw std::runtime_error("not a zlib stream");
    }
    out.append(buffer, sizeof buffer - stream.avail_out);
  } while (rc != Z_STREAM_END);
  inflateEnd(&stream);
  return out;
}

// The 4-byte little-endian length at the start of `payload`.
inline std::uint32_t LengthPrefix(std::string_view payload) {
  if (payload.size() < 4) throw std::runtime_error("no length prefix");
  const auto* b = reinterpret_cast<const unsigned char*>(payload.data());
  return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
         static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

// A fresh folder under the system's temporary folder, removed at the end.
class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() / ("quelvar-svc-" + std::to_string(random()) + "-" +
                                                      std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace quelvar::service::test
