#pragma once
// Which code runs an event: a map from (group, event) to a handler, built once
// at start-up and immutable afterwards. The catalogue says what an event is;
// the registry says what it does, so a business module plugs its handlers in
// without touching the catalogue.

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "formats/params.h"

namespace quelvar {
class TDM;
}

namespace quelvar::service {

// An event handler (`OnReplyEvent`): reads its input parameters, sets its
// output parameters and may set the result text. Runs on the request's thread
// with the request's own module. An exception it lets escape is reported to
// the client as status 500 with the exception's message.
using EventHandler = std::function<void(TDM& module, TDWParams& params, std::string& result)>;

class HandlerRegistry {
 public:
  class Builder {
   public:
    // Registers `handler` for the event of that group (names compared without
    // regard to letter case). A second registration of the same pair replaces
    // the first.
    Builder& Add(std::string_view group, std::string_view event, EventHandler handler);
    HandlerRegistry Build() &&;

   private:
    std::map<std::pair<std::string, std::string>, EventHandler> handlers_;
  };

  HandlerRegistry() = default;

  // The handler of the event, or nullptr when none is registered.
  const EventHandler* Find(std::string_view group, std::string_view event) const;
  std::size_t Size() const { return handlers_.size(); }

 private:
  explicit HandlerRegistry(std::map<std::pair<std::string, std::string>, EventHandler> handlers)
      : handlers_(std::move(handlers)) {}
  std::map<std::pair<std::string, std::string>, EventHandler> handlers_;
};

}  // namespace quelvar::service
