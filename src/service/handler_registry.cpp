#include "service/handler_registry.h"

#include "formats/text_codec.h"

namespace quelvar::service {

HandlerRegistry::Builder& HandlerRegistry::Builder::Add(std::string_view group, std::string_view event,
                                                        EventHandler handler) {
  handlers_[{UpperAscii(group), UpperAscii(event)}] = std::move(handler);
  return *this;
}

HandlerRegistry HandlerRegistry::Builder::Build() && { return HandlerRegistry(std::move(handlers_)); }

const EventHandler* HandlerRegistry::Find(std::string_view group, std::string_view event) const {
  const auto it = handlers_.find({UpperAscii(group), UpperAscii(event)});
  return it == handlers_.end() ? nullptr : &it->second;
}

}  // namespace quelvar::service
