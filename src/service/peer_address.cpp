#include "service/peer_address.h"

#include <netinet/in.h>

#include <charconv>
#include <cstring>

#include <boost/asio/ip/address.hpp>

namespace quelvar::service {

namespace asio = boost::asio;
using boost::system::error_code;

Peer PeerOf(const sockaddr_storage& remote) {
  Peer peer;
  asio::ip::address address;
  if (remote.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(remote);
    address = asio::ip::address_v4(ntohl(v4.sin_addr.s_addr));
    peer.port = ntohs(v4.sin_port);
  } else if (remote.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(remote);
    asio::ip::address_v6::bytes_type bytes;
    std::memcpy(bytes.data(), &v6.sin6_addr, bytes.size());
    address = asio::ip::address_v6(bytes, v6.sin6_scope_id);
    peer.port = ntohs(v6.sin6_port);
  } else {
    return peer;
  }
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  if (address.is_v4()) {
    // Dotted decimal written here: the library's conversion goes through a
    // formatted print, which costs more than the rest of a small request.
    const std::uint32_t value = address.to_v4().to_uint();
    char text[16];
    char* end = text;
    for (int shift = 24; shift >= 0; shift -= 8) {
      end = std::to_chars(end, text + sizeof text, (value >> shift) & 0xFFu).ptr;
      if (shift > 0) *end++ = '.';
    }
    peer.ip.assign(text, end);
    peer.ipVersion = "ipv4";
    return peer;
  }
  error_code ec;
  peer.ip = address.to_string(ec);
  peer.ipVersion = "ipv6";
  return peer;
}

}  // namespace quelvar::service
