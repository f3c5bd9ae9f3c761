#include "client/call_parameters.h"

#include "client/client_record_sets.h"
#include "formats/text_codec.h"

namespace quelvar::client {

TObjectDirection SentDirection(const DeclaredEvent* declared, std::string_view name) {
  const DeclaredParameter* param = declared ? declared->Find(name) : nullptr;
  return param && param->direction ? *param->direction : TObjectDirection::odIN;
}

CallParameters PlanCallParameters(std::string_view group, const DeclaredEvent* declared, const CallInputs& inputs) {
  CallParameters plan;
  auto add = [&plan](std::string name, std::string text) {
    plan.sentNames.push_back(name);
    plan.fields.emplace_back(std::move(name), std::move(text));
  };
  auto sent = [&plan](std::string_view name) {
    for (const std::string& s : plan.sentNames)
      if (EqualsIgnoreCase(s, name)) return true;
    return false;
  };
  for (const EventArgument& a : inputs.arguments) add(a.name, ArgumentParamText(a, SentDirection(declared, a.name)));
  for (const auto& [name, text] : inputs.recordSets) add(name, StringParamText(name, text, SentDirection(declared, name)));
  if (declared) {
    for (const DeclaredParameter& p : declared->params) {
      if (p.direction != TObjectDirection::odINOUT || sent(p.name)) continue;
      if (auto empty = ClientDefinedRecordSet(group, declared->name, p.name))
        add(p.name, StringParamText(p.name, *empty, TObjectDirection::odINOUT));
    }
  }
  return plan;
}

}  // namespace quelvar::client
