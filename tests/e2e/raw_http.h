#pragma once
// Raw HTTP over loopback for tests: exact bytes out, exact bytes back.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quelvar::test {

using namespace std::chrono_literals;

// What came back on a connection until the server closed it (or the wait ended).
struct RawResult {
  std::string bytes;      // everything received, exactly
  bool closed = false;    // the server closed the connection (orderly or reset)
  bool reset = false;     // ... with a reset
  bool timedOut = false;  // the wait ended first
};

// Which loopback addresses a connection runs between (IPv4 texts).
struct LoopbackRoute {
  std::string from;             // the client's own address, e.g. "127.0.0.2"
  std::string to = "127.0.0.1";
};

// One client connection to 127.0.0.1 (or ::1).
class RawConnection {
 public:
  // Throws std::runtime_error when it cannot connect.
  explicit RawConnection(std::uint16_t port, bool ipv6 = false);
  RawConnection(std::uint16_t port, const LoopbackRoute& route);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  // Sends every byte; false when the connection broke.
  bool Send(std::string_view bytes);
  // Reads until the server closes the connection or `timeout` passes.
  RawResult ReadToClose(std::chrono::milliseconds timeout = 10s);
  // Reads until `marker` has arrived (true) or the connection closes or the wait ends (false).
  bool ReadUntil(std::string_view marker, std::string& into, std::chrono::milliseconds timeout = 10s);
  // Shuts down the sending side.
  void FinishSending();
  // Closes at once with a reset (SO_LINGER 0), as a client that aborts.
  void Abort();
  // The local port of this connection.
  std::uint16_t LocalPort() const;

 private:
  int fd_ = -1;
};

// Connects, sends `request`, reads until the server closes.
RawResult Exchange(std::uint16_t port, std::string_view request, std::chrono::milliseconds timeout = 10s);

// "Authorization: Basic <base64 of user:password>\r\n"
std::string BasicAuthorizationLine(std::string_view user, std::string_view password);
// The header line with the service's credentials.
std::string GoodAuthorizationLine();

// A reply split into its parts (for checks; exact bytes stay in RawResult).
struct ParsedReply {
  std::string statusLine;
  std::vector<std::pair<std::string, std::string>> headers;  // in order
  std::string body;
  bool complete = false;  // a whole header block was found

  // The value of the first header of that name (any letter case).
  std::optional<std::string> Header(std::string_view name) const;
  std::size_t Count(std::string_view name) const;
};
ParsedReply ParseReply(std::string_view raw);

// True when `text` is an IMF-fixdate such as "Sun, 06 Nov 1994 08:49:37 GMT".
bool IsImfFixdate(std::string_view text);

// The whole reply to a request without valid credentials, its date masked.
inline const std::string kUnauthorizedReply =
    "HTTP/1.1 401 Unauthorized\r\n"
    "Connection: close\r\n"
    "Content-Type: text/html; charset=utf-8\r\n"
    "Content-Length: 49\r\n"
    "Date: <date>\r\n"
    "Access-Control-Allow-Origin: *\r\n"
    "WWW-Authenticate: Basic realm=\"Provide Authentication\"\r\n"
    "\r\n"
    "<HTML><BODY><B>401 Unauthorized</B></BODY></HTML>";

// The reply with the value of its Date header replaced by "<date>" when that
// value is an IMF-fixdate (unchanged otherwise), for exact comparisons.
std::string MaskDate(std::string_view raw);

}  // namespace quelvar::test
