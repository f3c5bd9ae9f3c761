#include "client/event_listing.h"

#include "client/text_table.h"
#include "formats/base64.h"
#include "formats/errors.h"
#include "formats/json_text.h"
#include "formats/param_types.h"
#include "formats/text_codec.h"

namespace quelvar::client {
namespace {

// The member of that key (any letter case) as text, "" when absent.
std::string MemberText(const json::Value& object, std::string_view key) {
  for (const json::Member& m : object.members)
    if (EqualsIgnoreCase(m.key, key)) return m.value.isNullish() ? std::string() : m.value.asText();
  return {};
}

const json::Value* MemberValue(const json::Value& object, std::string_view key) {
  for (const json::Member& m : object.members)
    if (EqualsIgnoreCase(m.key, key)) return &m.value;
  return nullptr;
}

std::string WithoutPrefix(std::string text, std::string_view prefix) {
  if (text.rfind(prefix, 0) == 0) text.erase(0, prefix.size());
  return text;
}

std::optional<TObjectDirection> DirectionNamed(std::string_view name) {
  for (TObjectDirection d : {TObjectDirection::odIN, TObjectDirection::odOUT, TObjectDirection::odINOUT})
    if (EqualsIgnoreCase(name, DirectionName(d))) return d;
  return std::nullopt;
}

}  // namespace

std::string GroupListText(std::string_view serverEventsList) {
  std::string out;
  std::size_t start = 0;
  while (start <= serverEventsList.size()) {
    auto bar = serverEventsList.find('|', start);
    if (bar == std::string_view::npos) bar = serverEventsList.size();
    const std::string_view name = Trim(serverEventsList.substr(start, bar - start));
    if (!name.empty()) out += WithoutPrefix(std::string(name), "TDM.") + "\n";
    start = bar + 1;
  }
  return out;
}

std::vector<DeclaredEvent> ReadEventDeclarations(std::string_view getEventsResult) {
  const json::Wrapper root = json::Wrapper::Of(Trim(getEventsResult));
  const json::Value* holder = root.isArray() ? root.valueAt(0) : root.value();
  const json::Value* events = holder && holder->kind == json::Kind::Object ? MemberValue(*holder, "serverevents")
                                                                            : nullptr;
  if (!events || events->kind != json::Kind::Array) throw Error("the answer is not an event list");
  std::vector<DeclaredEvent> out;
  for (const json::Value& event : events->elements) {
    if (event.kind != json::Kind::Object) continue;
    DeclaredEvent declared;
    declared.name = MemberText(event, "eventname");
    const json::Value* params = MemberValue(event, "params");
    if (params && params->kind == json::Kind::Array) {
      for (const json::Value& p : params->elements) {
        if (p.kind != json::Kind::Object) continue;
        DeclaredParameter param;
        param.name = MemberText(p, "paramname");
        param.directionName = MemberText(p, "objectdirection");
        param.typeName = MemberText(p, "objectvalue");
        param.direction = DirectionNamed(param.directionName);
        param.defaultText = MemberText(p, "default");
        if (!param.defaultText.empty()) {
          try {
            param.defaultText = DecodeText(param.defaultText);
          } catch (const std::exception&) {
          }
        }
        declared.params.push_back(std::move(param));
      }
    }
    out.push_back(std::move(declared));
  }
  return out;
}

const DeclaredParameter* DeclaredEvent::Find(std::string_view paramName) const {
  for (const DeclaredParameter& p : params)
    if (EqualsIgnoreCase(p.name, paramName)) return &p;
  return nullptr;
}

const DeclaredEvent* FindDeclaredEvent(const std::vector<DeclaredEvent>& events, std::string_view eventName) {
  for (const DeclaredEvent& e : events)
    if (EqualsIgnoreCase(e.name, eventName)) return &e;
  return nullptr;
}

std::string EventListText(std::string_view getEventsResult) {
  TextTable table;
  table.headers = {"EVENT", "PARAMETER", "DIRECTION", "TYPE", "DEFAULT"};
  for (const DeclaredEvent& event : ReadEventDeclarations(getEventsResult)) {
    bool any = false;
    for (const DeclaredParameter& p : event.params) {
      table.rows.push_back({any ? std::string() : event.name, p.name, WithoutPrefix(p.directionName, "od"),
                            WithoutPrefix(p.typeName, "ov"), p.defaultText});
      any = true;
    }
    if (!any) table.rows.push_back({event.name, "", "", "", ""});
  }
  return RenderTextTable(table);
}

}  // namespace quelvar::client
