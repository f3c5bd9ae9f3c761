#pragma once
// A synchronous stream over a connected TCP socket whose reads and writes give
// up when the peer stays silent (or stops reading) for longer than the idle
// time. The socket is switched to non-blocking mode: a call that finds nothing
// to read (or no room to write) waits for readiness with poll() and fails with
// asio::error::timed_out when the wait runs out, so a call that can proceed at
// once costs no wait. Meets the synchronous stream requirements of the HTTP
// reader, asio::write and the TLS stream (as its next layer).
//
// Beside the idle time, reads can be held to two request limits:
//   - a deadline: no read waits past it (the header block must have arrived
//     by then);
//   - a minimum average rate: once `grace` has passed since the rate started,
//     a read that would wait fails when the bytes read since then, averaged
//     over the time since then, fall below `bytesPerSecond`.
// A failed wait leaves asio::error::timed_out in the error code, as the idle
// time does.

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include <boost/asio/error.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>
#include <boost/system/system_error.hpp>

namespace quelvar::service {

class TimedStream {
 public:
  using Clock = std::chrono::steady_clock;
  using executor_type = boost::asio::ip::tcp::socket::executor_type;
  using lowest_layer_type = boost::asio::ip::tcp::socket::lowest_layer_type;

  TimedStream(boost::asio::ip::tcp::socket& socket, std::chrono::milliseconds idle)
      : socket_(socket), idle_(idle) {
    boost::system::error_code ec;
    socket_.non_blocking(true, ec);
    nonBlocking_ = !ec;
  }

  boost::asio::ip::tcp::socket& socket() { return socket_; }
  executor_type get_executor() { return socket_.get_executor(); }
  lowest_layer_type& lowest_layer() { return socket_.lowest_layer(); }

  // No read waits past `deadline` (std::nullopt: no deadline).
  void SetReadDeadline(std::optional<Clock::time_point> deadline) { deadline_ = deadline; }

  // From now on, reads keep an average of at least `bytesPerSecond` once
  // `grace` has passed; 0 bytes per second turns the rule off.
  void StartMinimumRate(std::uint64_t bytesPerSecond, std::chrono::milliseconds grace) {
    rate_ = bytesPerSecond;
    rateStart_ = Clock::now();
    rateGrace_ = grace;
    rateBytes_ = 0;
  }

  template <typename MutableBuffers>
  std::size_t read_some(const MutableBuffers& buffers, boost::system::error_code& ec) {
    const std::size_t n =
        Attempt(POLLIN, [&](boost::system::error_code& e) { return socket_.read_some(buffers, e); }, ec);
    rateBytes_ += n;
    return n;
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

  // The latest moment a wait for `events` may last until.
  Clock::time_point WaitLimit(short events) const {
    Clock::time_point limit = Clock::now() + idle_;
    if ((events & POLLIN) == 0) return limit;
    if (deadline_) limit = std::min(limit, *deadline_);
    if (rate_ > 0) {
      // The moment by which the bytes read so far fall below the average.
      const auto earned = std::chrono::milliseconds(rateBytes_ * 1000 / rate_);
      limit = std::min(limit, rateStart_ + std::max<std::chrono::milliseconds>(rateGrace_, earned));
    }
    return limit;
  }

  // True when the socket is ready for `events` (or has an error or hang-up
  // that the following call reports); false with `ec` set otherwise.
  bool WaitFor(short events, boost::system::error_code& ec) {
    const auto deadline = WaitLimit(events);
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
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
  std::optional<Clock::time_point> deadline_;
  std::uint64_t rate_ = 0;
  Clock::time_point rateStart_{};
  std::chrono::milliseconds rateGrace_{0};
  std::uint64_t rateBytes_ = 0;
};

}  // namespace quelvar::service
