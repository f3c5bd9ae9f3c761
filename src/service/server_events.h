#pragma once
// An event group (TDWServerEvents) and its events (TDWEvent): the names a
// request is routed by, the methods each event accepts, its reply mode and
// the parameters it declares. Pure data: the code that runs an event is found
// in the handler registry by group and event name.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/param_types.h"
#include "formats/params.h"
#include "service/http_exchange.h"

namespace quelvar::service {

// TDWRoutes: the set of methods an event accepts.
enum class TDWRoute : std::uint8_t { crAll = 1, crGet = 2, crPost = 4, crPut = 8, crPatch = 16, crDelete = 32 };

class TDWRoutes {
 public:
  constexpr TDWRoutes() = default;
  constexpr TDWRoutes(std::initializer_list<TDWRoute> routes) {
    for (TDWRoute r : routes) bits_ |= static_cast<std::uint8_t>(r);
  }
  constexpr bool Has(TDWRoute r) const { return (bits_ & static_cast<std::uint8_t>(r)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  // True when the set holds crAll or the route of `method`.
  bool Accepts(RequestType method) const;
  // The accepted methods in the order GET, POST, PUT, PATCH, DELETE, joined by
  // ", " (crAll names all five).
  std::string MethodsText() const;

 private:
  std::uint8_t bits_ = 0;
};

// One declared parameter of an event.
struct DeclaredParam {
  std::string name;  // as declared ("Tabela")
  TObjectDirection direction = TObjectDirection::odIN;
  TObjectValue valueType = TObjectValue::ovString;
  bool encoded = true;
  std::optional<std::string> defaultValue;  // applied when the client did not send the parameter
};

struct TDWEvent {
  std::string Name;  // unique in its group, compared without regard to letter case
  TDWRoutes Routes{TDWRoute::crAll};
  TJsonMode JsonMode = TJsonMode::jmEnvelope;
  std::vector<DeclaredParam> DWParams;
};

class TDWServerEvents {
 public:
  TDWServerEvents(std::string name, std::vector<TDWEvent> events);

  const std::string& Name() const { return name_; }  // the component name
  const std::string& ContextName() const { return contextName_; }
  bool IgnoreInvalidParams() const { return false; }
  const std::vector<TDWEvent>& Events() const { return events_; }

  // True when `groupName` (any letter case) equals the context name, the
  // component name, or "TDM." followed by the component name. With an empty
  // context name, an empty group name qualifies every group.
  bool Qualifies(std::string_view groupName) const;

  // The event of that name (any letter case), or nullptr.
  const TDWEvent* Find(std::string_view eventName) const;

  // Completes `params` with the declared parameters of the event that it does
  // not hold yet (by name, any letter case), in declaration order. A default
  // value is applied to a new parameter whose text is blank. Parameters the
  // request brought keep their direction, type and value.
  void CreateDWParams(std::string_view eventName, TDWParams& params) const;

  // The event list text of the group (the answer of "GETEVENTS"):
  // {"serverevents":[{"eventname":"..", "jsonmode":"..", "params":[{...}]}]}
  std::string EventListText() const;

 private:
  std::string name_;
  std::string contextName_;
  std::vector<TDWEvent> events_;
};

// "jmEnvelope", "jmPureJSON", "jmUndefined".
std::string_view JsonModeName(TJsonMode mode);

}  // namespace quelvar::service
