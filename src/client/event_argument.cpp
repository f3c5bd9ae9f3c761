#include "client/event_argument.h"

#include "client/typed_value.h"
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

  TJSONParam param(TEncodeSelect::esASCII);
  param.SetParamName(name);
  param.SetDirection(TObjectDirection::odIN);
  param.SetEncoded(true);
  param.SetDataValue(ReadTypedValue(*kind, value), kind->paramType);
  return {std::string(name), param.ToJSON()};
}

std::string StringParamText(std::string_view name, std::string_view text) {
  TJSONParam param(TEncodeSelect::esASCII);
  param.SetParamName(name);
  param.SetDirection(TObjectDirection::odIN);
  param.SetEncoded(true);
  param.SetAsString(text);
  return param.ToJSON();
}

}  // namespace quelvar::client
