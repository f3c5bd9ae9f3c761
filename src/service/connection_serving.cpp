#include "service/connection_serving.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <boost/asio/buffer.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>

#include "formats/text_codec.h"
#include "service/arriving_body.h"
#include "service/http_gate.h"
#include "service/protocol_limits.h"
#include "service/timed_stream.h"
#include "service/url_text.h"

namespace quelvar::service {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using boost::system::error_code;

// How long (and how much) a closing connection keeps reading and discarding
// what the client still sends, so that the close does not reset the
// connection before the client has read the reply.
constexpr std::chrono::milliseconds kLingerTime{2000};
constexpr std::size_t kLingerBytes = 4u << 20;
// After a body refused for the budget, the rest of that body is read and
// dropped (for this long at most), so that its sender, still writing, gets
// to read the refusal instead of a reset.
constexpr std::chrono::milliseconds kRefusedBodyLinger{10'000};
// What reading a body holds besides the body: the reading buffer as it is,
// and what one read may add to it.
constexpr std::uint64_t kBodyReadAhead = 64u * 1024u;
// Working copies of a body the handler holds beside it while it decodes it
// into parameters (the decoded text, its stored encoding): taken from the
// budget with the body, so that what the budget counts is what the request
// costs until its reply.
constexpr std::uint64_t kHandlingCopies = 2;

// What a closing connection still reads and drops.
struct Linger {
  std::uint64_t bytes = kLingerBytes;
  std::chrono::milliseconds time = kLingerTime;
};

// The linger after refusing a body of `announced` bytes (or of unknown size).
Linger AfterRefusedBody(const boost::optional<std::uint64_t>& announced) {
  const std::uint64_t rest = announced ? std::min(*announced, kMaxBodyBytes) : kMaxBodyBytes;
  return {std::max<std::uint64_t>(kLingerBytes, rest), kRefusedBodyLinger};
}

using RequestParser = http::request_parser<ArrivingBody>;
using RequestMessage = http::request<ArrivingBody>;
using TlsStream = asio::ssl::stream<TimedStream&>;

std::string ToString(boost::string_view text) { return std::string(text.data(), text.size()); }
std::string_view View(boost::string_view text) { return std::string_view(text.data(), text.size()); }

// Why a refusal answered with `status` was made, as the operator's list of
// refusals shows it.
std::string RefusalReason(int status) {
  std::string_view why = "pedido recusado";
  switch (status) {
    case 400: why = "pedido malformado"; break;
    case 413: why = "pedido grande demais"; break;
    case 414: why = "endereço longo demais"; break;
    case 431: why = "cabeçalho grande demais"; break;
    case 501: why = "codificação do corpo não aceita"; break;
    case 503: why = "memória de corpos esgotada"; break;
    default: break;
  }
  return std::string(why) + " (" + std::to_string(status) + ")";
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
// down, or the linger's time or bytes are spent.
void CloseGracefully(int fd, const Linger& linger) {
  if (::shutdown(fd, SHUT_WR) != 0) return;
  const auto deadline = std::chrono::steady_clock::now() + linger.time;
  std::array<char, 16 * 1024> sink;  // what the client still sends is read and dropped
  std::uint64_t dropped = 0;
  while (dropped < linger.bytes) {
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
void CloseGracefully(TlsStream& stream, TimedStream& timed, const Linger& linger) {
  timed.SetReadDeadline(std::chrono::steady_clock::now() + kLingerTime);
  error_code ec;
  stream.shutdown(ec);
  CloseGracefully(timed.native_handle(), linger);
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

// The path of a request target, without its query.
std::string_view PathOf(std::string_view target) { return target.substr(0, target.find('?')); }

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

// Ends a connection whose reply was written. `whole`: the request was read
// to its last byte and nothing beyond it was taken in; otherwise what the
// client still sends is drained first, as `linger` says.
using CloseAfterReply = std::function<void(bool whole, const Linger& linger)>;

// Answers `status`, puts the refusal on the operator's list, and ends the connection.
template <typename Stream>
void Refuse(Stream& stream, const CloseAfterReply& close, ConnectionScope& scope, int status,
            const Linger& linger = {}) {
  scope.roster.Refused(scope.peer.ip, RefusalReason(status));
  if (WriteReply(stream, FailureReply(status, std::string(StandardReason(status))))) close(false, linger);
}

// A connection that ends before its header block (or its TLS handshake): on
// the operator's list as past its header deadline when it is, otherwise as
// `otherwise` (nothing: the client simply went away).
void NoteEndBeforeHeader(ConnectionScope& scope, std::string_view otherwise = {}) {
  const bool late = std::chrono::steady_clock::now() >= scope.accepted + scope.headerDeadline;
  if (late || !otherwise.empty()) {
    scope.roster.Refused(scope.peer.ip, std::string(late ? kHeaderDeadlineRefusal : otherwise));
  }
}

// One request on a connection whose stream (plain or TLS) is ready: read it,
// answer it. `close` ends a connection whose reply was written.
template <typename Stream>
std::size_t ServeRequest(Stream& stream, TimedStream& timed, const CloseAfterReply& close, ConnectionScope& scope) {
  const ListenerOptions& options = *scope.options;
  beast::flat_buffer buffer;
  RequestLine requestLine = ReadRequestLine(stream, buffer);
  if (requestLine.refusal != 0) { Refuse(stream, close, scope, requestLine.refusal); return 0; }
  if (!requestLine.line || !ReadHeaderBlock(stream, buffer)) {
    NoteEndBeforeHeader(scope);
    return 0;
  }
  {
    const std::string_view seen(static_cast<const char*>(buffer.data().data()), buffer.size());
    if (HasFoldedLine(seen.substr(0, HeaderBlockEnd(seen).value_or(seen.size())))) {
      Refuse(stream, close, scope, 400);
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
    { Refuse(stream, close, scope, 431); return 0; }  // a field the parser cannot even hold
  }
  if (ec) {
    if (const int status = RefusalStatus(ec)) {
      Refuse(stream, close, scope, status);
    } else {
      NoteEndBeforeHeader(scope);
    }
    return 0;
  }
  timed.SetReadDeadline(std::nullopt);
  scope.awaitingHeader.store(false);
  auto& head = parser.get();
  if (const int status = HeaderRefusal(head, View(head.target()))) { Refuse(stream, close, scope, status); return 0; }

  // A refused login (the clients' credentials, or the door's own login) goes
  // on the operator's list and slows its address down.
  auto failedLogin = [&scope](std::string_view reason) {
    scope.roster.Refused(scope.peer.ip, std::string(reason));
    const auto delay = scope.throttle.RecordFailure(scope.peer.ip);
    if (delay.count() > 0) scope.pause(delay);
  };
  // The operator's door takes its own paths before any credential is looked at.
  OperatorEntrance* const entrance =
      scope.entrance != nullptr && scope.entrance->Takes(PathOf(View(head.target()))) ? scope.entrance : nullptr;
  Credentials credentials;
  if (entrance == nullptr) {
    const auto authorization = head.find(http::field::authorization);
    credentials = ParseAuthorization(
        authorization == head.end() ? std::nullopt : std::optional<std::string_view>(View(authorization->value())));
    if (credentials.kind == Credentials::Kind::OtherScheme) return 0;  // closed without a reply
    if (!IsAuthorized(credentials, options.user, options.password)) {
      failedLogin(kCredentialsRefusal);
      if (WriteReply(stream, UnauthorizedReply())) close(false, {});
      return 0;
    }
  }

  BudgetHold hold(scope.budget);
  if (!parser.is_done()) {
    const auto announced = parser.content_length();
    if (entrance != nullptr) {
      if (announced.value_or(0) > kMaxEntranceBodyBytes) {
        Refuse(stream, close, scope, 413, AfterRefusedBody(announced));
        return 0;
      }
      parser.body_limit(kMaxEntranceBodyBytes);
    }
    const std::uint64_t reading = buffer.capacity() + kBodyReadAhead;
    if (!hold.TryTake(reading + announced.value_or(0) * (1 + kHandlingCopies))) {
      Refuse(stream, close, scope, 503, AfterRefusedBody(announced));
      return 0;
    }
    if (!announced) {
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
      if (const int status = RefusalStatus(ec))
        Refuse(stream, close, scope, status, status == 503 ? AfterRefusedBody(announced) : Linger{});
      return 0;
    }
    timed.StartMinimumRate(0, {});
    if (!announced && !hold.TryTake(parser.get().body().text.size() * kHandlingCopies)) {
      parser.get().body().text = std::string();
      hold.Release();
      Refuse(stream, close, scope, 503);
      return 0;
    }
  }

  RequestMessage message = parser.release();
  if (IsUrlEncodedForm(View(message[http::field::content_type])) &&
      CountAmpersandPieces(message.body().text, kMaxQueryPairs) > kMaxQueryPairs) {
    message.body().text = std::string();
    hold.Release();
    { Refuse(stream, close, scope, 413); return 0; }
  }
  HttpReply reply;
  {
    HttpRequest request = BuildRequest(std::move(*requestLine.line), message, credentials, scope.peer);
    const auto type = ClassifyMethod(request.requestText);
    if (!type || request.path == "/favicon.ico") {
      reply = EmptyReply();
    } else {
      request.requestType = *type;
      scope.roster.Requested(scope.peer.ip);
      const auto started = std::chrono::steady_clock::now();
      try {
        if (entrance != nullptr) {
          entrance->Handle(request, reply,
                           {!std::is_same_v<Stream, TimedStream>, [&] { failedLogin(kEntranceLoginRefusal); },
                            [&scope](std::string_view reason) { scope.roster.Refused(scope.peer.ip, std::string(reason)); }});
        } else {
          scope.handler.Handle(request, reply);
        }
      } catch (const std::exception& failure) {
        reply = FailureReply(500, failure.what());
      } catch (...) {
        reply = FailureReply(500, "Unknown failure");
      }
      if (entrance == nullptr && scope.entrance != nullptr) {
        scope.entrance->Served(reply.status, std::chrono::steady_clock::now() - started);
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
  if (written) close(buffer.size() == 0, {});
  return reply.body.size();
}

// True when nothing more has arrived on the socket (or the client has
// finished sending): closing at once then loses the client nothing.
bool NothingPending(int fd) {
  char byte;
  const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

}  // namespace

std::size_t ServeConnection(int fd, asio::io_context::executor_type executor, asio::ssl::context* tls,
                            ConnectionScope& scope) {
  TimedStream timed(fd, scope.options->limits.idleTimeout, executor);
  timed.SetReadDeadline(scope.accepted + scope.headerDeadline);
  if (tls == nullptr) {
    return ServeRequest(timed, timed, [&](bool whole, const Linger& linger) {
      // A request read whole, with nothing after it: the close needs no drain.
      if (!whole || !NothingPending(fd)) CloseGracefully(fd, linger);
    }, scope);
  }
  TlsStream stream(timed, *tls);
  error_code ec;
  stream.handshake(asio::ssl::stream_base::server, ec);
  if (ec) {
    NoteEndBeforeHeader(scope, kTlsHandshakeRefusal);
    return 0;
  }
  return ServeRequest(stream, timed, [&](bool, const Linger& linger) { CloseGracefully(stream, timed, linger); },
                      scope);
}

}  // namespace quelvar::service
