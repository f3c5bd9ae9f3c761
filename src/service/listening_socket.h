#pragma once
// The listening sockets of the listener: bound, and prepared for threads that
// wait in a blocking accept().

#include <cstdint>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "service/listener_options.h"

namespace quelvar::service {

// An acceptor bound to `address` ("" for every local address: IPv6
// dual-stack, IPv4 when IPv6 is unavailable) and `port`; throws ListenerError
// (listener.h) with the socket layer's message.
std::unique_ptr<boost::asio::ip::tcp::acceptor> OpenListening(boost::asio::io_context& io, const std::string& address,
                                                              std::uint16_t port);

// Blocking accept() that gives up after `limits.threadRetire`, and the
// kernel's deferred accept when `limits.deferAccept` asks for it.
void PrepareForThreads(boost::asio::ip::tcp::acceptor& acceptor, const ListenerLimits& limits);

}  // namespace quelvar::service
