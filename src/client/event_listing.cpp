#include "client/event_listing.h"

#include "client/text_table.h"
#include "formats/base64.h"
#include "formats/errors.h"
#include "formats/json_text.h"
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

std::string EventListText(std::string_view getEventsResult) {
  const json::Wrapper root = json::Wrapper::Of(Trim(getEventsResult));
  const json::Value* holder = root.isArray() ? root.valueAt(0) : root.value();
  const json::Value* events = holder && holder->kind == json::Kind::Object ? MemberValue(*holder, "serverevents")
                                                                            : nullptr;
  if (!events || events->kind != json::Kind::Array) throw Error("the answer is not an event list");
  TextTable table;
  table.headers = {"EVENT", "PARAMETER", "DIRECTION", "TYPE", "DEFAULT"};
  for (const json::Value& event : events->elements) {
    if (event.kind != json::Kind::Object) continue;
    std::string name = MemberText(event, "eventname");
    const json::Value* params = MemberValue(event, "params");
    bool any = false;
    if (params && params->kind == json::Kind::Array) {
      for (const json::Value& p : params->elements) {
        if (p.kind != json::Kind::Object) continue;
        std::string defaultText = MemberText(p, "default");
        if (!defaultText.empty()) {
          try {
            defaultText = DecodeText(defaultText);
          } catch (const std::exception&) {
          }
        }
        table.rows.push_back({any ? std::string() : name, MemberText(p, "paramname"),
                              WithoutPrefix(MemberText(p, "objectdirection"), "od"),
                              WithoutPrefix(MemberText(p, "objectvalue"), "ov"), defaultText});
        any = true;
      }
    }
    if (!any) table.rows.push_back({name, "", "", "", ""});
  }
  return RenderTextTable(table);
}

}  // namespace quelvar::client
