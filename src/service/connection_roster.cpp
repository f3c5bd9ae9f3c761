#include "service/connection_roster.h"

#include <algorithm>
#include <utility>

namespace quelvar::service {

void ConnectionRoster::Opened(const std::string& address, std::time_t now) {
  std::lock_guard lock(mutex_);
  Client& client = clients_[address];
  if (client.open++ == 0) {
    client.address = address;
    client.since = now;
    client.requests = 0;
  }
}

void ConnectionRoster::Closed(const std::string& address) {
  std::lock_guard lock(mutex_);
  const auto found = clients_.find(address);
  if (found != clients_.end() && --found->second.open == 0) clients_.erase(found);
}

void ConnectionRoster::Requested(const std::string& address) {
  std::lock_guard lock(mutex_);
  const auto found = clients_.find(address);
  if (found != clients_.end()) ++found->second.requests;
}

void ConnectionRoster::Refused(const std::string& address, std::string reason, std::time_t now) {
  std::lock_guard lock(mutex_);
  refusals_.push_back({now, address, std::move(reason)});
  while (refusals_.size() > kKeptRefusals) refusals_.pop_front();
}

std::vector<ConnectionRoster::Client> ConnectionRoster::Clients() const {
  std::vector<Client> clients;
  {
    std::lock_guard lock(mutex_);
    clients.reserve(clients_.size());
    for (const auto& [address, client] : clients_) clients.push_back(client);
  }
  std::sort(clients.begin(), clients.end(), [](const Client& a, const Client& b) {
    return a.since != b.since ? a.since < b.since : a.address < b.address;
  });
  return clients;
}

std::vector<ConnectionRoster::Refusal> ConnectionRoster::Refusals() const {
  std::lock_guard lock(mutex_);
  return {refusals_.rbegin(), refusals_.rend()};
}

}  // namespace quelvar::service
