#include "service/listener.h"

#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <exception>
#include <functional>
#include <algorithm>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <map>
#include <optional>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>

#include "formats/text_codec.h"
#include "service/address_slots.h"
#include "service/body_budget.h"
#include "service/connection_thread.h"
#include "service/descriptor_budget.h"
#include "service/http_gate.h"
#include "service/login_throttle.h"
#include "service/timed_stream.h"
#include "service/tls_context.h"
#include "service/url_text.h"

namespace quelvar::service {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

// How long (and how much) a closing connection keeps reading and discarding
// what the client still sends, so that the close does not reset the
// connection before the client has read the reply.
constexpr std::chrono::milliseconds kLingerTime{2000};
constexpr std::size_t kLingerBytes = 4u << 20;

// Threads kept waiting in accept() on each listening socket: started with
// the listener, and the number an idle one checks before it retires.
constexpr std::size_t kReadyThreads = 4;
// At the cap, an accepted connection waiting for a slot looks again this
// often for a connection to close in its place.
constexpr std::chrono::milliseconds kAdmissionRecheck{100};
// A reply at least this large is followed by handing free memory back.
constexpr std::size_t kTrimAfterBytes = 4u << 20;

// Stack of a connection thread. The deepest request (a parameter text nested
// as deep as the JSON reader allows) needs under 512 KiB in an optimised
// build; instrumented builds take several times more per call.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kConnectionStackBytes = 8u << 20;
#else
constexpr std::size_t kConnectionStackBytes = 1u << 20;
#endif

// A request body held in a std::string that grows only with the bytes that
// actually arrive: the announced length reserves nothing. When the body has
// no announced length (chunked), each piece is taken from the body budget
// before it is kept; a spent budget stops the read with kBudgetSpent.
const boost::system::error_code kBudgetSpent = boost::system::errc::make_error_code(boost::system::errc::not_enough_memory);

struct ArrivingBody {
  struct value_type {
    std::string text;
    BudgetHold* pieceByPiece = nullptr;  // set for a body without an announced length
  };

  class reader {
   public:
    template <bool isRequest, class Fields>
    reader(http::header<isRequest, Fields>&, value_type& body) : body_(body) {}

    void init(const boost::optional<std::uint64_t>&, error_code& ec) { ec = {}; }

    template <class ConstBufferSequence>
    std::size_t put(const ConstBufferSequence& buffers, error_code& ec) {
      std::size_t taken = 0;
      for (auto it = asio::buffer_sequence_begin(buffers); it != asio::buffer_sequence_end(buffers); ++it) {
        const asio::const_buffer piece = *it;
        if (body_.pieceByPiece != nullptr && !body_.pieceByPiece->TryTake(piece.size())) {
          ec = kBudgetSpent;
          return taken;
        }
        body_.text.append(static_cast<const char*>(piece.data()), piece.size());
        taken += piece.size();
      }
      ec = {};
      return taken;
    }

    void finish(error_code& ec) { ec = {}; }

   private:
    value_type& body_;
  };
};

using RequestParser = http::request_parser<ArrivingBody>;
using RequestMessage = http::request<ArrivingBody>;
using TlsStream = asio::ssl::stream<TimedStream&>;

std::string ToString(boost::string_view text) { return std::string(text.data(), text.size()); }
std::string_view View(boost::string_view text) { return std::string_view(text.data(), text.size()); }

void SetCloseOnExec(int fd) {
  const int flags = ::fcntl(fd, F_GETFD);
  if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

// The status with which a failed read is answered, or 0 when the connection is
// simply dropped (the client went away, a time limit passed, or the listener
// is stopping).
int RefusalStatus(const error_code& ec) {
  if (ec == kBudgetSpent) return 503;
  if (ec == http::error::header_limit) return 431;
  if (ec == http::error::body_limit) return 413;
  if (ec.category() == http::make_error_code(http::error::bad_method).category() &&
      ec != http::error::end_of_stream && ec != http::error::partial_message &&
      ec != http::error::need_more) {
    return 400;
  }
  return 0;
}

// The request line as received (without its line break), or what to do
// instead: close without a reply (the client went away first, or the line
// holds no space at all), or answer `refusal`.
struct RequestLine {
  std::optional<std::string> line;
  int refusal = 0;
};

// Reads until the buffer holds the whole request line. A line with a version
// other than HTTP/1.0 or HTTP/1.1 (as "HTTP/2.0") is framed as HTTP/1.1: the
// version is rewritten in the buffer for the parser, the returned line keeps
// the original. A line longer than the whole header block may be is refused
// with 414: nearly all of it is the target.
template <typename Stream>
RequestLine ReadRequestLine(Stream& stream, beast::flat_buffer& buffer) {
  std::size_t scanned = 0;
  for (;;) {
    const auto data = buffer.data();
    char* const bytes = static_cast<char*>(data.data());
    const std::string_view seen(bytes, data.size());
    const auto newline = seen.find('\n', scanned);
    if (newline != std::string_view::npos) {
      std::string_view line = seen.substr(0, newline);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.find(' ') == std::string_view::npos) return {};
      constexpr std::size_t kVersionSize = 9;  // " HTTP/d.d"
      if (line.size() > kVersionSize) {
        const std::string_view version = line.substr(line.size() - kVersionSize);
        auto digit = [](char c) { return c >= '0' && c <= '9'; };
        const bool wellFormed =
            version.substr(0, 6) == " HTTP/" && digit(version[6]) && version[7] == '.' && digit(version[8]);
        if (wellFormed && version != " HTTP/1.0" && version != " HTTP/1.1") {
          std::string original(line);
          std::memcpy(bytes + line.size() - 3, "1.1", 3);
          return {std::move(original), 0};
        }
      }
      return {std::string(line), 0};
    }
    scanned = seen.size();
    if (seen.size() >= kMaxHeaderBytes) return {std::nullopt, 414};
    error_code ec;
    const std::size_t n = stream.read_some(buffer.prepare(16 * 1024), ec);
    if (ec) return {};
    buffer.commit(n);
  }
}

// Reads until the buffer holds the whole header block, or as much of it as
// may be (the parser then refuses it as too large); false when the client
// went away or a time limit passed first.
template <typename Stream>
bool ReadHeaderBlock(Stream& stream, beast::flat_buffer& buffer) {
  for (;;) {
    const std::string_view seen(static_cast<const char*>(buffer.data().data()), buffer.size());
    if (HeaderBlockEnd(seen) || seen.size() >= kMaxHeaderBytes) return true;
    error_code ec;
    const std::size_t n = stream.read_some(buffer.prepare(16 * 1024), ec);
    if (ec) return false;
    buffer.commit(n);
  }
}

// Half-closes the connection after the reply, then reads and discards what the
// client still sends until it closes its side, the listener shuts the socket
// down, kLingerTime has passed or kLingerBytes have been dropped.
void CloseGracefully(int fd) {
  if (::shutdown(fd, SHUT_WR) != 0) return;
  const auto deadline = std::chrono::steady_clock::now() + kLingerTime;
  std::array<char, 16 * 1024> sink;  // what the client still sends is read and dropped
  std::size_t dropped = 0;
  while (dropped < kLingerBytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd poller{fd, POLLIN, 0};
    const int ready = ::poll(&poller, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;
    const ssize_t n = ::recv(fd, sink.data(), sink.size(), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
    if (n <= 0) return;
    dropped += static_cast<std::size_t>(n);
  }
}

// The TLS close: the closing alert is sent and the client's awaited for the
// linger time at most; then the plain close above.
void CloseGracefully(TlsStream& stream, TimedStream& timed) {
  timed.SetReadDeadline(std::chrono::steady_clock::now() + kLingerTime);
  error_code ec;
  stream.shutdown(ec);
  CloseGracefully(timed.native_handle());
}

// Writes a connection's one reply; the connection ends right after it.
template <typename Stream>
bool WriteReply(Stream& stream, const HttpReply& reply) {
  if constexpr (std::is_same_v<Stream, TimedStream>) {
    // Plain HTTP: the reply's tail waits for the close and leaves with the
    // end of the connection in one segment, unless work follows the reply
    // before the close.
    stream.SetHoldLastSegment(!reply.afterWrite);
  }
  const std::string head = ReplyHead(reply, std::time(nullptr));
  const std::array<asio::const_buffer, 2> pieces = {asio::buffer(head), asio::buffer(reply.body)};
  error_code ec;
  asio::write(stream, pieces, ec);
  return !ec;
}

// A request's peer: its address as text (an IPv4-mapped IPv6 address as
// IPv4) and port.
struct Peer {
  std::string ip;
  std::string ipVersion;
  std::uint16_t port = 0;
};

// `remote` as accept() filled it in.
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

HttpRequest BuildRequest(std::string requestLine, RequestMessage& message, const Credentials& credentials,
                         const Peer& peer) {
  HttpRequest request;
  request.method = ToString(message.method_string());
  const std::string target = ToString(message.target());
  request.requestLine = std::move(requestLine);
  request.requestText = RequestTextOf(request.requestLine);
  const auto question = target.find('?');
  request.path = target.substr(0, question);
  if (question != std::string::npos) request.query = target.substr(question + 1);
  request.headers.reserve(static_cast<std::size_t>(std::distance(message.begin(), message.end())));
  for (const auto& field : message) {
    request.headers.emplace_back(ToString(field.name_string()), ToString(field.value()));
  }
  request.contentType = ToString(message[http::field::content_type]);
  request.userAgent = ToString(message[http::field::user_agent]);
  request.referer = ToString(message[http::field::referer]);
  request.body = std::move(message.body().text);
  request.authUser = credentials.user;
  request.authPassword = credentials.password;
  request.peerIp = peer.ip;
  request.peerIpVersion = peer.ipVersion;
  request.peerPort = peer.port;
  return request;
}

// The refusal a header block earns before its credentials are looked at, or 0.
int HeaderRefusal(const RequestMessage& head, std::string_view target) {
  std::size_t lines = 0;
  bool chunkedOnly = true;
  bool anyCoding = false;
  for (const auto& field : head) {
    ++lines;
    if (field.name_string().size() + field.value().size() > kMaxFieldBytes) return 431;
    if (field.name() == http::field::transfer_encoding) {
      anyCoding = true;
      chunkedOnly = chunkedOnly && EqualsIgnoreCase(Trim(View(field.value())), "chunked");
    }
  }
  if (lines > kMaxHeaderLines) return 431;
  const std::size_t codings =
      static_cast<std::size_t>(std::count_if(head.begin(), head.end(), [](const auto& field) {
        return field.name() == http::field::transfer_encoding;
      }));
  if (anyCoding && (!chunkedOnly || codings != 1)) return 501;
  const auto question = target.find('?');
  if (question != std::string_view::npos) {
    const std::string_view query = target.substr(question + 1);
    if (query.size() > kMaxQueryBytes || CountAmpersandPieces(query, kMaxQueryPairs) > kMaxQueryPairs) return 414;
  }
  return 0;
}

// What one connection needs of its listener.
struct ConnectionScope {
  std::shared_ptr<const ListenerOptions> options;
  BodyBudget& budget;
  LoginThrottle& throttle;
  RequestHandler& handler;
  // Waits for the given time unless the listener stops first.
  std::function<void(std::chrono::milliseconds)> pause;
  Peer peer;
  std::chrono::steady_clock::time_point accepted;
  // The header deadline of this connection (shorter when the server is crowded).
  std::chrono::milliseconds headerDeadline;
  // Cleared once the header block has arrived: until then the connection is
  // the first to go when the cap is reached.
  std::atomic<bool>& awaitingHeader;
};

// Ends a connection whose reply was written. `whole`: the request was read
// to its last byte and nothing beyond it was taken in; otherwise what the
// client still sends is drained first.
using CloseAfterReply = std::function<void(bool whole)>;

template <typename Stream>
void Refuse(Stream& stream, const CloseAfterReply& close, int status) {
  if (WriteReply(stream, FailureReply(status, std::string(StandardReason(status))))) close(false);
}

// One request on a connection whose stream (plain or TLS) is ready: read it,
// answer it. `close` ends a connection whose reply was written.
template <typename Stream>
std::size_t ServeRequest(Stream& stream, TimedStream& timed, const CloseAfterReply& close, ConnectionScope& scope) {
  const ListenerOptions& options = *scope.options;
  beast::flat_buffer buffer;
  RequestLine requestLine = ReadRequestLine(stream, buffer);
  if (requestLine.refusal != 0) { Refuse(stream, close, requestLine.refusal); return 0; }
  if (!requestLine.line) return 0;
  if (!ReadHeaderBlock(stream, buffer)) return 0;
  {
    const std::string_view seen(static_cast<const char*>(buffer.data().data()), buffer.size());
    if (HasFoldedLine(seen.substr(0, HeaderBlockEnd(seen).value_or(seen.size())))) {
      Refuse(stream, close, 400);
      return 0;
    }
  }

  RequestParser parser;
  parser.header_limit(kMaxHeaderBytes);
  parser.body_limit(kMaxBodyBytes);
  error_code ec;
  try {
    http::read_header(stream, buffer, parser, ec);
  } catch (const std::length_error&) {
    { Refuse(stream, close, 431); return 0; }  // a field the parser cannot even hold
  }
  if (ec) {
    if (const int status = RefusalStatus(ec)) Refuse(stream, close, status);
    return 0;
  }
  timed.SetReadDeadline(std::nullopt);
  scope.awaitingHeader.store(false);
  auto& head = parser.get();
  if (const int status = HeaderRefusal(head, View(head.target()))) { Refuse(stream, close, status); return 0; }

  const auto authorization = head.find(http::field::authorization);
  const Credentials credentials = ParseAuthorization(
      authorization == head.end() ? std::nullopt : std::optional<std::string_view>(View(authorization->value())));
  if (credentials.kind == Credentials::Kind::OtherScheme) return 0;  // closed without a reply
  if (!IsAuthorized(credentials, options.user, options.password)) {
    const auto delay = scope.throttle.RecordFailure(scope.peer.ip);
    if (delay.count() > 0) scope.pause(delay);
    if (WriteReply(stream, UnauthorizedReply())) close(false);
    return 0;
  }

  BudgetHold hold(scope.budget);
  if (!parser.is_done()) {
    if (const auto announced = parser.content_length()) {
      if (!hold.TryTake(*announced)) { Refuse(stream, close, 503); return 0; }
    } else {
      head.body().pieceByPiece = &hold;
    }
    const auto expect = head.find(http::field::expect);
    if (expect != head.end() && head.version() >= 11 && EqualsIgnoreCase(View(expect->value()), "100-continue")) {
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      asio::write(stream, asio::buffer(kContinue.data(), kContinue.size()), ec);
      if (ec) return 0;
    }
    timed.StartMinimumRate(options.limits.minBodyRate, options.limits.bodyGrace);
    http::read(stream, buffer, parser, ec);
    if (ec) {
      parser.get().body().text = std::string();  // nothing of it is held while the refusal goes out
      hold.Release();
      if (const int status = RefusalStatus(ec)) Refuse(stream, close, status);
      return 0;
    }
    timed.StartMinimumRate(0, {});
  }

  RequestMessage message = parser.release();
  if (IsUrlEncodedForm(View(message[http::field::content_type])) &&
      CountAmpersandPieces(message.body().text, kMaxQueryPairs) > kMaxQueryPairs) {
    message.body().text = std::string();
    hold.Release();
    { Refuse(stream, close, 413); return 0; }
  }
  HttpReply reply;
  {
    HttpRequest request = BuildRequest(std::move(*requestLine.line), message, credentials, scope.peer);
    const auto type = ClassifyMethod(request.requestText);
    if (!type || request.path == "/favicon.ico") {
      reply = EmptyReply();
    } else {
      request.requestType = *type;
      try {
        scope.handler.Handle(request, reply);
      } catch (const std::exception& failure) {
        reply = FailureReply(500, failure.what());
      } catch (...) {
        reply = FailureReply(500, "Unknown failure");
      }
    }
  }
  hold.Release();  // the body is gone with the request
  const bool written = WriteReply(stream, reply);
  if (reply.afterWrite) {
    // Runs even when the client has gone: the reply was acknowledged as far as
    // this side can tell, and the work it announced is done all the same.
    try {
      reply.afterWrite();
    } catch (...) {
    }
  }
  if (written) close(buffer.size() == 0);
  return reply.body.size();
}

// True when nothing more has arrived on the socket (or the client has
// finished sending): closing at once then loses the client nothing.
bool NothingPending(int fd) {
  char byte;
  const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

// The whole life of one connection: read one request, answer it, close.
// Returns the size of the reply's body.
std::size_t ServeConnection(int fd, asio::io_context::executor_type executor, asio::ssl::context* tls,
                            ConnectionScope& scope) {
  TimedStream timed(fd, scope.options->limits.idleTimeout, executor);
  timed.SetReadDeadline(scope.accepted + scope.headerDeadline);
  if (tls == nullptr) {
    return ServeRequest(timed, timed, [&](bool whole) {
      // A request read whole, with nothing after it: the close needs no drain.
      if (!whole || !NothingPending(fd)) CloseGracefully(fd);
    }, scope);
  }
  TlsStream stream(timed, *tls);
  error_code ec;
  stream.handshake(asio::ssl::stream_base::server, ec);
  if (ec) return 0;
  return ServeRequest(stream, timed, [&](bool) { CloseGracefully(stream, timed); }, scope);
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

// An acceptor bound to `address` ("" for every local address: IPv6
// dual-stack, IPv4 when IPv6 is unavailable) and `port`; throws ListenerError.
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

}  // namespace

struct Listener::Impl {
  // One listening socket and the threads that wait in accept() on it.
  struct AcceptPort {
    std::unique_ptr<tcp::acceptor> acceptor;
    asio::ssl::context* tls = nullptr;
    std::atomic<std::size_t> waiting{0};  // threads blocked in accept() right now
  };

  // One accepting thread and the connection it serves, if any. The thread
  // and a stop that shuts connections down meet on `guard` only.
  struct Worker {
    ConnectionThread thread;
    std::mutex guard;
    int fd = -1;  // the connection being served; -1 between connections
    std::chrono::steady_clock::time_point accepted;  // of `fd`
    bool evicted = false;                            // `fd` was shut down to admit another
    std::atomic<bool> awaitingHeader{false};         // `fd` has not sent its header block yet
  };

  // The options a thread last read, refreshed when a newer set is published.
  struct OptionsView {
    std::shared_ptr<const ListenerOptions> options;
    std::uint64_t version = ~std::uint64_t{0};
  };

  explicit Impl(RequestHandler& h) : handler(&h) {}

  std::atomic<RequestHandler*> handler;
  std::atomic<std::uint16_t> port{0};
  std::atomic<std::uint16_t> boundPort{0};
  std::atomic<std::uint16_t> boundTlsPort{0};
  std::atomic<bool> active{false};

  // The options in force, published whole with a new version: each
  // connection keeps the snapshot its thread held when it was accepted.
  mutable std::mutex optionsMutex;
  std::shared_ptr<const ListenerOptions> options = std::make_shared<const ListenerOptions>();
  std::atomic<std::uint64_t> optionsVersion{0};

  BodyBudget budget{ListenerLimits{}.bodyBudget};
  LoginThrottle throttle;
  AddressSlots slots;

  // Owned by the thread that calls SetActive.
  asio::io_context io;  // runs nothing; the sockets need one
  std::array<AcceptPort, 2> ports;  // plain, then TLS (no acceptor without TLS)
  std::shared_ptr<asio::ssl::context> tlsContext;

  // The counts a request touches are atomic, so that serving one takes no
  // lock shared with the other connections. `mutex` guards the thread
  // records and the waits below; a change that a waiter may be waiting for
  // takes it only when `sleepers` says someone waits.
  std::atomic<bool> accepting{false};  // threads go back to accept() after their connection
  std::atomic<std::size_t> openCount{0};
  // Connections that fit the open-file limit (computed at each start).
  std::atomic<std::size_t> descriptorRoom{kMaxConnections};
  DescriptorBudget descriptors;  // as computed at the last start (guarded by `mutex`)
  std::atomic<std::size_t> threads{0};
  mutable std::atomic<std::size_t> sleepers{0};
  std::atomic<bool> anyFinished{false};  // `finished` may hold threads to join

  mutable std::mutex mutex;
  mutable std::condition_variable changed;  // a count above changed, or the listener stops
  std::condition_variable stopping;         // wakes connections that pause
  bool closing = false;                     // the listener stops: connections are shut down
  std::uint64_t nextId = 0;
  std::map<std::uint64_t, std::unique_ptr<Worker>> running;
  std::vector<std::unique_ptr<Worker>> finished;

  const ListenerOptions& Refresh(OptionsView& view) const {
    if (optionsVersion.load(std::memory_order_acquire) != view.version) {
      std::lock_guard lock(optionsMutex);
      view.options = options;
      view.version = optionsVersion.load(std::memory_order_relaxed);
    }
    return *view.options;
  }

  std::shared_ptr<const ListenerOptions> CurrentOptions() const {
    std::lock_guard lock(optionsMutex);
    return options;
  }

  void Publish(ListenerOptions next) {
    budget.SetCapacity(next.limits.bodyBudget);
    LoginThrottle::Rules rules;
    rules.freeFailures = next.limits.freeLoginFailures;
    throttle.SetRules(rules);
    auto published = std::make_shared<const ListenerOptions>(std::move(next));
    std::lock_guard lock(optionsMutex);
    options = std::move(published);
    optionsVersion.fetch_add(1, std::memory_order_release);
  }

  template <typename Change>
  void ChangeLimits(Change change) {
    ListenerOptions next = *CurrentOptions();
    change(next.limits);
    Publish(std::move(next));
  }

  // Waits on `changed` until `done()` holds (or `deadline` passes); the
  // counts it reads are changed without the lock, so the wait announces
  // itself in `sleepers` first and the changer then wakes it (Wake).
  template <typename Done>
  bool WaitUntil(std::unique_lock<std::mutex>& lock, Done done,
                 std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt) const {
    sleepers.fetch_add(1);
    bool met = true;
    if (deadline) {
      met = changed.wait_until(lock, *deadline, done);
    } else {
      changed.wait(lock, done);
    }
    sleepers.fetch_sub(1);
    return met;
  }

  // After a count has changed: wakes whoever waits for it.
  void Wake() const {
    if (sleepers.load() == 0) return;
    std::lock_guard lock(mutex);
    changed.notify_all();
  }

  // The listening socket as the accepting threads use it: blocking accept()
  // that gives up after `retire` (so idle threads can end), and the kernel's
  // deferred accept when asked for.
  static void PrepareForThreads(tcp::acceptor& acceptor, const ListenerLimits& limits) {
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

  void Start() {
    Stop();
    const auto current = CurrentOptions();
    std::shared_ptr<asio::ssl::context> context;
    if (current->tls) context = MakeServerTlsContext(current->tls->certificateFile, current->tls->privateKeyFile);
    auto plain = OpenListening(io, current->address, port.load());
    std::unique_ptr<tcp::acceptor> secure;
    if (current->tls) secure = OpenListening(io, current->address, current->tls->port);
    error_code ec;
    const std::uint16_t bound = plain->local_endpoint(ec).port();
    const std::uint16_t boundTls = secure ? secure->local_endpoint(ec).port() : 0;
    PrepareForThreads(*plain, current->limits);
    if (secure) PrepareForThreads(*secure, current->limits);
    // The accepting threads of each socket: those waiting in accept() and
    // those holding a connection not yet admitted.
    const std::size_t acceptingThreads = (secure ? 2 : 1) * kReadyThreads * 2;
    const DescriptorBudget room = FitConnections(std::numeric_limits<std::size_t>::max(), acceptingThreads);
    descriptorRoom = room.connections;
    ports[0].acceptor = std::move(plain);
    ports[0].tls = nullptr;
    ports[1].acceptor = std::move(secure);
    ports[1].tls = context.get();
    tlsContext = std::move(context);
    {
      std::lock_guard lock(mutex);
      closing = false;
      accepting = true;
      descriptors = room;
    }
    for (AcceptPort& accepted : ports) {
      if (!accepted.acceptor) continue;
      for (std::size_t i = 0; i < kReadyThreads; ++i) {
        threads.fetch_add(1);
        if (!StartThread(accepted)) {
          StopNow();
          WaitForThreads();
          throw ListenerError("the listener's threads cannot start");
        }
      }
    }
    boundPort = bound;
    boundTlsPort = boundTls;
    active = true;
  }

  // Starts one accepting thread (already counted in `threads`); false when
  // the system refuses one (the count is given back).
  bool StartThread(AcceptPort& from) {
    std::lock_guard lock(mutex);
    const std::uint64_t id = nextId++;
    try {
      auto worker = std::make_unique<Worker>();
      Worker* const self = worker.get();
      running.emplace(id, std::move(worker));
      try {
        self->thread = ConnectionThread(kConnectionStackBytes, [this, id, self, &from] { Work(id, *self, from); });
      } catch (...) {
        running.erase(id);
        throw;
      }
      return true;
    } catch (...) {
      threads.fetch_sub(1);
      changed.notify_all();
      return false;
    }
  }

  // Counts one more thread when fewer than `cap` run.
  bool TryAddThread(std::size_t cap) {
    std::size_t count = threads.load();
    while (count < cap) {
      if (threads.compare_exchange_weak(count, count + 1)) return true;
    }
    return false;
  }

  // The connection cap in force: the configured one, lowered to what the
  // open-file limit allows.
  std::size_t Cap(const ListenerLimits& limits) const {
    return std::max<std::size_t>(1, std::min(limits.maxConnections, descriptorRoom.load()));
  }

  // Shuts down the connection that has waited longest without sending its
  // whole header block (other than `self`'s); false when there is none.
  bool EvictOldestAwaitingHeader(const Worker& self) {
    std::lock_guard lock(mutex);
    Worker* oldest = nullptr;
    for (const auto& [id, worker] : running) {
      if (worker.get() == &self || !worker->awaitingHeader.load()) continue;
      std::lock_guard guard(worker->guard);
      if (worker->fd < 0 || worker->evicted) continue;
      if (oldest == nullptr || worker->accepted < oldest->accepted) oldest = worker.get();
    }
    if (oldest == nullptr) return false;
    std::lock_guard guard(oldest->guard);
    oldest->evicted = true;
    ::shutdown(oldest->fd, SHUT_RDWR);
    return true;
  }

  // Admits the connection `self` has accepted: at once below the cap; at the
  // cap, in place of the oldest connection still waiting for its header
  // block (which ends at once); otherwise once a connection ends. False when
  // the listener stops accepting first.
  bool Admit(const Worker& self, std::size_t cap) {
    for (;;) {
      std::size_t count = openCount.load();
      while (count < cap) {
        if (openCount.compare_exchange_weak(count, count + 1)) return true;
      }
      if (!accepting.load()) return false;
      if (EvictOldestAwaitingHeader(self)) {
        openCount.fetch_add(1);
        return true;
      }
      std::unique_lock lock(mutex);
      WaitUntil(lock, [&] { return !accepting.load() || openCount.load() < cap; },
                std::chrono::steady_clock::now() + kAdmissionRecheck);
    }
  }

  void Stop() {
    StopNow();
    WaitForThreads();
  }

  void StopAccepting() noexcept {
    {
      std::lock_guard lock(mutex);
      accepting = false;
      changed.notify_all();
    }
    // Wakes every thread blocked in accept() (it then fails); new clients
    // are refused by the system.
    for (AcceptPort& listening : ports) {
      if (listening.acceptor) ::shutdown(listening.acceptor->native_handle(), SHUT_RDWR);
    }
    active = false;
    boundPort = 0;
    boundTlsPort = 0;
  }

  void StopNow() noexcept {
    StopAccepting();
    std::lock_guard lock(mutex);
    closing = true;
    stopping.notify_all();
    // A connection registered after this pass finds `accepting` false and
    // ends itself (see Work).
    for (const auto& [id, worker] : running) {
      std::lock_guard guard(worker->guard);
      if (worker->fd >= 0) ::shutdown(worker->fd, SHUT_RDWR);
    }
  }

  void WaitForThreads() {
    std::vector<std::unique_ptr<Worker>> done;
    {
      std::unique_lock lock(mutex);
      WaitUntil(lock, [this] { return threads.load() == 0; });
      done.swap(finished);
    }
    for (auto& worker : done) worker->thread.join();
    for (AcceptPort& listening : ports) {
      if (listening.acceptor) {
        error_code ignored;
        listening.acceptor->close(ignored);
        listening.acceptor.reset();
      }
      listening.waiting = 0;
    }
    tlsContext.reset();
  }

  bool WaitIdle(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(mutex);
    return WaitUntil(lock, [this] { return openCount.load() == 0; }, deadline);
  }

  // Joins threads that have ended (called by a thread that goes on).
  void ReapFinished() {
    if (!anyFinished.exchange(false)) return;
    std::vector<std::unique_ptr<Worker>> done;
    {
      std::lock_guard lock(mutex);
      done.swap(finished);
    }
    for (auto& worker : done) worker->thread.join();
  }

  // Ends the connection `self` serves: closed while registered, so that a
  // stop never shuts down a descriptor the system has already reused.
  void EndConnection(Worker& self) {
    {
      std::lock_guard guard(self.guard);
      ::close(self.fd);
      self.fd = -1;
    }
    self.awaitingHeader = false;
    openCount.fetch_sub(1);
    Wake();
  }

  // Closes a connection that was never admitted.
  void DropConnection(Worker& self) {
    std::lock_guard guard(self.guard);
    ::close(self.fd);
    self.fd = -1;
  }

  // One accepting thread: wait in accept(), serve the connection, wait
  // again. Only kReadyThreads wait on one socket at a time (each holds a
  // descriptor while it waits): a thread that finds them all there after its
  // connection ends. Whenever it takes a connection and no other thread
  // waits, it starts one more, so a new client never waits for a thread.
  void Work(std::uint64_t id, Worker& self, AcceptPort& from) {
    const int listenFd = from.acceptor->native_handle();
    OptionsView view;
    for (;;) {
      if (!accepting.load()) break;
      if (from.waiting.fetch_add(1) >= kReadyThreads) {
        from.waiting.fetch_sub(1);
        break;
      }
      sockaddr_storage remote{};
      socklen_t remoteLength = sizeof remote;
      const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&remote), &remoteLength,
                               SOCK_CLOEXEC | SOCK_NONBLOCK);
      const int failure = errno;
      const auto accepted = std::chrono::steady_clock::now();
      const std::size_t othersWaiting = from.waiting.fetch_sub(1) - 1;
      if (fd < 0) {
        if (!accepting.load()) break;
        if (failure != EAGAIN && failure != EWOULDBLOCK && failure != EINTR && failure != ECONNABORTED) {
          // Out of descriptors or memory: wait a little instead of spinning.
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        continue;
      }
      {
        std::lock_guard guard(self.guard);
        self.fd = fd;
        self.accepted = accepted;
        self.evicted = false;
      }
      // The connection takes the options in force now, not those of when
      // the thread began to wait.
      Refresh(view);
      const std::size_t cap = Cap(view.options->limits);
      if (!Admit(self, cap)) {
        DropConnection(self);
        break;
      }
      self.awaitingHeader = true;
      if (!accepting.load()) {
        EndConnection(self);
        break;
      }
      if (othersWaiting == 0 && TryAddThread(cap + 4 * kReadyThreads)) StartThread(from);
      ReapFinished();
      // Past half the cap, a connection gets less time for its header block.
      auto headerDeadline = view.options->limits.headerDeadline;
      if (openCount.load() > cap / 2) headerDeadline = std::min(headerDeadline, kCrowdedHeaderDeadline);
      Serve(fd, remote, from.tls, accepted, headerDeadline, self.awaitingHeader, view.options);
      EndConnection(self);
    }
    std::lock_guard lock(mutex);
    auto entry = running.find(id);
    if (entry != running.end()) {
      finished.push_back(std::move(entry->second));
      running.erase(entry);
      anyFinished = true;
    }
    threads.fetch_sub(1);
    changed.notify_all();
  }

  void Serve(int fd, const sockaddr_storage& remote, asio::ssl::context* tls,
             std::chrono::steady_clock::time_point accepted, std::chrono::milliseconds headerDeadline,
             std::atomic<bool>& awaitingHeader, const std::shared_ptr<const ListenerOptions>& current) {
    std::string peerIp;
    bool counted = false;
    try {
      ConnectionScope scope{current,
                            budget,
                            throttle,
                            *handler.load(),
                            [this](std::chrono::milliseconds delay) {
                              std::unique_lock lock(mutex);
                              stopping.wait_for(lock, delay, [this] { return closing; });
                            },
                            PeerOf(remote),
                            accepted,
                            headerDeadline,
                            awaitingHeader};
      peerIp = scope.peer.ip;
      // One address may hold only so many connections: the next is closed at once.
      counted = slots.TryTake(peerIp, scope.options->limits.maxConnectionsPerAddress);
      if (counted && ServeConnection(fd, io.get_executor(), tls, scope) >= kTrimAfterBytes) {
        // A large reply leaves free memory behind: hand it back to the system.
        ::malloc_trim(0);
      }
    } catch (...) {
      // A failure outside the handler (out of memory while reading, a socket
      // error raised as an exception) ends the connection.
    }
    if (counted) slots.Give(peerIp);
  }
};

Listener::Listener(RequestHandler& handler) : impl_(std::make_unique<Impl>(handler)) {}

Listener::~Listener() {
  try {
    impl_->Stop();
  } catch (...) {
  }
}

void Listener::SetHandler(RequestHandler& handler) { impl_->handler = &handler; }

void Listener::SetPort(std::uint16_t port) { impl_->port = port; }

std::uint16_t Listener::Port() const { return impl_->port; }

void Listener::SetOptions(const ListenerOptions& options) { impl_->Publish(options); }

ListenerOptions Listener::Options() const { return *impl_->CurrentOptions(); }

void Listener::SetActive(bool active) {
  if (active) {
    impl_->Start();
  } else {
    impl_->Stop();
  }
}

bool Listener::Active() const { return impl_->active; }

std::uint16_t Listener::BoundPort() const { return impl_->boundPort; }

std::uint16_t Listener::BoundTlsPort() const { return impl_->boundTlsPort; }

void Listener::StopNow() noexcept { impl_->StopNow(); }

void Listener::SetIdleTimeout(std::chrono::milliseconds idle) {
  impl_->ChangeLimits([idle](ListenerLimits& limits) { limits.idleTimeout = idle; });
}

void Listener::SetMaxConnections(std::size_t count) {
  impl_->ChangeLimits([count](ListenerLimits& limits) { limits.maxConnections = count < 1 ? 1 : count; });
}

DescriptorBudget Listener::Descriptors() const {
  DescriptorBudget budget;
  {
    std::lock_guard lock(impl_->mutex);
    budget = impl_->descriptors;
  }
  budget.connections = impl_->Cap(impl_->CurrentOptions()->limits);
  return budget;
}

std::size_t Listener::OpenConnections() const { return impl_->openCount.load(); }

std::size_t Listener::Threads() const { return impl_->threads.load(); }

void Listener::StopAccepting() noexcept { impl_->StopAccepting(); }

bool Listener::WaitIdle(std::chrono::steady_clock::time_point deadline) const { return impl_->WaitIdle(deadline); }

}  // namespace quelvar::service
