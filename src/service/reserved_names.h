#pragma once
// The request names the service keeps for itself, and the small readers of
// their values.

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quelvar::service {

enum class ReservedName {
  WelcomeMessage,   // "dwwelcomemessage": EncodeText of the client's greeting
  AccessTag,        // "dwaccesstag": EncodeText of the access tag
  DataCompression,  // "datacompression": reply compressed
  EncodeStrings,    // "dwencodestrings"
  UseCript,         // "dwusecript": string values enciphered
  AssyncExec,       // "dwassyncexec": reply before the event runs
  BinaryRequest,    // "binaryrequest": parameters travel as a binary block
  ConnectionDefs,   // "dwconnectiondefs": read, not used
  ServerEventName,  // "dwservereventname": the group name in a value-holder text
};

// The lower-case text of a reserved name.
std::string_view ReservedNameText(ReservedName name);

// The order in which request header names are tested.
std::span<const ReservedName> HeaderTestOrder();
// The order in which multipart part headers are tested.
std::span<const ReservedName> PartTestOrder();

// The first name of `order` that the lower-cased `text` contains.
std::optional<ReservedName> FirstReservedIn(std::string_view lowerText, std::span<const ReservedName> order);

// The flag rule for raw texts: trimmed and lower-cased, equal to "true".
bool IsTrueText(std::string_view text);

// The value of a value-holder text (the holder read as Encoded). A text that
// does not begin with "{" gives "". With `afterFirstDot`, a value holding a
// dot is cut after its first dot ("TDM.DWServerEventsT01_USUA" gives
// "DWServerEventsT01_USUA"). Raises the JSON reader's syntax error for a
// malformed "{" text.
std::string ValueHolderText(std::string_view text, bool afterFirstDot);

// The opening of every parameter text, by which a value is recognised as one.
inline constexpr std::string_view kParamJsonMarker = "{\"ObjectType\":\"toParam\", \"Direction\":\"";

}  // namespace quelvar::service
