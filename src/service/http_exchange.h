#pragma once
// The seam between the HTTP listener and the event service: what the listener
// hands over for one request, and the reply the service fills in.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quelvar::service {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Method code of a request that passed the listener's method filter, taken
// from the upper-cased start of the request text: "GET" and "PUT" by their
// first 3 characters, "POST", "DELE" and "PATC" by their first 4.
enum class RequestType { Get = 0, Post = 1, Put = 2, Patch = 3, Delete = 4 };

struct HttpRequest {
  std::string requestLine;  // as received, e.g. "GET /a/b?x=1 HTTP/1.1"
  std::string requestText;  // request line without " HTTP/1.0", " HTTP/1.1", " HTTP/2.0", " HTTP/2.1"
  std::string method;       // as received
  std::string path;         // without the query string, not percent-decoded
  std::string query;        // raw query string (after "?"), not decoded
  HeaderList headers;       // every header, in order, as received
  std::string contentType;  // the Content-Type value, "" when absent
  std::string body;         // body bytes (already de-chunked)
  std::string authUser;     // from the Basic credentials
  std::string authPassword;
  std::string peerIp;
  std::string peerIpVersion;  // "ipv4" or "ipv6"
  std::uint16_t peerPort = 0;
  std::string userAgent;
  std::string referer;
  RequestType requestType = RequestType::Get;  // set by the listener
};

struct HttpReply {
  int status = 200;
  std::string reason;          // "" selects the standard reason phrase of `status`
  std::string contentType;     // without the charset label, e.g. "application/json"
  std::string charset;         // label appended as "; charset=<label>" when not empty
  std::string contentEncoding; // "" or e.g. "deflate"
  HeaderList extraHeaders;     // added verbatim
  std::string body;
  // Work that runs on the connection's thread after the reply has been
  // written and before the connection is closed (the event of an
  // asynchronous call, acknowledged first). Empty for most replies.
  std::function<void()> afterWrite;
  // The catalogue's names of the group and event the request reached, however
  // it named them (path or field), for the server's figures; empty when it
  // reached no event. Never written to the client.
  std::string group;
  std::string event;
};

// Handles one authenticated request whose method is one of GET, POST, PUT,
// PATCH, DELETE and whose path is not the icon. Runs on the connection's
// thread. An exception that escapes becomes a status-500 reply whose body is
// the exception's message.
class RequestHandler {
 public:
  virtual void Handle(const HttpRequest& request, HttpReply& reply) = 0;
  virtual ~RequestHandler() = default;
};

}  // namespace quelvar::service
