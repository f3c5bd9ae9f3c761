#include "service/reserved_commands.h"

#include <array>
#include <utility>

#include "formats/text_codec.h"

namespace quelvar::service {
namespace {

constexpr std::array<std::string_view, 11> kDatabasePoolerNames = {
    "ExecuteCommandPureJSON", "ExecuteCommandJSON", "ApplyUpdates",   "ApplyUpdates_MassiveCache",
    "ProcessMassiveSQLCache", "GetTableNames",      "GetFieldNames",  "GetKeyFieldNames",
    "InsertMySQLReturnID_PARAMS", "InsertMySQLReturnID", "OpenDatasets",
};

// The parameter of that name, appended as an output parameter when absent.
TJSONParam& OutputParam(TDWParams& params, std::string_view name) {
  if (TJSONParam* existing = params.GetRecName(name)) return *existing;
  TJSONParam& param = params.AddNew();
  param.SetParamName(name);
  param.SetDirection(TObjectDirection::odOUT);
  return param;
}

void Answer(DispatchOutcome& outcome, std::string_view result, int status = 200) {
  outcome.result = std::string(result);
  outcome.status = status;
  outcome.mode = TJsonMode::jmEnvelope;
}

}  // namespace

std::optional<ReservedCommand> ReservedCommandOf(std::string_view eventName) {
  if (EqualsIgnoreCase(eventName, "GETPOOLERLIST")) return ReservedCommand::GetPoolerList;
  if (EqualsIgnoreCase(eventName, "GETSERVEREVENTSLIST")) return ReservedCommand::GetServerEventsList;
  if (EqualsIgnoreCase(eventName, "ECHOPOOLER")) return ReservedCommand::EchoPooler;
  if (EqualsIgnoreCase(eventName, "GETEVENTS")) return ReservedCommand::GetEvents;
  for (std::string_view name : kDatabasePoolerNames) {
    if (EqualsIgnoreCase(eventName, name)) return ReservedCommand::DatabasePooler;
  }
  return std::nullopt;
}

bool RunReservedCommand(ReservedCommand command, const EventCatalogue& catalogue, std::string_view groupName,
                        TDWParams& params, DispatchOutcome& outcome) {
  switch (command) {
    case ReservedCommand::GetServerEventsList: {
      std::string names;
      for (const TDWServerEvents& group : catalogue.Groups()) {
        if (!names.empty()) names += '|';
        names += "TDM." + group.Name();
      }
      OutputParam(params, "Result").SetAsString(names);
      Answer(outcome, kResultOk);
      return true;
    }
    case ReservedCommand::GetPoolerList:
      OutputParam(params, "Result").SetAsString("");
      Answer(outcome, kResultOk);
      return true;
    case ReservedCommand::EchoPooler:
      // No database pooler exists, whatever "Pooler" names.
      Answer(outcome, kResultInvalidPooler, 404);
      return false;
    case ReservedCommand::DatabasePooler: {
      params.Item("Pooler");
      const bool failed = params.Item("Error").GetAsBoolean();
      Answer(outcome, failed ? kResultNok : kResultOk);
      return true;
    }
    case ReservedCommand::GetEvents: {
      TJSONParam& error = OutputParam(params, "Error");
      TJSONParam& messageError = OutputParam(params, "MessageError");
      TJSONParam& result = OutputParam(params, "Result");
      if (const TDWServerEvents* group = catalogue.FirstQualifyingGroup(groupName)) {
        result.SetAsString("[" + group->EventListText() + "]");
        error.SetAsBoolean(false);
        Answer(outcome, kResultOk);
        return true;
      }
      error.SetAsBoolean(true);
      const std::string_view message =
          catalogue.Groups().size() == 1 ? std::string_view("Event Not Found") : kChooseServerEvent;
      messageError.SetAsString(message);
      Answer(outcome, message);
      return false;
    }
  }
  return false;
}

}  // namespace quelvar::service
