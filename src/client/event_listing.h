#pragma once
// The texts of the server's own listings: the groups it holds (the answer of
// "GetServerEventsList", "TDM.<group>" names joined by "|") and the events of
// one group with their declared parameters (the answer of "GETEVENTS").

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/param_types.h"

namespace quelvar::client {

// One parameter as an event declares it.
struct DeclaredParameter {
  std::string name;
  std::string directionName;  // "odIN", "odOUT", "odINOUT" as listed
  std::string typeName;       // "ovString", "ovInteger", ... as listed
  std::string defaultText;    // decoded; "" when none
  // The listed direction; nullopt when the listing names none it knows.
  std::optional<TObjectDirection> direction;
};

struct DeclaredEvent {
  std::string name;
  std::vector<DeclaredParameter> params;
  // The parameter of that name (any letter case), nullptr when not declared.
  const DeclaredParameter* Find(std::string_view paramName) const;
};

// The events of a "GETEVENTS" answer in listed order. Raises Error when the
// text is not an event list.
std::vector<DeclaredEvent> ReadEventDeclarations(std::string_view getEventsResult);

// The event of that name (any letter case), nullptr when not listed.
const DeclaredEvent* FindDeclaredEvent(const std::vector<DeclaredEvent>& events, std::string_view eventName);

// One group name per line, without the "TDM." prefix.
std::string GroupListText(std::string_view serverEventsList);

// An aligned table: event, parameter, direction, type, default (decoded);
// the event named on its first parameter's line only. Raises Error when the
// text is not an event list.
std::string EventListText(std::string_view getEventsResult);

}  // namespace quelvar::client
