#pragma once
// The HTTP listener: one TCP port (on every local address, or on the one the
// options name), optionally a second port speaking HTTP over TLS, accepting
// threads: at most kReadyThreads wait in accept() on each listening socket
// (the kernel hands a connection over once its first bytes have arrived, and
// takes a descriptor for each waiting thread); the one that takes a
// connection serves it and then waits again unless kReadyThreads already
// wait (then it ends), and another starts whenever none is left waiting. One
// request per connection.
//
// The connection cap is the configured one lowered to what the open-file
// limit allows beside a reserve for the database, backups, logs and the
// panel (descriptor_budget.h; computed at each activation, see
// Descriptors()). At the cap, a newly accepted connection takes the place of
// the oldest one that has not yet sent its whole header block (that one is
// closed without a reply); when every open connection has sent its header,
// the new one waits for a slot. Connections accepted while more than half
// the cap is in use get at most kCrowdedHeaderDeadline for their header block.
//
// Every request goes through the same gate before it reaches the handler:
//   1. request line and header block are read (at most kMaxHeaderLines lines,
//      kMaxHeaderBytes bytes, kMaxFieldBytes per field), within the header
//      deadline counted from the accept; a request line without any space
//      closes the connection without a reply;
//   2. every reply carries "Access-Control-Allow-Origin: *";
//   3. protocol limits, judged on the header block: a header block or field
//      too large gets 431, a transfer coding other than plain "chunked" 501,
//      a query string over kMaxQueryBytes bytes or kMaxQueryPairs pairs 414,
//      an announced body over kMaxBodyBytes 413;
//   4. an Authorization header with a scheme other than Basic closes the
//      connection without a reply; missing or wrong credentials get the fixed
//      401 (delayed when the address has failed too often, see LoginThrottle)
//      and the connection closes: the body is never read;
//   5. the body is read: its bytes are taken from the total body budget first
//      (503 when it is spent); it must keep the minimum average rate; a
//      url-encoded form over kMaxQueryPairs pairs gets 413;
//   6. methods other than GET, PUT, POST, DELETE and PATCH (by their first 3 or
//      4 upper-cased characters) get 200 with an empty body, and so does the
//      exact path "/favicon.ico";
//   7. everything else goes to RequestHandler::Handle; an exception escaping it
//      becomes a 500 whose body is the exception's message.
// A request the HTTP parser cannot read gets 400; a client that goes away, or
// passes the idle time, the header deadline or the minimum body rate, ends its
// request silently. At most limits.maxConnections connections are served at
// once, and limits.maxConnectionsPerAddress from one client address (further
// ones from that address are closed at once). Replies always carry
// "Connection: close", Content-Length and Date. The connection is closed after
// the reply, and after the reply's afterWrite work when it has some.
//
// Static files are not served by the listener: with the root "/" no ordinary
// request path resolves to a file, and serving arbitrary paths of the machine
// is refused on purpose. The event service's own file fallback (files of the
// program folder) is the only file path.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "service/descriptor_budget.h"
#include "service/listener_error.h"
#include "service/protocol_limits.h"
#include "service/http_exchange.h"
#include "service/listener_options.h"

namespace quelvar::service {

// The defaults of ListenerLimits, by their old names.
inline constexpr std::chrono::milliseconds kIdleTimeout{120'000};
inline constexpr std::size_t kMaxConnections = 4096;
// The header deadline of connections accepted while more than half the cap is in use.
inline constexpr std::chrono::milliseconds kCrowdedHeaderDeadline{10'000};

class Listener {
 public:
  // The handler must outlive the listener (or its activation).
  explicit Listener(RequestHandler& handler);
  ~Listener();  // stops the listener and joins every thread

  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // The handler used for requests accepted from now on. Meant to be set while
  // the listener is inactive.
  void SetHandler(RequestHandler& handler);

  // Port used by the next activation; 0 lets the system choose one.
  void SetPort(std::uint16_t port);
  std::uint16_t Port() const;

  // Credentials, address, TLS port and limits used by the next activation
  // (the limits also by connections accepted from now on).
  void SetOptions(const ListenerOptions& options);
  ListenerOptions Options() const;
  // Told of refused credentials, at most once per client address per minute:
  // the address and the failures since its last report (LoginThrottle).
  void SetLoginFailureReport(std::function<void(const std::string& address, std::size_t failures)> report);

  // true: drops any earlier binding, binds the port on the configured address
  // (every local address when none: IPv6 dual-stack, IPv4 when IPv6 is
  // unavailable), and the TLS port when set, and starts accepting; throws
  // ListenerError and stays inactive when a port cannot be opened, the
  // address is not one of this machine, or the TLS files cannot be used.
  // false: stops accepting, shuts down every open connection and waits until
  // every connection thread has ended. Harmless when already inactive.
  void SetActive(bool active);
  bool Active() const;

  // The port actually bound while active (useful with port 0); 0 otherwise.
  std::uint16_t BoundPort() const;
  // The TLS port actually bound while active; 0 otherwise or without TLS.
  std::uint16_t BoundTlsPort() const;

  // Stops accepting and shuts down every open connection without waiting for
  // the connection threads, for a process that ends right afterwards. A
  // request whose handler is running finishes its handler and then finds its
  // connection closed. SetActive(false) or the destructor still waits for the
  // threads.
  void StopNow() noexcept;

  // The idle time and the connection cap (kIdleTimeout, kMaxConnections by
  // default); taken by connections accepted from now on.
  void SetIdleTimeout(std::chrono::milliseconds idle);
  void SetMaxConnections(std::size_t count);

  // The open-file figures of the last activation, with the connection cap
  // now in force (the configured cap, lowered to what the limit allows).
  DescriptorBudget Descriptors() const;

  // Connections currently open (accepted and not yet finished).
  std::size_t OpenConnections() const;
  // The listener's threads: those serving a connection and those waiting in
  // accept() for the next.
  std::size_t Threads() const;

  // For a graceful stop: StopAccepting() closes the listening sockets (new
  // clients are refused by the system) and lets open connections finish;
  // WaitIdle() waits until none is open or `deadline` passes, and tells
  // whether none is. SetActive(false) afterwards closes what is left.
  void StopAccepting() noexcept;
  bool WaitIdle(std::chrono::steady_clock::time_point deadline) const;

 private:
  struct Impl;  // sockets and threads; keeps the socket library out of this header
  std::unique_ptr<Impl> impl_;
};

}  // namespace quelvar::service
