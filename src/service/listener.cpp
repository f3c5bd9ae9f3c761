#include "service/listener.h"

#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include "service/address_slots.h"
#include "service/body_budget.h"
#include "service/connection_serving.h"
#include "service/connection_thread.h"
#include "service/descriptor_budget.h"
#include "service/listening_socket.h"
#include "service/login_throttle.h"
#include "service/peer_address.h"
#include "service/tls_context.h"

namespace quelvar::service {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

// Threads that wait in accept() on each listening socket at most (each holds
// a descriptor while it waits): started with the listener; a thread whose
// connection ends while as many wait ends too.
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
  std::atomic<OperatorEntrance*> entrance{nullptr};
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
  ConnectionRoster roster;

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
    sockaddr_storage remote{};
    socklen_t remoteLength = sizeof remote;
    if (::getpeername(oldest->fd, reinterpret_cast<sockaddr*>(&remote), &remoteLength) == 0) {
      roster.Refused(PeerOf(remote).ip, std::string(kEvictedRefusal));
    }
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
                            entrance.load(),
                            roster,
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
      if (counted) {
        roster.Opened(peerIp);
      } else {
        roster.Refused(peerIp, std::string(kPerAddressRefusal));
      }
      if (counted && ServeConnection(fd, io.get_executor(), tls, scope) >= kTrimAfterBytes) {
        // A large reply leaves free memory behind: hand it back to the system.
        ::malloc_trim(0);
      }
    } catch (...) {
      // A failure outside the handler (out of memory while reading, a socket
      // error raised as an exception) ends the connection.
    }
    if (counted) {
      slots.Give(peerIp);
      roster.Closed(peerIp);
    }
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

void Listener::SetEntrance(OperatorEntrance* entrance) { impl_->entrance = entrance; }

void Listener::SetPort(std::uint16_t port) { impl_->port = port; }

std::uint16_t Listener::Port() const { return impl_->port; }

void Listener::SetOptions(const ListenerOptions& options) { impl_->Publish(options); }

ListenerOptions Listener::Options() const { return *impl_->CurrentOptions(); }

void Listener::SetLoginFailureReport(std::function<void(const std::string& address, std::size_t failures)> report) {
  impl_->throttle.SetReport(std::move(report));
}

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

const ConnectionRoster& Listener::Roster() const { return impl_->roster; }

std::size_t Listener::Threads() const { return impl_->threads.load(); }

void Listener::StopAccepting() noexcept { impl_->StopAccepting(); }

bool Listener::WaitIdle(std::chrono::steady_clock::time_point deadline) const { return impl_->WaitIdle(deadline); }

}  // namespace quelvar::service
