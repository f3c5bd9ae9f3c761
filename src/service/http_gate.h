#pragma once
// The listener's fixed rules, as plain functions: the request text, the method
// filter, the Basic credentials, the fixed replies and the reply head. The
// listener (listener.cpp) applies them to sockets; tests call them directly.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "service/http_exchange.h"
#include "service/listener_options.h"

namespace quelvar::service {

// The credentials of the service unless the operator sets others.
inline constexpr std::string_view kServiceUser = kDefaultServiceUser;
inline constexpr std::string_view kServicePassword = kDefaultServicePassword;

// The request line without every " HTTP/1.0", " HTTP/1.1", " HTTP/2.0" and
// " HTTP/2.1": "GET /a?b=1 HTTP/1.1" -> "GET /a?b=1".
std::string RequestTextOf(std::string_view requestLine);

// The method code from the upper-cased start of the request text, or nothing
// for any other method (HEAD, OPTIONS, TRACE, ...), which is answered with an
// empty 200.
std::optional<RequestType> ClassifyMethod(std::string_view requestText);

// Where the header block that starts `received` (request line included)
// ends: the offset just past its empty line, or nothing while it has not
// arrived whole.
std::optional<std::size_t> HeaderBlockEnd(std::string_view received);

// True when a line of the header block `block` continues the one before it
// (starts with a blank or a tab): such a request is refused with 400, so
// that no field is read differently here and by a proxy in front.
bool HasFoldedLine(std::string_view block);

// What the Authorization header says.
struct Credentials {
  enum class Kind {
    None,         // no header, or an empty value
    Basic,        // scheme Basic (any letter case); user and password decoded
    OtherScheme,  // any other scheme: the connection is closed without a reply
  };
  Kind kind = Kind::None;
  std::string user;
  std::string password;
};
Credentials ParseAuthorization(std::optional<std::string_view> headerValue);

// True when the credentials are Basic and equal `user` and `password` exactly
// (letter case included). The comparison takes the same time wherever the
// texts differ.
bool IsAuthorized(const Credentials& credentials, std::string_view user = kServiceUser,
                  std::string_view password = kServicePassword);

// The fixed replies of the listener.
HttpReply UnauthorizedReply();    // 401 with the realm "Provide Authentication"
HttpReply EmptyReply();           // 200, no content type, empty body
HttpReply FailureReply(int status, std::string message);  // text body

// "Sun, 06 Nov 1994 08:49:37 GMT" (IMF-fixdate, always GMT, English names).
std::string HttpDate(std::time_t when);

// The standard reason phrase of a status code ("Unknown" for codes without one).
std::string_view StandardReason(int status);

// The status line and header block of a reply, ending in the empty line:
// status line (reply.reason when not empty), "Connection: close",
// Content-Type (+ "; charset=" label), Content-Encoding, Content-Length,
// Date, "Access-Control-Allow-Origin: *", then reply.extraHeaders in order.
// CR and LF are removed from the reason and from extra header names/values.
std::string ReplyHead(const HttpReply& reply, std::time_t now);

}  // namespace quelvar::service
