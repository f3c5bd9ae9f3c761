#pragma once
// The client address of an accepted connection, as requests carry it.

#include <sys/socket.h>

#include <cstdint>
#include <string>

namespace quelvar::service {

// A request's peer: its address as text (an IPv4-mapped IPv6 address as
// IPv4) and port.
struct Peer {
  std::string ip;
  std::string ipVersion;
  std::uint16_t port = 0;
};

// `remote` as accept() filled it in.
Peer PeerOf(const sockaddr_storage& remote);

}  // namespace quelvar::service
