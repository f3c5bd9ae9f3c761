#include "client/known_events.h"

#include "service/event_catalogue.h"

namespace quelvar::client {

std::optional<std::vector<DeclaredEvent>> CatalogueDeclarations(std::string_view group, std::string_view event) {
  if (group.empty()) return std::nullopt;
  static const service::EventCatalogue catalogue = service::BuildEventCatalogue();
  const service::TDWServerEvents* found = catalogue.FirstQualifyingGroup(group);
  if (found == nullptr || found->Find(event) == nullptr) return std::nullopt;
  // The same text "GETEVENTS" answers, so both roads read alike.
  return ReadEventDeclarations("[" + found->EventListText() + "]");
}

}  // namespace quelvar::client
