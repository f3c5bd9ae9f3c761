#include "service/connection_thread.h"

#include <exception>
#include <system_error>
#include <utility>

namespace quelvar::service {

void ConnectionThread::Start(std::size_t stackBytes, void* (*entry)(void*), void* argument) {
  pthread_attr_t attributes;
  if (const int failure = ::pthread_attr_init(&attributes)) {
    throw std::system_error(failure, std::generic_category(), "pthread_attr_init");
  }
  ::pthread_attr_setstacksize(&attributes, stackBytes);
  const int failure = ::pthread_create(&id_, &attributes, entry, argument);
  ::pthread_attr_destroy(&attributes);
  if (failure != 0) throw std::system_error(failure, std::generic_category(), "pthread_create");
  started_ = true;
}

ConnectionThread::~ConnectionThread() {
  if (started_) std::terminate();
}

ConnectionThread::ConnectionThread(ConnectionThread&& other) noexcept
    : id_(other.id_), started_(std::exchange(other.started_, false)) {}

ConnectionThread& ConnectionThread::operator=(ConnectionThread&& other) noexcept {
  if (this != &other) {
    if (started_) std::terminate();
    id_ = other.id_;
    started_ = std::exchange(other.started_, false);
  }
  return *this;
}

void ConnectionThread::join() {
  if (!started_) throw std::system_error(std::make_error_code(std::errc::invalid_argument), "join");
  ::pthread_join(id_, nullptr);
  started_ = false;
}

}  // namespace quelvar::service
