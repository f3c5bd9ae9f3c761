#include "service/server_events.h"

#include <utility>

#include "formats/base64.h"
#include "formats/text_codec.h"
#include "formats/variant.h"

namespace quelvar::service {
namespace {

constexpr std::string_view kModulePrefix = "TDM.";

TDWRoute RouteOf(RequestType method) {
  switch (method) {
    case RequestType::Get: return TDWRoute::crGet;
    case RequestType::Post: return TDWRoute::crPost;
    case RequestType::Put: return TDWRoute::crPut;
    case RequestType::Patch: return TDWRoute::crPatch;
    case RequestType::Delete: return TDWRoute::crDelete;
  }
  return TDWRoute::crAll;
}

void AppendMember(std::string& out, std::string_view key, std::string_view value) {
  out += '"';
  out += key;
  out += "\":\"";
  out += value;
  out += '"';
}

}  // namespace

bool TDWRoutes::Accepts(RequestType method) const { return Has(TDWRoute::crAll) || Has(RouteOf(method)); }

std::string TDWRoutes::MethodsText() const {
  static constexpr std::pair<TDWRoute, std::string_view> kOrder[] = {
      {TDWRoute::crGet, "GET"},     {TDWRoute::crPost, "POST"},     {TDWRoute::crPut, "PUT"},
      {TDWRoute::crPatch, "PATCH"}, {TDWRoute::crDelete, "DELETE"},
  };
  std::string out;
  for (const auto& [route, name] : kOrder) {
    if (!Has(TDWRoute::crAll) && !Has(route)) continue;
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

std::string_view JsonModeName(TJsonMode mode) {
  switch (mode) {
    case TJsonMode::jmEnvelope: return "jmEnvelope";
    case TJsonMode::jmPureJSON: return "jmPureJSON";
    case TJsonMode::jmUndefined: return "jmUndefined";
  }
  return "jmUndefined";
}

TDWServerEvents::TDWServerEvents(std::string name, std::vector<TDWEvent> events)
    : name_(std::move(name)), events_(std::move(events)) {}

bool TDWServerEvents::Qualifies(std::string_view groupName) const {
  if (EqualsIgnoreCase(groupName, contextName_) || EqualsIgnoreCase(groupName, name_)) return true;
  return groupName.size() == kModulePrefix.size() + name_.size() &&
         EqualsIgnoreCase(groupName.substr(0, kModulePrefix.size()), kModulePrefix) &&
         EqualsIgnoreCase(groupName.substr(kModulePrefix.size()), name_);
}

const TDWEvent* TDWServerEvents::Find(std::string_view eventName) const {
  for (const TDWEvent& event : events_) {
    if (EqualsIgnoreCase(event.Name, eventName)) return &event;
  }
  return nullptr;
}

void TDWServerEvents::CreateDWParams(std::string_view eventName, TDWParams& params) const {
  const TDWEvent* event = Find(eventName);
  if (!event) return;
  for (const DeclaredParam& declared : event->DWParams) {
    if (params.GetRecName(declared.name)) continue;
    TJSONParam& param = params.AddNew();
    param.vJsonMode = params.vJsonMode;
    param.SetParamName(declared.name);
    param.SetDirection(declared.direction);
    param.SetValueType(declared.valueType);
    param.SetEncoded(declared.encoded);
    if (declared.defaultValue && Trim(param.GetAsString()).empty()) {
      param.SetVariantValue(Variant::Text(*declared.defaultValue));
    }
  }
}

std::string TDWServerEvents::EventListText() const {
  std::string out = "{\"serverevents\":[";
  bool firstEvent = true;
  for (const TDWEvent& event : events_) {
    if (!firstEvent) out += ", ";
    firstEvent = false;
    out += '{';
    AppendMember(out, "eventname", event.Name);
    out += ", ";
    AppendMember(out, "jsonmode", JsonModeName(event.JsonMode));
    out += ", \"params\":[";
    bool firstParam = true;
    for (const DeclaredParam& p : event.DWParams) {
      if (!firstParam) out += ", ";
      firstParam = false;
      out += '{';
      AppendMember(out, "typeobject", TypeObjectName(TTypeObject::toParam));
      out += ", ";
      AppendMember(out, "objectdirection", DirectionName(p.direction));
      out += ", ";
      AppendMember(out, "objectvalue", ValueTypeName(p.valueType));
      out += ", ";
      AppendMember(out, "paramname", p.name);
      out += ", ";
      AppendMember(out, "encoded", p.encoded ? "true" : "false");
      out += ", ";
      AppendMember(out, "default", p.defaultValue ? EncodeText(*p.defaultValue) : std::string());
      out += '}';
    }
    out += "]}";
  }
  out += "]}";
  return out;
}

}  // namespace quelvar::service
