#pragma once
// Calls server events the way the desktop clients do: a multipart POST whose
// fields are the parameters' JSON texts, plus the reserved group field.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/params.h"

namespace quelvar::test {

// The JSON text of one declared-Encoded string parameter.
std::string StringParam(std::string_view name, std::string_view value,
                        TObjectDirection direction = TObjectDirection::odIN);
// The JSON text of an OUT parameter without a value.
std::string OutParam(std::string_view name);

struct EventReply {
  int status = 0;
  std::string body;
  TDWParams params;  // the envelope's output parameters, read back
  // The text of an output parameter ("" when absent).
  std::string Text(std::string_view name) const;
};

// POSTs to /<event> with the group in "dwservereventname" and one multipart
// field per parameter text (named by the parameter). A reply that has not
// ended within `timeout` gives status 0.
EventReply CallEvent(std::uint16_t port, std::string_view group, std::string_view event,
                     const std::vector<std::pair<std::string, std::string>>& params,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace quelvar::test
