#pragma once
// The event catalogue: the fourteen event groups of the service module in
// their component order (which is also the order in which a request's event
// is searched), each event with the parameters it declares. Built once,
// immutable afterwards.

#include <string_view>
#include <vector>

#include "service/server_events.h"

namespace quelvar::service {

class EventCatalogue {
 public:
  explicit EventCatalogue(std::vector<TDWServerEvents> groups) : groups_(std::move(groups)) {}

  const std::vector<TDWServerEvents>& Groups() const { return groups_; }

  // The first qualifying group (TDWServerEvents::Qualifies) that holds an
  // event of that name, with the event; {nullptr, nullptr} when none does.
  struct Match {
    const TDWServerEvents* group = nullptr;
    const TDWEvent* event = nullptr;
  };
  Match FindEvent(std::string_view groupName, std::string_view eventName) const;

  // The first qualifying group, or nullptr.
  const TDWServerEvents* FirstQualifyingGroup(std::string_view groupName) const;

 private:
  std::vector<TDWServerEvents> groups_;
};

// The server's catalogue.
EventCatalogue BuildEventCatalogue();

}  // namespace quelvar::service
