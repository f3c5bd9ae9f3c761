#include "service/reserved_names.h"

#include <array>

#include "formats/json_value.h"
#include "formats/text_codec.h"

namespace quelvar::service {

std::string_view ReservedNameText(ReservedName name) {
  switch (name) {
    case ReservedName::WelcomeMessage: return "dwwelcomemessage";
    case ReservedName::AccessTag: return "dwaccesstag";
    case ReservedName::DataCompression: return "datacompression";
    case ReservedName::EncodeStrings: return "dwencodestrings";
    case ReservedName::UseCript: return "dwusecript";
    case ReservedName::AssyncExec: return "dwassyncexec";
    case ReservedName::BinaryRequest: return "binaryrequest";
    case ReservedName::ConnectionDefs: return "dwconnectiondefs";
    case ReservedName::ServerEventName: return "dwservereventname";
  }
  return {};
}

std::span<const ReservedName> HeaderTestOrder() {
  static constexpr std::array kOrder = {
      ReservedName::WelcomeMessage, ReservedName::AccessTag,     ReservedName::DataCompression,
      ReservedName::EncodeStrings,  ReservedName::UseCript,      ReservedName::AssyncExec,
      ReservedName::BinaryRequest,  ReservedName::ConnectionDefs, ReservedName::ServerEventName,
  };
  return kOrder;
}

std::span<const ReservedName> PartTestOrder() {
  static constexpr std::array kOrder = {
      ReservedName::WelcomeMessage, ReservedName::AccessTag,     ReservedName::UseCript,
      ReservedName::DataCompression, ReservedName::EncodeStrings, ReservedName::AssyncExec,
      ReservedName::BinaryRequest,  ReservedName::ConnectionDefs, ReservedName::ServerEventName,
  };
  return kOrder;
}

std::optional<ReservedName> FirstReservedIn(std::string_view lowerText, std::span<const ReservedName> order) {
  for (ReservedName name : order) {
    if (lowerText.find(ReservedNameText(name)) != std::string_view::npos) return name;
  }
  return std::nullopt;
}

bool IsTrueText(std::string_view text) { return LowerAscii(Trim(text)) == "true"; }

std::string ValueHolderText(std::string_view text, bool afterFirstDot) {
  TJSONValue holder;
  holder.vEncoded = true;
  holder.LoadFromJSON(text);
  std::string value = holder.Value();
  if (afterFirstDot) {
    const std::size_t dot = value.find('.');
    if (dot != std::string::npos) value.erase(0, dot + 1);
  }
  return value;
}

}  // namespace quelvar::service
