#pragma once
// The reserved command names: requests that never reach an event, whatever
// group they name. "GetServerEventsList", "GetPoolerList", "EchoPooler",
// "GETEVENTS" and the eleven database-pooler commands ("ExecuteCommandPureJSON"
// to "OpenDatasets"); this server holds no database pooler.

#include <optional>
#include <string>
#include <string_view>

#include "formats/params.h"
#include "service/dispatch_outcome.h"
#include "service/event_catalogue.h"

namespace quelvar::service {

enum class ReservedCommand {
  GetPoolerList,
  GetServerEventsList,
  EchoPooler,
  DatabasePooler,  // any of the eleven database-pooler names
  GetEvents,
};

// The command an event name (any letter case) names, if any.
std::optional<ReservedCommand> ReservedCommandOf(std::string_view eventName);

// Runs the command on the request's parameter list, appending the output
// parameters "Result", "Error" and "MessageError" it sets when the request did
// not bring them. Fills result, status and mode of `outcome`; returns false
// when the command did not answer ("EchoPooler", and "GETEVENTS" for a group
// that does not exist), so that the file fallback may still answer. A
// database-pooler command whose request lacks "Pooler" or "Error" raises
// Error("Invalid DWParam").
bool RunReservedCommand(ReservedCommand command, const EventCatalogue& catalogue, std::string_view groupName,
                        TDWParams& params, DispatchOutcome& outcome);

// The message of "GETEVENTS" for a group name that no group matches.
inline constexpr std::string_view kChooseServerEvent =
    "There is more than one ServerEvent.\r\nChoose the desired ServerEvent in the ServerEventName property.";

}  // namespace quelvar::service
