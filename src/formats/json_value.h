#pragma once
// TJSONValue in its role of value holder: the stored bytes of one value, the
// attributes that decide how they are read and written, and the one-value JSON
// text. (Record sets use the same holder; their writer and reader live apart.)

#include <string>
#include <string_view>

#include "formats/base64.h"
#include "formats/param_types.h"
#include "formats/text_codec.h"

namespace quelvar {

class TJSONValue {
 public:
  TJSONValue() = default;

  // Stored bytes (in ByteEncodingOf(vEncoding)) -> the value text: unquoted,
  // trimmed, Base64-decoded when Encoded (binary holders keep their Base64).
  std::string Value() const;
  // Stores a text: "" or "null" makes the holder null (string types keep an
  // empty, non-null value); anything else is stored quoted or bare by type.
  void StoreValueText(std::string_view text);
  // Stores raw bytes exactly (used for values decoded from Base64).
  void StoreRawBytes(std::string bytes) { aValue = std::move(bytes); }
  // Stored bytes converted back to text, nothing removed.
  std::string StoredText() const;

  // The one-value JSON text: five members, the fifth keyed by vtagName.
  std::string ToJSON() const;
  // Appends ToJSON() to `out`.
  void AppendJSON(std::string& out) const;
  // Reads a one-value JSON text by position (kind, direction, value type, tag);
  // the Encoded flag is left as it was. Raises JsonSyntaxError for a malformed
  // text that begins with "{".
  void LoadFromJSON(std::string_view text);

  bool IsNull() const { return vNullValue; }

  std::string aValue;  // stored bytes
  std::string vtagName = "TAGJSON";
  bool vNullValue = true;
  bool vBinary = true;
  bool vEncoded = false;
  bool vUtf8SpecialChars = true;
  TObjectValue vObjectValue = TObjectValue::ovString;
  TTypeObject vTypeObject = TTypeObject::toObject;
  TObjectDirection vObjectDirection = TObjectDirection::odINOUT;
  TEncodeSelect vEncoding = TEncodeSelect::esUtf8;
  TJsonMode vJsonMode = TJsonMode::jmEnvelope;
};

// A text held in the form an encoded string parameter stores it: the Base64 of
// its UTF-8 bytes (EncodeText) in double quotes. Built piece by piece where the
// text is made and moved whole into the parameter (TJSONParam::SetAsString),
// so that a large value is encoded once and never copied.
class EncodedText {
 public:
  EncodedText() = default;  // the empty text
  // Room for a text of about `textBytes` bytes.
  void Reserve(std::size_t textBytes);
  // The next bytes of the text; then Finish, once.
  void Write(std::string_view bytes);
  void Finish();

  bool Empty() const { return stored_.empty(); }
  // The text itself, byte for byte.
  std::string Text() const;
  // The stored form ("" for the empty text); leaves this text empty.
  std::string TakeStored();

 private:
  std::string stored_;
  Base64Writer base64_;
};

// The value of a parameter text cut out of the text itself: everything after
// the colon of the fifth member, minus one opening quote, up to the last "}"
// and one closing quote. Not unescaped, not decoded.
std::string ExtractValueText(std::string_view text);

// Removes every CR LF pair (a lone CR or LF stays).
std::string RemoveCrLf(std::string_view text);

}  // namespace quelvar
