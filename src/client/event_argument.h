#pragma once
// One NAME[:type]=VALUE argument of an event call, and the parameter JSON
// texts the desktop clients send (Encoded, with the direction the event
// declares for the parameter).

#include <string>
#include <string_view>

#include "client/typed_value.h"
#include "formats/param_types.h"
#include "formats/variant.h"

namespace quelvar::client {

struct EventArgument {
  std::string name;
  const TypedValueKind* kind = nullptr;
  Variant value;
};

// Reads "Name=value", "Name:int=4", "Desativados:bool=true". A missing "=",
// an empty name, an unknown type or a value that does not read raises Error.
EventArgument ReadEventArgument(std::string_view argument);

// The parameter text of `argument` sent with `direction`.
std::string ArgumentParamText(const EventArgument& argument, TObjectDirection direction);

// The parameter text of `name` holding `text` as a string, sent with `direction`.
std::string StringParamText(std::string_view name, std::string_view text,
                            TObjectDirection direction = TObjectDirection::odIN);

}  // namespace quelvar::client
