#pragma once
// The texts of the server's own listings: the groups it holds (the answer of
// "GetServerEventsList", "TDM.<group>" names joined by "|") and the events of
// one group with their declared parameters (the answer of "GETEVENTS").

#include <string>
#include <string_view>

namespace quelvar::client {

// One group name per line, without the "TDM." prefix.
std::string GroupListText(std::string_view serverEventsList);

// An aligned table: event, parameter, direction, type, default (decoded);
// the event named on its first parameter's line only. Raises Error when the
// text is not an event list.
std::string EventListText(std::string_view getEventsResult);

}  // namespace quelvar::client
