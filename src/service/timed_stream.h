#pragma once
// A synchronous stream over a connected TCP socket whose reads and writes give
// up when the peer stays silent (or stops reading) for longer than the idle
// time. The socket is switched to non-blocking mode: a call that finds nothing
// to read (or no room to write) waits for readiness with poll() and fails with
// asio::error::timed_out when the wait runs out, so a call that can proceed at
// once costs no wait. Meets the synchronous stream requirements of the HTTP
// reader and asio::write.

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstddef>

#include <boost/asio/error.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>
#include <boost/system/system_error.hpp>

namespace quelvar::service {

class TimedStream {
 public:
  TimedStream(boost::asio::ip::tcp::socket& socket, std::chrono::milliseconds idle)
      : socket_(socket), idle_(idle) {
    boost::system::error_code ec;
    socket_.non_blocking(true, ec);
    nonBlocking_ = !ec;
  }

  boost::asio::ip::tcp::socket& socket() { return socket_; }

  template <typename MutableBuffers>
  std::size_t read_some(const MutableBuffers& buffers, boost::system::error_code& ec) {
    return Attempt(POLLIN, [&](boost::system::error_code& e) { return socket_.read_some(buffers, e); }, ec);
  }

  template <typename MutableBuffers>
  std::size_t read_some(const MutableBuffers& buffers) {
    return OrThrow([&](boost::system::error_code& ec) { return read_some(buffers, ec); });
  }

  template <typename ConstBuffers>
  std::size_t write_some(const ConstBuffers& buffers, boost::system::error_code& ec) {
    return Attempt(POLLOUT, [&](boost::system::error_code& e) { return socket_.write_some(buffers, e); }, ec);
  }

  template <typename ConstBuffers>
  std::size_t write_some(const ConstBuffers& buffers) {
    return OrThrow([&](boost::system::error_code& ec) { return write_some(buffers, ec); });
  }

 private:
  // Runs `call` until it does not report "would block", waiting for `events`
  // before each retry (and before the first call when the socket could not
  // be made non-blocking, so that a blocking call never waits unbounded).
  template <typename Call>
  std::size_t Attempt(short events, Call call, boost::system::error_code& ec) {
    if (!nonBlocking_ && !WaitFor(events, ec)) return 0;
    for (;;) {
      const std::size_t n = call(ec);
      if (ec != boost::asio::error::would_block && ec != boost::asio::error::try_again) return n;
      if (!WaitFor(events, ec)) return 0;
    }
  }

  template <typename Call>
  static std::size_t OrThrow(Call call) {
    boost::system::error_code ec;
    const std::size_t n = call(ec);
    if (ec) throw boost::system::system_error(ec);
    return n;
  }

  // True when the socket is ready for `events` (or has an error or hang-up
  // that the following call reports); false with `ec` set otherwise.
  bool WaitFor(short events, boost::system::error_code& ec) {
    const auto deadline = std::chrono::steady_clock::now() + idle_;
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd waiting{socket_.native_handle(), events, 0};
      const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
      if (ready > 0) return true;
      if (ready == 0) break;
      if (errno != EINTR) {
        ec.assign(errno, boost::system::system_category());
        return false;
      }
    }
    ec = boost::asio::error::timed_out;
    return false;
  }

  boost::asio::ip::tcp::socket& socket_;
  const std::chrono::milliseconds idle_;
  bool nonBlocking_ = false;
};

}  // namespace quelvar::service
