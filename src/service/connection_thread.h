#pragma once
// A joinable thread with a stack of a chosen size, for the listener's
// connection threads. They are many and short-lived: a stack far smaller than
// the system's default (often 8 MiB) stays in the C library's cache of
// stacks, so starting one costs no fresh mapping and ending one no unmapping.
//
// Like std::thread it must be joined before it is destroyed; construction
// throws std::system_error when the thread cannot be started.

#include <cstddef>
#include <memory>
#include <utility>

#include <pthread.h>

namespace quelvar::service {

class ConnectionThread {
 public:
  ConnectionThread() = default;
  // Runs `body()` (moved into the thread; it may be move-only).
  template <typename Body>
  ConnectionThread(std::size_t stackBytes, Body body) {
    auto owned = std::make_unique<Body>(std::move(body));
    Start(stackBytes, &Run<Body>, owned.get());
    owned.release();  // the thread frees it
  }
  ~ConnectionThread();  // std::terminate when still joinable, as std::thread

  ConnectionThread(ConnectionThread&& other) noexcept;
  ConnectionThread& operator=(ConnectionThread&& other) noexcept;
  ConnectionThread(const ConnectionThread&) = delete;
  ConnectionThread& operator=(const ConnectionThread&) = delete;

  bool joinable() const { return started_; }
  void join();

 private:
  template <typename Body>
  static void* Run(void* argument) {
    const std::unique_ptr<Body> body(static_cast<Body*>(argument));
    (*body)();
    return nullptr;
  }
  void Start(std::size_t stackBytes, void* (*entry)(void*), void* argument);

  pthread_t id_{};
  bool started_ = false;
};

}  // namespace quelvar::service
