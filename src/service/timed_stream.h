#pragma once
// A blocking stream over a connected TCP socket whose reads and writes give up
// when the peer stays silent (or stops reading) for longer than the idle
// time: each call waits for readiness with poll() first and fails with
// asio::error::timed_out when the wait runs out. Meets the synchronous stream
// requirements of the HTTP reader and asio::write.

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
      : socket_(socket), idle_(idle) {}

  template <typename MutableBuffers>
  std::size_t read_some(const MutableBuffers& buffers, boost::system::error_code& ec) {
    if (!WaitFor(POLLIN, ec)) return 0;
    return socket_.read_some(buffers, ec);
  }

  template <typename MutableBuffers>
  std::size_t read_some(const MutableBuffers& buffers) {
    return OrThrow([&](boost::system::error_code& ec) { return read_some(buffers, ec); });
  }

  template <typename ConstBuffers>
  std::size_t write_some(const ConstBuffers& buffers, boost::system::error_code& ec) {
    if (!WaitFor(POLLOUT, ec)) return 0;
    return socket_.write_some(buffers, ec);
  }

  template <typename ConstBuffers>
  std::size_t write_some(const ConstBuffers& buffers) {
    return OrThrow([&](boost::system::error_code& ec) { return write_some(buffers, ec); });
  }

 private:
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
};

}  // namespace quelvar::service
