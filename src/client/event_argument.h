#pragma once
// One NAME[:type]=VALUE argument of an event call, as the parameter JSON text
// the desktop clients send (an input parameter, Encoded).

#include <string>
#include <string_view>

namespace quelvar::client {

struct EventArgument {
  std::string name;
  std::string jsonText;
};

// Reads "Name=value", "Name:int=4", "Desativados:bool=true". A missing "=",
// an empty name, an unknown type or a value that does not read raises Error.
EventArgument ReadEventArgument(std::string_view argument);

// The parameter text of an input parameter `name` holding `text` as a string.
std::string StringParamText(std::string_view name, std::string_view text);

}  // namespace quelvar::client
