#include "replica/s3_store.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "tools/sha256_hex.h"

namespace quelvar::replica {

namespace {

struct Upload {
  std::span<const std::uint8_t> bytes;
  std::size_t at = 0;
};

std::size_t Collect(char *data, std::size_t size, std::size_t count, void *target) {
  static_cast<std::string *>(target)->append(data, size * count);
  return size * count;
}

std::size_t Feed(char *into, std::size_t size, std::size_t count, void *source) {
  auto *upload = static_cast<Upload *>(source);
  const std::size_t n = std::min(size * count, upload->bytes.size() - upload->at);
  std::memcpy(into, upload->bytes.data() + upload->at, n);
  upload->at += n;
  return n;
}

// The text between <tag> and </tag> from `from`; npos when absent.
std::string_view Element(std::string_view xml, std::string_view tag, std::size_t &from) {
  const std::string open = "<" + std::string(tag) + ">";
  const std::string close = "</" + std::string(tag) + ">";
  const std::size_t start = xml.find(open, from);
  if (start == std::string_view::npos) {
    from = std::string_view::npos;
    return {};
  }
  const std::size_t end = xml.find(close, start + open.size());
  if (end == std::string_view::npos) {
    from = std::string_view::npos;
    return {};
  }
  from = end + close.size();
  return xml.substr(start + open.size(), end - start - open.size());
}

std::string XmlText(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    bool matched = false;
    for (const auto &[entity, c] : kEntities) {
      if (text.substr(i, entity.size()) == entity) {
        out += c;
        i += entity.size() - 1;
        matched = true;
        break;
      }
    }
    if (!matched) out += '&';
  }
  return out;
}

std::string FirstLine(std::string text) {
  const std::size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  if (text.size() > 200) text.resize(200);
  return text;
}

}  // namespace

std::string S3Encode(std::string_view text, bool keepSlash) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || (keepSlash && c == '/')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

S3Listing ParseS3Listing(std::string_view xml) {
  S3Listing listing;
  std::size_t at = 0;
  while (at != std::string_view::npos) {
    const std::string_view contents = Element(xml, "Contents", at);
    if (at == std::string_view::npos) break;
    std::size_t inner = 0;
    const std::string_view key = Element(contents, "Key", inner);
    if (inner != std::string_view::npos) listing.keys.push_back(XmlText(key));
  }
  std::size_t truncatedAt = 0;
  const std::string_view truncated = Element(xml, "IsTruncated", truncatedAt);
  if (truncatedAt != std::string_view::npos && truncated == "true") {
    std::size_t tokenAt = 0;
    const std::string_view token = Element(xml, "NextContinuationToken", tokenAt);
    if (tokenAt != std::string_view::npos) listing.nextToken = XmlText(token);
  }
  return listing;
}

S3Store::S3Store(S3Access access, std::string bucket, std::string prefix)
    : access_(std::move(access)), bucket_(std::move(bucket)), prefix_(std::move(prefix)) {
  while (!access_.endpoint.empty() && access_.endpoint.back() == '/') access_.endpoint.pop_back();
  if (!prefix_.empty()) prefix_ += '/';
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string S3Store::ObjectPath(const std::string &key) const {
  return "/" + S3Encode(bucket_, false) + "/" + S3Encode(prefix_ + key, true);
}

S3Store::Reply S3Store::Request(const char *method, const std::string &pathAndQuery,
                                std::span<const std::uint8_t> payload, std::chrono::milliseconds limit) {
  CURL *curl = curl_easy_init();
  if (!curl) throw StoreError("cannot start an S3 request");
  Reply reply;
  Upload upload{payload, 0};
  const std::string url = access_.endpoint + pathAndQuery;
  const std::string sigv4 = "aws:amz:" + access_.region + ":s3";
  const std::string credentials = access_.keyId + ":" + access_.secret;
  const std::string hash =
      "x-amz-content-sha256: " +
      tools::Sha256Hex({reinterpret_cast<const char *>(payload.data()), payload.size()});
  curl_slist *headers = curl_slist_append(nullptr, hash.c_str());
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_AWS_SIGV4, sigv4.c_str());
  curl_easy_setopt(curl, CURLOPT_USERPWD, credentials.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limit.count()));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::min<long long>(limit.count(), 5000)));
  if (std::strcmp(method, "PUT") == 0) {
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, Feed);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(payload.size()));
  } else if (std::strcmp(method, "GET") != 0) {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
  }
  const CURLcode result = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  if (result != CURLE_OK) throw StoreError(access_.endpoint + ": " + curl_easy_strerror(result));
  return reply;
}

void S3Store::Put(const std::string &key, std::span<const std::uint8_t> bytes, std::chrono::milliseconds limit) {
  const Reply reply = Request("PUT", ObjectPath(key), bytes, limit);
  if (reply.status != 200) {
    throw StoreError("PUT " + key + ": HTTP " + std::to_string(reply.status) + " " + FirstLine(reply.body));
  }
}

std::optional<std::vector<std::uint8_t>> S3Store::Get(const std::string &key, std::chrono::milliseconds limit) {
  Reply reply = Request("GET", ObjectPath(key), {}, limit);
  if (reply.status == 404) return std::nullopt;
  if (reply.status != 200) {
    throw StoreError("GET " + key + ": HTTP " + std::to_string(reply.status) + " " + FirstLine(reply.body));
  }
  return std::vector<std::uint8_t>(reply.body.begin(), reply.body.end());
}

std::vector<std::string> S3Store::List(const std::string &prefix, std::chrono::milliseconds limit) {
  std::vector<std::string> keys;
  std::string token;
  do {
    // Query parameters in the order the signature sorts them.
    std::string query = "?";
    if (!token.empty()) query += "continuation-token=" + S3Encode(token, false) + "&";
    query += "list-type=2&prefix=" + S3Encode(prefix_ + prefix, false);
    const Reply reply = Request("GET", "/" + S3Encode(bucket_, false) + query, {}, limit);
    if (reply.status != 200) {
      throw StoreError("listing " + prefix + ": HTTP " + std::to_string(reply.status) + " " + FirstLine(reply.body));
    }
    S3Listing page = ParseS3Listing(reply.body);
    for (std::string &key : page.keys) {
      if (key.starts_with(prefix_)) keys.push_back(key.substr(prefix_.size()));
    }
    token = std::move(page.nextToken);
  } while (!token.empty());
  std::sort(keys.begin(), keys.end());
  return keys;
}

void S3Store::Remove(const std::string &key, std::chrono::milliseconds limit) {
  const Reply reply = Request("DELETE", ObjectPath(key), {}, limit);
  if (reply.status != 204 && reply.status != 200 && reply.status != 404) {
    throw StoreError("DELETE " + key + ": HTTP " + std::to_string(reply.status) + " " + FirstLine(reply.body));
  }
}

}  // namespace quelvar::replica
