#include "service/listening_socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include <boost/asio/ip/v6_only.hpp>

#include "service/listener_error.h"

namespace quelvar::service {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

void SetCloseOnExec(int fd) {
  const int flags = ::fcntl(fd, F_GETFD);
  if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

bool OpenAcceptor(tcp::acceptor& acceptor, const tcp::endpoint& endpoint, error_code& ec) {
  acceptor.open(endpoint.protocol(), ec);
  if (ec) return false;
  SetCloseOnExec(acceptor.native_handle());
  if (endpoint.protocol() == tcp::v6() && endpoint.address().is_unspecified()) {
    acceptor.set_option(asio::ip::v6_only(false), ec);
  }
  if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error_code ignored;
    acceptor.close(ignored);
    return false;
  }
  return true;
}

bool IsFamilyUnavailable(const error_code& ec) {
  return ec == asio::error::address_family_not_supported || ec == asio::error::operation_not_supported ||
         ec == boost::system::errc::address_not_available ||
         ec == boost::system::errc::protocol_not_supported;
}

}  // namespace

std::unique_ptr<tcp::acceptor> OpenListening(asio::io_context& io, const std::string& address, std::uint16_t port) {
  auto acceptor = std::make_unique<tcp::acceptor>(io);
  error_code ec;
  if (address.empty()) {
    if (!OpenAcceptor(*acceptor, tcp::endpoint(tcp::v6(), port), ec)) {
      if (!IsFamilyUnavailable(ec) || !OpenAcceptor(*acceptor, tcp::endpoint(tcp::v4(), port), ec)) {
        throw ListenerError(ec.message());
      }
    }
    return acceptor;
  }
  const asio::ip::address local = asio::ip::make_address(address, ec);
  if (ec) throw ListenerError("the listening address " + address + " is not an IP address");
  if (!OpenAcceptor(*acceptor, tcp::endpoint(local, port), ec)) throw ListenerError(ec.message());
  return acceptor;
}

void PrepareForThreads(tcp::acceptor& acceptor, const ListenerLimits& limits) {
  error_code ec;
  acceptor.non_blocking(false, ec);
  const int fd = acceptor.native_handle();
  const auto retire = std::max<std::chrono::milliseconds>(limits.threadRetire, std::chrono::milliseconds(1));
  const timeval wait{static_cast<time_t>(retire.count() / 1000),
                     static_cast<suseconds_t>(retire.count() % 1000 * 1000)};
  const std::chrono::seconds deferAccept = limits.deferAccept;
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  if (deferAccept.count() > 0) {
    const int seconds = static_cast<int>(deferAccept.count());
    ::setsockopt(fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds);
  }
}

}  // namespace quelvar::service
