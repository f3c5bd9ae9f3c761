#include "raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <regex>
#include <stdexcept>

#include "formats/base64.h"
#include "formats/text_codec.h"

namespace quelvar::test {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

RawConnection::RawConnection(std::uint16_t port, bool ipv6) {
  fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (ipv6) {
    auto& address = reinterpret_cast<sockaddr_in6&>(storage);
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = in6addr_loopback;
    length = sizeof address;
  } else {
    auto& address = reinterpret_cast<sockaddr_in&>(storage);
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof address;
  }
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&storage), length) != 0) {
    const int failure = errno;
    ::close(fd_);
    fd_ = -1;
    throw std::runtime_error(std::string("connect: ") + std::strerror(failure));
  }
}

RawConnection::RawConnection(std::uint16_t port, const LoopbackRoute& route) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(port);
  if (::inet_pton(AF_INET, route.from.c_str(), &local.sin_addr) != 1 ||
      ::inet_pton(AF_INET, route.to.c_str(), &remote.sin_addr) != 1) {
    ::close(fd_);
    fd_ = -1;
    throw std::runtime_error("not an IPv4 address: " + route.from + " or " + route.to);
  }
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
    const int failure = errno;
    ::close(fd_);
    fd_ = -1;
    throw std::runtime_error(std::string("bind or connect: ") + std::strerror(failure));
  }
}

RawConnection::~RawConnection() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void RawConnection::FinishSending() { ::shutdown(fd_, SHUT_WR); }

void RawConnection::Abort() {
  if (fd_ < 0) return;
  const linger abortive{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  ::close(fd_);
  fd_ = -1;
}

std::uint16_t RawConnection::LocalPort() const {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return 0;
  if (storage.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(storage).sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in&>(storage).sin_port);
}

RawResult RawConnection::ReadToClose(std::chrono::milliseconds timeout) {
  RawResult result;
  const auto deadline = Clock::now() + timeout;
  std::array<char, 64 * 1024> chunk{};
  for (;;) {
    pollfd waiter{fd_, POLLIN, 0};
    const int ready = ::poll(&waiter, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      result.timedOut = true;
      return result;
    }
    const ssize_t n = ::recv(fd_, chunk.data(), chunk.size(), 0);
    if (n > 0) {
      result.bytes.append(chunk.data(), static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    result.closed = true;
    result.reset = n < 0;
    return result;
  }
}

bool RawConnection::ReadUntil(std::string_view marker, std::string& into, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::array<char, 16 * 1024> chunk{};
  while (into.find(marker) == std::string::npos) {
    pollfd waiter{fd_, POLLIN, 0};
    const int ready = ::poll(&waiter, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::recv(fd_, chunk.data(), chunk.size(), 0);
    if (n <= 0) return false;
    into.append(chunk.data(), static_cast<std::size_t>(n));
  }
  return true;
}

RawResult Exchange(std::uint16_t port, std::string_view request, std::chrono::milliseconds timeout) {
  RawConnection connection(port);
  connection.Send(request);
  return connection.ReadToClose(timeout);
}

std::string BasicAuthorizationLine(std::string_view user, std::string_view password) {
  return "Authorization: Basic " + EncodeBytes(std::string(user) + ":" + std::string(password)) + "\r\n";
}

std::string GoodAuthorizationLine() { return BasicAuthorizationLine("varosa", "quibet4693"); }

std::optional<std::string> ParsedReply::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsIgnoreCase(key, name)) return value;
  }
  return std::nullopt;
}

std::size_t ParsedReply::Count(std::string_view name) const {
  std::size_t count = 0;
  for (const auto& header : headers) count += EqualsIgnoreCase(header.first, name) ? 1 : 0;
  return count;
}

ParsedReply ParseReply(std::string_view raw) {
  ParsedReply reply;
  const auto end = raw.find("\r\n\r\n");
  if (end == std::string_view::npos) return reply;
  reply.complete = true;
  std::string_view head = raw.substr(0, end + 2);
  reply.body = std::string(raw.substr(end + 4));
  auto lineEnd = head.find("\r\n");
  reply.statusLine = std::string(head.substr(0, lineEnd));
  head.remove_prefix(lineEnd + 2);
  while (!head.empty()) {
    lineEnd = head.find("\r\n");
    const std::string_view line = head.substr(0, lineEnd);
    const auto colon = line.find(':');
    std::string_view value = colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    reply.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    head.remove_prefix(lineEnd + 2);
  }
  return reply;
}

bool IsImfFixdate(std::string_view text) {
  static const std::regex kFormat(
      "(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-3][0-9] (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "[0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9] GMT");
  return std::regex_match(text.begin(), text.end(), kFormat);
}

std::string MaskDate(std::string_view raw) {
  const auto at = raw.find("\r\nDate: ");
  if (at == std::string_view::npos) return std::string(raw);
  const auto valueAt = at + 8;
  const auto end = raw.find("\r\n", valueAt);
  if (end == std::string_view::npos || !IsImfFixdate(raw.substr(valueAt, end - valueAt))) return std::string(raw);
  return std::string(raw.substr(0, valueAt)) + "<date>" + std::string(raw.substr(end));
}

}  // namespace quelvar::test
