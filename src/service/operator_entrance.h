#pragma once
// A second door on the listener, for the operator: requests whose path lies
// under the door's prefix are answered by it instead of the request handler,
// and reach it without the desktop clients' Basic credentials (an
// Authorization header is neither required nor looked at, and no Basic
// challenge is ever sent from there). Every other request still goes through
// the credentials and to the handler; the door is told how long each of those
// took, for its figures.
//
// Everything else of the listener's gate holds for the door's requests too:
// the header limits and deadlines, the body budget and rate, the method filter;
// and since no credential has been checked before their body is read, that
// body may hold at most kMaxEntranceBodyBytes (413 otherwise).

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

#include "service/http_exchange.h"

namespace quelvar::service {

inline constexpr std::uint64_t kMaxEntranceBodyBytes = 64 * 1024;

// What the door learns of the connection beside the request.
struct EntranceContext {
  bool overTls = false;
  // Records a failed login from the request's address in the listener's
  // login throttle and waits as long as it says (the same slowdown as a
  // wrong Basic credential).
  std::function<void()> loginFailed;
  // Puts a refusal of the door (a form without its token) on the listener's
  // list of refusals, with `reason`.
  std::function<void(std::string_view reason)> refused;
};

class OperatorEntrance {
 public:
  virtual ~OperatorEntrance() = default;
  // True when the path (without the query) belongs to the door.
  virtual bool Takes(std::string_view path) const = 0;
  // Answers one of its requests on the connection's thread; an exception that
  // escapes becomes a 500 as for the handler.
  virtual void Handle(const HttpRequest& request, HttpReply& reply, const EntranceContext& context) = 0;
  // A request of the handler was answered with `status` after `took`.
  virtual void Served(int status, std::chrono::steady_clock::duration took) = 0;
};

}  // namespace quelvar::service
