#include "service/listener.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <exception>
#include <iterator>
#include <map>
#include <optional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>

#include "formats/text_codec.h"
#include "service/connection_thread.h"
#include "service/http_gate.h"
#include "service/timed_stream.h"

namespace quelvar::service {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

// How long a closing connection keeps reading (and discarding) what the client
// still sends, so that the close does not reset the connection before the
// client has read the reply.
constexpr std::chrono::milliseconds kLingerTime{2000};

// Stack of a connection thread. The deepest request (a parameter text nested
// as deep as the JSON reader allows) needs under 512 KiB in an optimised
// build; instrumented builds take several times more per call.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kConnectionStackBytes = 8u << 20;
#else
constexpr std::size_t kConnectionStackBytes = 1u << 20;
#endif

// A request body held in a std::string that grows only with the bytes that
// actually arrive: the announced length reserves nothing.
struct ArrivingBody {
  using value_type = std::string;

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
        body_.append(static_cast<const char*>(piece.data()), piece.size());
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

std::string ToString(boost::string_view text) { return std::string(text.data(), text.size()); }

void SetCloseOnExec(int fd) {
  const int flags = ::fcntl(fd, F_GETFD);
  if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

// The status with which a failed read is answered, or 0 when the connection is
// simply dropped (the client went away, or the listener is stopping).
int RefusalStatus(const error_code& ec) {
  if (ec == http::error::header_limit) return 431;
  if (ec == http::error::body_limit) return 413;
  if (ec.category() == http::make_error_code(http::error::bad_method).category() &&
      ec != http::error::end_of_stream && ec != http::error::partial_message &&
      ec != http::error::need_more) {
    return 400;
  }
  return 0;
}

// Reads until the buffer holds the whole request line and returns that line
// as received (without its line break). Returns nothing when the connection is
// to be closed without a reply: the client went away first, or the line holds
// no space at all. A line with a version other than HTTP/1.0 or HTTP/1.1 (as
// "HTTP/2.0") is framed as HTTP/1.1: the version is rewritten in the buffer
// for the parser, the returned line keeps the original.
std::optional<std::string> ReadRequestLine(TimedStream& stream, beast::flat_buffer& buffer) {
  std::size_t scanned = 0;
  for (;;) {
    const auto data = buffer.data();
    char* const bytes = static_cast<char*>(data.data());
    const std::string_view seen(bytes, data.size());
    const auto newline = seen.find('\n', scanned);
    if (newline != std::string_view::npos) {
      std::string_view line = seen.substr(0, newline);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.find(' ') == std::string_view::npos) return std::nullopt;
      constexpr std::size_t kVersionSize = 9;  // " HTTP/d.d"
      if (line.size() > kVersionSize) {
        const std::string_view version = line.substr(line.size() - kVersionSize);
        auto digit = [](char c) { return c >= '0' && c <= '9'; };
        const bool wellFormed =
            version.substr(0, 6) == " HTTP/" && digit(version[6]) && version[7] == '.' && digit(version[8]);
        if (wellFormed && version != " HTTP/1.0" && version != " HTTP/1.1") {
          std::string original(line);
          std::memcpy(bytes + line.size() - 3, "1.1", 3);
          return original;
        }
      }
      return std::string(line);
    }
    scanned = seen.size();
    if (seen.size() >= kMaxHeaderBytes) return std::string{};  // the parser refuses it
    error_code ec;
    const std::size_t n = stream.read_some(buffer.prepare(16 * 1024), ec);
    if (ec) return std::nullopt;
    buffer.commit(n);
  }
}

// Half-closes the connection after the reply, then reads and discards what the
// client still sends until it closes its side, the listener shuts the socket
// down, or kLingerTime has passed.
void CloseGracefully(tcp::socket& socket) {
  error_code ec;
  socket.shutdown(tcp::socket::shutdown_send, ec);
  if (ec) return;
  const int fd = socket.native_handle();
  const auto deadline = std::chrono::steady_clock::now() + kLingerTime;
  std::array<char, 16 * 1024> sink;  // what the client still sends is read and dropped
  for (;;) {
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
  }
}

bool WriteReply(TimedStream& stream, const HttpReply& reply) {
  const std::string head = ReplyHead(reply, std::time(nullptr));
  const std::array<asio::const_buffer, 2> pieces = {asio::buffer(head), asio::buffer(reply.body)};
  error_code ec;
  asio::write(stream, pieces, ec);
  return !ec;
}

void Refuse(TimedStream& stream, int status) {
  if (WriteReply(stream, FailureReply(status, std::string(StandardReason(status))))) {
    CloseGracefully(stream.socket());
  }
}

void FillPeer(tcp::socket& socket, HttpRequest& request) {
  error_code ec;
  const tcp::endpoint peer = socket.remote_endpoint(ec);
  if (ec) return;
  asio::ip::address address = peer.address();
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  request.peerIp = address.to_string(ec);
  request.peerIpVersion = address.is_v4() ? "ipv4" : "ipv6";
  request.peerPort = peer.port();
}

HttpRequest BuildRequest(std::string requestLine, RequestMessage& message, const Credentials& credentials,
                         tcp::socket& socket) {
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
  request.body = std::move(message.body());
  request.authUser = credentials.user;
  request.authPassword = credentials.password;
  FillPeer(socket, request);
  return request;
}

// The whole life of one connection: read one request, answer it, close.
void ServeConnection(tcp::socket& socket, RequestHandler& handler, std::chrono::milliseconds idleTimeout) {
  TimedStream stream(socket, idleTimeout);
  beast::flat_buffer buffer;
  std::optional<std::string> requestLine = ReadRequestLine(stream, buffer);
  if (!requestLine) return;

  RequestParser parser;
  parser.header_limit(kMaxHeaderBytes);
  parser.body_limit(kMaxBodyBytes);
  error_code ec;
  http::read_header(stream, buffer, parser, ec);
  if (ec) {
    if (const int status = RefusalStatus(ec)) Refuse(stream, status);
    return;
  }
  const auto& head = parser.get();
  if (static_cast<std::size_t>(std::distance(head.begin(), head.end())) > kMaxHeaderLines) {
    Refuse(stream, 431);
    return;
  }
  if (!parser.is_done()) {
    const auto expect = head.find(http::field::expect);
    if (expect != head.end() && head.version() >= 11 &&
        EqualsIgnoreCase(ToString(expect->value()), "100-continue")) {
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      asio::write(stream, asio::buffer(kContinue.data(), kContinue.size()), ec);
      if (ec) return;
    }
    http::read(stream, buffer, parser, ec);
    if (ec) {
      if (const int status = RefusalStatus(ec)) Refuse(stream, status);
      return;
    }
  }

  RequestMessage message = parser.release();
  const auto authorization = message.find(http::field::authorization);
  const Credentials credentials = ParseAuthorization(
      authorization == message.end() ? std::nullopt
                                     : std::optional<std::string_view>(std::string_view(
                                           authorization->value().data(), authorization->value().size())));
  if (credentials.kind == Credentials::Kind::OtherScheme) return;  // closed without a reply

  HttpReply reply;
  if (!IsAuthorized(credentials)) {
    reply = UnauthorizedReply();
  } else {
    HttpRequest request = BuildRequest(std::move(*requestLine), message, credentials, socket);
    const auto type = ClassifyMethod(request.requestText);
    if (!type || request.path == "/favicon.ico") {
      reply = EmptyReply();
    } else {
      request.requestType = *type;
      try {
        handler.Handle(request, reply);
      } catch (const std::exception& failure) {
        reply = FailureReply(500, failure.what());
      } catch (...) {
        reply = FailureReply(500, "Unknown failure");
      }
    }
  }
  const bool written = WriteReply(stream, reply);
  if (reply.afterWrite) {
    // Runs even when the client has gone: the reply was acknowledged as far as
    // this side can tell, and the work it announced is done all the same.
    try {
      reply.afterWrite();
    } catch (...) {
    }
  }
  if (written) CloseGracefully(socket);
}

bool OpenAcceptor(tcp::acceptor& acceptor, const tcp& protocol, std::uint16_t port, error_code& ec) {
  acceptor.open(protocol, ec);
  if (ec) return false;
  SetCloseOnExec(acceptor.native_handle());
  if (protocol == tcp::v6()) acceptor.set_option(asio::ip::v6_only(false), ec);
  if (!ec) acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor.bind(tcp::endpoint(protocol, port), ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (!ec) acceptor.non_blocking(true, ec);
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

struct Listener::Impl {
  struct Connection {
    int fd = -1;
    ConnectionThread thread;
  };

  explicit Impl(RequestHandler& h) : handler(&h) {}

  std::atomic<RequestHandler*> handler;
  std::atomic<std::uint16_t> port{0};
  std::atomic<std::uint16_t> boundPort{0};
  std::atomic<bool> active{false};
  std::atomic<std::chrono::milliseconds> idleTimeout{kIdleTimeout};
  std::atomic<std::size_t> maxConnections{kMaxConnections};

  // Owned by the thread that calls SetActive.
  asio::io_context io;  // runs nothing; the sockets need one
  std::unique_ptr<tcp::acceptor> acceptor;
  int wakeFd = -1;
  std::thread acceptThread;

  // The registry of open connections.
  mutable std::mutex mutex;
  std::condition_variable allClosed;
  bool closing = false;
  std::uint64_t nextId = 0;
  std::map<std::uint64_t, Connection> open;
  std::vector<ConnectionThread> finished;

  void Start() {
    Stop();
    auto next = std::make_unique<tcp::acceptor>(io);
    error_code ec;
    const std::uint16_t wanted = port.load();
    if (!OpenAcceptor(*next, tcp::v6(), wanted, ec)) {
      if (!IsFamilyUnavailable(ec) || !OpenAcceptor(*next, tcp::v4(), wanted, ec)) {
        throw ListenerError(ec.message());
      }
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) throw ListenerError(std::strerror(errno));
    const std::uint16_t bound = next->local_endpoint(ec).port();
    {
      std::lock_guard lock(mutex);
      closing = false;
    }
    acceptor = std::move(next);
    wakeFd = wake;
    try {
      acceptThread = std::thread([this] { AcceptLoop(); });
    } catch (const std::exception& failure) {
      CloseAcceptor();
      throw ListenerError(failure.what());
    }
    boundPort = bound;
    active = true;
  }

  void Stop() {
    StopNow();
    WaitForConnections();
  }

  void StopNow() noexcept {
    if (acceptThread.joinable()) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
      try {
        acceptThread.join();
      } catch (...) {
      }
    }
    CloseAcceptor();
    std::lock_guard lock(mutex);
    closing = true;
    for (auto& [id, connection] : open) ::shutdown(connection.fd, SHUT_RDWR);
  }

  void CloseAcceptor() noexcept {
    if (acceptor) {
      error_code ignored;
      acceptor->close(ignored);
      acceptor.reset();
    }
    if (wakeFd >= 0) {
      ::close(wakeFd);
      wakeFd = -1;
    }
    active = false;
    boundPort = 0;
  }

  void WaitForConnections() {
    std::vector<ConnectionThread> done;
    {
      std::unique_lock lock(mutex);
      allClosed.wait(lock, [this] { return open.empty(); });
      done.swap(finished);
    }
    for (auto& thread : done) thread.join();
  }

  bool AtCapacity() const {
    std::lock_guard lock(mutex);
    return open.size() >= maxConnections.load();
  }

  void ReapFinished() {
    std::vector<ConnectionThread> done;
    {
      std::lock_guard lock(mutex);
      done.swap(finished);
    }
    for (auto& thread : done) thread.join();
  }

  void AcceptLoop() {
    const int listenFd = acceptor->native_handle();
    for (;;) {
      std::array<pollfd, 2> waits = {pollfd{listenFd, POLLIN, 0}, pollfd{wakeFd, POLLIN, 0}};
      const int ready = ::poll(waits.data(), waits.size(), -1);
      if (ready < 0) {
        if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      if (waits[1].revents != 0) return;
      if (AtCapacity()) {
        // Connections beyond the cap wait in the system's backlog until one
        // of the open ones ends (idle ones end after the idle time).
        pollfd wake{wakeFd, POLLIN, 0};
        if (::poll(&wake, 1, 20) > 0) return;
        ReapFinished();
        continue;
      }
      tcp::socket socket(io);
      error_code ec;
      acceptor->accept(socket, ec);
      if (ec) {
        if (ec != asio::error::would_block && ec != asio::error::try_again &&
            ec != asio::error::interrupted && ec != asio::error::connection_aborted) {
          // Out of descriptors or memory: wait a little instead of spinning.
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        continue;
      }
      ReapFinished();
      Launch(std::move(socket));
    }
  }

  void Launch(tcp::socket socket) {
    SetCloseOnExec(socket.native_handle());
    RequestHandler* const current = handler.load();
    std::lock_guard lock(mutex);
    if (closing) return;
    const std::uint64_t id = nextId++;
    Connection& connection = open[id];
    connection.fd = socket.native_handle();
    try {
      connection.thread = ConnectionThread(
          kConnectionStackBytes, [this, id, current, owned = std::move(socket)]() mutable { Serve(id, owned, *current); });
    } catch (...) {
      open.erase(id);  // no thread: the socket closes with the failed callable
      if (open.empty()) allClosed.notify_all();
    }
  }

  void Serve(std::uint64_t id, tcp::socket& socket, RequestHandler& requestHandler) {
    try {
      ServeConnection(socket, requestHandler, idleTimeout.load());
    } catch (...) {
      // A failure outside the handler (out of memory while reading, a socket
      // error raised as an exception) ends the connection.
    }
    std::lock_guard lock(mutex);
    // Closed under the lock: while the descriptor is registered it cannot be
    // reused by another connection that a stop would then shut down.
    error_code ignored;
    socket.close(ignored);
    auto entry = open.find(id);
    finished.push_back(std::move(entry->second.thread));
    open.erase(entry);
    if (open.empty()) allClosed.notify_all();
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

void Listener::SetActive(bool active) {
  if (active) {
    impl_->Start();
  } else {
    impl_->Stop();
  }
}

bool Listener::Active() const { return impl_->active; }

std::uint16_t Listener::BoundPort() const { return impl_->boundPort; }

void Listener::StopNow() noexcept { impl_->StopNow(); }

void Listener::SetIdleTimeout(std::chrono::milliseconds idle) { impl_->idleTimeout = idle; }

void Listener::SetMaxConnections(std::size_t count) { impl_->maxConnections = count < 1 ? 1 : count; }

std::size_t Listener::OpenConnections() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->open.size();
}

}  // namespace quelvar::service
