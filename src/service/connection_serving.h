#pragma once
// One connection of the listener, from its first byte to its close: the
// request is read through the gate the listener's header describes
// (listener.h), answered by the handler, and the connection closed after the
// reply (the client's late bytes drained first, so that the close does not
// reset what it has not read yet).

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>

#include "service/body_budget.h"
#include "service/connection_roster.h"
#include "service/http_exchange.h"
#include "service/listener_options.h"
#include "service/login_throttle.h"
#include "service/operator_entrance.h"
#include "service/peer_address.h"

namespace quelvar::service {

// What one connection needs of its listener.
struct ConnectionScope {
  std::shared_ptr<const ListenerOptions> options;
  BodyBudget& budget;
  LoginThrottle& throttle;
  RequestHandler& handler;
  // The operator's door (operator_entrance.h), when one is set.
  OperatorEntrance* entrance;
  // Told of each request and of refused credentials.
  ConnectionRoster& roster;
  // Waits for the given time unless the listener stops first.
  std::function<void(std::chrono::milliseconds)> pause;
  Peer peer;
  std::chrono::steady_clock::time_point accepted;
  // The header deadline of this connection (shorter when the server is crowded).
  std::chrono::milliseconds headerDeadline;
  // Cleared once the header block has arrived: until then the connection is
  // the first to go when the cap is reached.
  std::atomic<bool>& awaitingHeader;
};

// The whole life of one connection on the accepted socket `fd` (plain, or
// TLS with `tls`): read one request, answer it, close. Returns the size of
// the reply's body.
std::size_t ServeConnection(int fd, boost::asio::io_context::executor_type executor, boost::asio::ssl::context* tls,
                            ConnectionScope& scope);

}  // namespace quelvar::service
