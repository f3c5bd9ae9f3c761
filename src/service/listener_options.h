#pragma once
// What the operator may set about the listener: who may connect (the Basic
// credentials, the address to listen on), the optional TLS port, and the
// limits that keep hostile clients from exhausting the server. The defaults
// are those a fresh installation runs with.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quelvar::service {

// The credentials every request must carry unless the operator sets others.
inline constexpr std::string_view kDefaultServiceUser = "varosa";
inline constexpr std::string_view kDefaultServicePassword = "quibet4693";

struct ListenerLimits {
  // A client that sends nothing (or reads nothing of its reply) for this long
  // is disconnected silently.
  std::chrono::milliseconds idleTimeout{120'000};
  // The request line and the header block must have arrived this long after
  // the connection was accepted; past it the connection closes silently.
  std::chrono::milliseconds headerDeadline{60'000};
  // Once `bodyGrace` has passed since its header block, a body must keep an
  // average of at least `minBodyRate` bytes per second (0: no minimum).
  std::chrono::milliseconds bodyGrace{60'000};
  std::uint64_t minBodyRate = 1024;
  // Request bodies held in memory at once, all connections together; a body
  // that would pass it gets 503.
  std::uint64_t bodyBudget = 1ull << 30;
  // The kernel hands a connection over only once its first bytes have
  // arrived, or after this long (0: at once).
  std::chrono::seconds deferAccept{1};
  // A thread that has waited this long in accept() for nothing wakes and
  // waits again (only the few kept ready wait there; the others end as soon
  // as their connection does).
  std::chrono::milliseconds threadRetire{30'000};
  // Connections served at once, lowered to what the open-file limit allows;
  // at the cap, the oldest connection without its whole header block gives
  // way to a new one, otherwise the new one waits (see listener.h).
  std::size_t maxConnections = 4096;
  // Connections from one client address at once; further ones from that
  // address are closed at once.
  std::size_t maxConnectionsPerAddress = 256;
  // Failed logins from one address within a minute before each further
  // refusal to that address waits (a growing delay).
  std::size_t freeLoginFailures = 20;
};

struct TlsOptions {
  std::uint16_t port = 0;           // 0 lets the system choose
  std::string certificateFile;      // PEM chain: the server certificate first
  std::string privateKeyFile;       // PEM
};

struct ListenerOptions {
  std::string user{kDefaultServiceUser};
  std::string password{kDefaultServicePassword};
  // The local address to listen on; "" listens on every address (IPv6 and IPv4).
  std::string address;
  // A second port speaking HTTP over TLS, when set.
  std::optional<TlsOptions> tls;
  ListenerLimits limits;
};

}  // namespace quelvar::service
