#pragma once
// The parameter fields of one event call, each sent with the direction its
// event declares, so that the server answers the output and in-out ones:
//   - a parameter the event declares goes with the declared direction;
//   - one it does not declare, or any parameter when the event is not listed
//     (`declared` nullptr: the group's listing could not be read or does not
//     hold the event), goes as input;
//   - an in-out record set the desktop clients define themselves
//     (client_record_sets.h) and the call does not give is sent empty with
//     their fields.
// Fields follow the order: arguments, record sets, then the added record sets.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/event_argument.h"
#include "client/event_listing.h"
#include "client/event_request.h"

namespace quelvar::client {

struct CallInputs {
  std::vector<EventArgument> arguments;
  // Record sets from rows files: parameter name and holder text.
  std::vector<std::pair<std::string, std::string>> recordSets;
};

struct CallParameters {
  std::vector<ParamField> fields;
  std::vector<std::string> sentNames;  // the names of `fields`, in order
};

// The direction `name` is sent with.
TObjectDirection SentDirection(const DeclaredEvent* declared, std::string_view name);

CallParameters PlanCallParameters(std::string_view group, const DeclaredEvent* declared, const CallInputs& inputs);

}  // namespace quelvar::client
