#pragma once
// The HTTP listener: one TCP port on all local addresses, one acceptor thread,
// one thread per accepted connection, one request per connection.
//
// Every request goes through the same gate before it reaches the handler:
//   1. request line and header block are read (at most kMaxHeaderLines lines);
//      a request line without any space closes the connection without a reply;
//   2. every reply carries "Access-Control-Allow-Origin: *";
//   3. an Authorization header with a scheme other than Basic closes the
//      connection without a reply; missing or wrong credentials get the fixed
//      401 reply;
//   4. methods other than GET, PUT, POST, DELETE and PATCH (by their first 3 or
//      4 upper-cased characters) get 200 with an empty body, and so does the
//      exact path "/favicon.ico";
//   5. everything else goes to RequestHandler::Handle; an exception escaping it
//      becomes a 500 whose body is the exception's message.
// A header block over kMaxHeaderLines lines or kMaxHeaderBytes bytes gets 431,
// a body over kMaxBodyBytes 413 (before authentication: the body is never
// read), a request the HTTP parser cannot read 400; a client that goes away,
// or stays silent past the idle time while its request is read, ends its
// request silently. At most kMaxConnections connections are served at once.
// Replies always carry "Connection: close", Content-Length and Date. The
// connection is closed after the reply, and after the reply's afterWrite work
// when it has some.
//
// Static files are not served by the listener: with the root "/" no ordinary
// request path resolves to a file, and serving arbitrary paths of the machine
// is refused on purpose. The event service's own file fallback (files of the
// program folder) is the only file path.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "service/http_exchange.h"

namespace quelvar::service {

// Longest header block accepted, in lines (the request line not counted).
inline constexpr std::size_t kMaxHeaderLines = 1024;
// Longest header block accepted, in bytes (request line included).
inline constexpr std::uint32_t kMaxHeaderBytes = 16u * 1024u * 1024u;
// Largest request body accepted; a larger one gets 413 and the connection closes.
inline constexpr std::uint64_t kMaxBodyBytes = 256ull * 1024ull * 1024ull;
// A client that sends nothing (or reads nothing of its reply) for this long
// while its request is read (or its reply written) is disconnected silently.
inline constexpr std::chrono::milliseconds kIdleTimeout{120'000};
// Connections served at once; further ones wait in the system's backlog until
// one of these ends.
inline constexpr std::size_t kMaxConnections = 4096;

// Raised when the listener cannot be activated; what() is the socket layer's
// message (for instance "Address already in use").
class ListenerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

  // true: drops any earlier binding, binds the port on all local addresses
  // (IPv6 dual-stack, IPv4 when IPv6 is unavailable) and starts accepting;
  // throws ListenerError and stays inactive when the port cannot be opened.
  // false: stops accepting, shuts down every open connection and waits until
  // every connection thread has ended. Harmless when already inactive.
  void SetActive(bool active);
  bool Active() const;

  // The port actually bound while active (useful with port 0); 0 otherwise.
  std::uint16_t BoundPort() const;

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

  // Connection threads currently alive (accepted and not yet finished).
  std::size_t OpenConnections() const;

 private:
  struct Impl;  // sockets and threads; keeps the socket library out of this header
  std::unique_ptr<Impl> impl_;
};

}  // namespace quelvar::service
