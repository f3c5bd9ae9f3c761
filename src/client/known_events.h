#pragma once
// The server's event catalogue, carried with the client: the declarations
// of an event without asking the server for its group's listing.

#include <optional>
#include <string_view>
#include <vector>

#include "client/event_listing.h"

namespace quelvar::client {

// The declared events of the group, read from the built-in catalogue, when
// it holds a group of that name (as the server matches it: any letter case,
// "TDM." prefix allowed) with the event; nullopt otherwise, and for an empty
// group name (the server would search every group).
std::optional<std::vector<DeclaredEvent>> CatalogueDeclarations(std::string_view group, std::string_view event);

}  // namespace quelvar::client
