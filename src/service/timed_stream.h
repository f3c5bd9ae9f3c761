#pragma once
// A synchronous stream over a connected TCP socket (a plain descriptor, in
// non-blocking mode, that the stream does not own) whose reads and writes give
// up when the peer stays silent (or stops reading) for longer than the idle
// time. A call that finds nothing to read (or no room to write) waits for
// readiness with poll() and fails with asio::error::timed_out when the wait
// runs out, so a call that can proceed at once costs one system call and no
// wait. Meets the synchronous stream requirements of the HTTP reader,
// asio::write and the TLS stream (as its next layer; the executor is only
// there for the TLS stream's construction, nothing runs on it).
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
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>
#include <boost/system/system_error.hpp>

namespace quelvar::service {

class TimedStream {
 public:
  using Clock = std::chrono::steady_clock;
  using executor_type = boost::asio::io_context::executor_type;
  using lowest_layer_type = TimedStream;

  TimedStream(int fd, std::chrono::milliseconds idle, executor_type executor)
      : fd_(fd), idle_(idle), executor_(executor) {}

  int native_handle() const { return fd_; }
  executor_type get_executor() { return executor_; }
  lowest_layer_type& lowest_layer() { return *this; }

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

  // While set, a write's last partial segment is held back (MSG_MORE) until
  // the next write, a shutdown or the close, which then carries it with the
  // connection's end in one segment. Only for a reply that the close or a
  // shutdown follows at once.
  void SetHoldLastSegment(bool hold) { sendFlags_ = hold ? (MSG_NOSIGNAL | MSG_MORE) : MSG_NOSIGNAL; }

  template <typename MutableBuffers>
  std::size_t read_some(const MutableBuffers& buffers, boost::system::error_code& ec) {
    boost::asio::mutable_buffer first;
    for (auto it = boost::asio::buffer_sequence_begin(buffers); it != boost::asio::buffer_sequence_end(buffers); ++it) {
      first = *it;
      if (first.size() > 0) break;
    }
    if (first.size() == 0) {
      ec = {};
      return 0;
    }
    const std::size_t n = Attempt(POLLIN, ec, [&] { return ::recv(fd_, first.data(), first.size(), 0); });
    if (!ec && n == 0) ec = boost::asio::error::eof;
    rateBytes_ += n;
    return n;
  }

  template <typename MutableBuffers>
  std::size_t read_some(const MutableBuffers& buffers) {
    return OrThrow([&](boost::system::error_code& ec) { return read_some(buffers, ec); });
  }

  template <typename ConstBuffers>
  std::size_t write_some(const ConstBuffers& buffers, boost::system::error_code& ec) {
    constexpr std::size_t kMostPieces = 16;
    iovec pieces[kMostPieces];
    std::size_t count = 0;
    for (auto it = boost::asio::buffer_sequence_begin(buffers);
         it != boost::asio::buffer_sequence_end(buffers) && count < kMostPieces; ++it) {
      const boost::asio::const_buffer piece = *it;
      if (piece.size() == 0) continue;
      pieces[count++] = iovec{const_cast<void*>(piece.data()), piece.size()};
    }
    if (count == 0) {
      ec = {};
      return 0;
    }
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = count;
    return Attempt(POLLOUT, ec, [&] { return ::sendmsg(fd_, &message, sendFlags_); });
  }

  template <typename ConstBuffers>
  std::size_t write_some(const ConstBuffers& buffers) {
    return OrThrow([&](boost::system::error_code& ec) { return write_some(buffers, ec); });
  }

 private:
  // Runs `call` (a system call giving a byte count or -1) until it does not
  // report "would block", waiting for `events` before each retry.
  template <typename Call>
  std::size_t Attempt(short events, boost::system::error_code& ec, Call call) {
    for (;;) {
      const ssize_t n = call();
      if (n >= 0) {
        ec = {};
        return static_cast<std::size_t>(n);
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        ec.assign(errno, boost::system::system_category());
        return 0;
      }
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
      pollfd waiting{fd_, events, 0};
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

  const int fd_;
  const std::chrono::milliseconds idle_;
  int sendFlags_ = MSG_NOSIGNAL;
  executor_type executor_;
  std::optional<Clock::time_point> deadline_;
  std::uint64_t rate_ = 0;
  Clock::time_point rateStart_{};
  std::chrono::milliseconds rateGrace_{0};
  std::uint64_t rateBytes_ = 0;
};

}  // namespace quelvar::service
