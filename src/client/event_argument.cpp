#include "client/event_argument.h"

#include "formats/errors.h"
#include "formats/params.h"

namespace quelvar::client {

EventArgument ReadEventArgument(std::string_view argument) {
  const auto equals = argument.find('=');
  if (equals == std::string_view::npos)
    throw Error("argument '" + std::string(argument) + "' is not NAME=VALUE or NAME:TYPE=VALUE");
  std::string_view name = argument.substr(0, equals);
  const std::string_view value = argument.substr(equals + 1);
  const TypedValueKind* kind = &StringKind();
  if (const auto colon = name.find(':'); colon != std::string_view::npos) {
    kind = &KindNamed(name.substr(colon + 1));
    name = name.substr(0, colon);
  }
  if (name.empty()) throw Error("argument '" + std::string(argument) + "' has no parameter name");
  return {std::string(name), kind, ReadTypedValue(*kind, value)};
}

std::string ArgumentParamText(const EventArgument& argument, TObjectDirection direction) {
  TJSONParam param(TEncodeSelect::esASCII);
  param.SetParamName(argument.name);
  param.SetDirection(direction);
  param.SetEncoded(true);
  param.SetDataValue(argument.value, argument.kind->paramType);
  return param.ToJSON();
}

std::string StringParamText(std::string_view name, std::string_view text, TObjectDirection direction) {
  TJSONParam param(TEncodeSelect::esASCII);
  param.SetParamName(name);
  param.SetDirection(direction);
  param.SetEncoded(true);
  param.SetAsString(text);
  return param.ToJSON();
}

}  // namespace quelvar::client
