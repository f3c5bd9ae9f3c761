#include "formats/json_value.h"

#include <utility>

#include "formats/base64.h"
#include "formats/escape.h"
#include "formats/json_text.h"
#include "formats/wire_values.h"

namespace quelvar {

using enum TObjectValue;

namespace {

// Types whose stored text is the value in double quotes.
bool StoredQuoted(TObjectValue v, bool encoded) {
  if (v == ovObject) return encoded;
  return v == ovString || v == ovMemo || v == ovFmtMemo || v == ovDataSet || v == ovWideMemo ||
         IsFloatType(v) || IsDateType(v);
}

// Types that keep an empty, non-null value when the empty text is stored.
bool KeepsEmptyValue(TObjectValue v) { return v == ovString || v == ovMemo || v == ovFmtMemo || v == ovWideMemo; }

// Types whose empty stored text is written as an empty value rather than null.
bool WritesEmptyValue(TObjectValue v) {
  return v == ovString || v == ovBlob || v == ovMemo || v == ovGraphic || v == ovFmtMemo || v == ovFixedChar ||
         v == ovWideString || v == ovOraBlob || v == ovOraClob || v == ovFixedWideChar || v == ovWideMemo ||
         v == ovStream;
}

// Types written with the quoted template.
bool WrittenQuoted(TObjectValue v) {
  return v == ovString || v == ovMemo || v == ovFmtMemo || v == ovFixedChar || v == ovWideString ||
         v == ovWideMemo || v == ovDate || v == ovTime || v == ovDateTime || v == ovTimeStamp;
}

bool StartsWith(std::string_view s, char c) { return !s.empty() && s.front() == c; }
bool EndsWith(std::string_view s, char c) { return !s.empty() && s.back() == c; }

bool Contains(std::string_view s, char c) { return s.find(c) != std::string_view::npos; }

}  // namespace

void EncodedText::Reserve(std::size_t textBytes) { stored_.reserve(textBytes / 3 * 4 + 8); }

void EncodedText::Write(std::string_view bytes) {
  if (bytes.empty()) return;
  if (stored_.empty()) stored_ += '"';
  base64_.Write(stored_, bytes);
}

void EncodedText::Finish() {
  if (stored_.empty()) return;
  base64_.Finish(stored_);
  stored_ += '"';
}

std::string EncodedText::Text() const {
  if (stored_.size() < 2) return "";
  return DecodeBytes(std::string_view(stored_).substr(1, stored_.size() - 2));
}

std::string EncodedText::TakeStored() { return std::exchange(stored_, std::string()); }

std::string RemoveCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

std::string ExtractValueText(std::string_view text) {
  constexpr std::string_view kValueTypeKey = "\"ValueType\":\"";
  std::string_view rest = text;
  if (auto pos = rest.find(kValueTypeKey); pos != std::string_view::npos) rest.remove_prefix(pos + kValueTypeKey.size());
  const auto colon = rest.find(':');
  if (colon == std::string_view::npos) return "";
  rest.remove_prefix(colon + 1);
  if (StartsWith(rest, '"')) rest.remove_prefix(1);
  if (rest == "}") return "";
  if (auto brace = rest.rfind('}'); brace != std::string_view::npos) rest = rest.substr(0, brace);
  if (EndsWith(rest, '"')) rest.remove_suffix(1);
  return std::string(rest);
}

std::string TJSONValue::StoredText() const { return aValue.empty() ? std::string() : FromStoredBytes(aValue, vEncoding); }

std::string TJSONValue::Value() const {
  if (aValue.empty()) return "";
  std::string text = FromStoredBytes(aValue, vEncoding);
  if (!text.empty()) {
    std::string_view v = text;
    if (StartsWith(v, '"')) v.remove_prefix(1);
    if (EndsWith(v, '"')) v.remove_suffix(1);
    text = std::string(Trim(v));
  }
  if (vEncoded && !text.empty() && !(vBinary && IsByteValueType(vObjectValue))) text = DecodeText(text);
  if (vObjectValue == ovString && StartsWith(text, '"')) {
    text.erase(0, 1);
    if (EndsWith(text, '"')) text.pop_back();
  }
  return text;
}

void TJSONValue::StoreValueText(std::string_view text) {
  aValue.clear();
  if (text.empty() || text == "null") {
    if (!vNullValue && !KeepsEmptyValue(vObjectValue)) vNullValue = true;
    return;
  }
  vNullValue = false;
  std::string stored;
  if (StoredQuoted(vObjectValue, vEncoded)) {
    stored.reserve(text.size() + 2);
    stored += '"';
    // A Base64 text may hold the letter D, so only plain float texts are converted.
    if (IsFloatType(vObjectValue) && !vEncoded) {
      stored += FloatFromWire(text);
    } else {
      stored += text;
    }
    stored += '"';
  } else {
    stored = text;
  }
  aValue = ToStoredBytes(stored, vEncoding);
}

std::string TJSONValue::ToJSON() const {
  std::string out;
  AppendJSON(out);
  return out;
}

void TJSONValue::AppendJSON(std::string& out) const {
  // The stored text, viewed in place when its bytes are 7-bit (the usual
  // case, and the one of large values, which are Base64).
  std::string converted;
  std::string_view s;
  if (!aValue.empty()) {
    unsigned char any = 0;
    for (char c : aValue) any |= static_cast<unsigned char>(c);
    if (any < 0x80) {
      s = aValue;
    } else {
      converted = FromStoredBytes(aValue, vEncoding);
      s = converted;
    }
  }
  if (s.empty()) s = (vNullValue || !WritesEmptyValue(vObjectValue)) ? "null" : "";

  // The value as it goes into the template.
  if (!Trim(s).empty() && StartsWith(s, '"') && EndsWith(s, '"')) s = s.size() >= 2 ? s.substr(1, s.size() - 2) : "";
  std::string escaped;
  if (!vEncoded && !Trim(s).empty() && !(Contains(s, '{') && Contains(s, '}')) &&
      !(Contains(s, '[') && Contains(s, ']')) && !IsBinaryType(vObjectValue)) {
    escaped = EscapeBasic(s);
    s = escaped;
  }
  if (vNullValue) s = "null";

  auto valueOrNull = [this](std::string_view v) {
    return vNullValue && (v.empty() || v == "\"\"") ? std::string_view("null") : v;
  };
  bool quoted;
  std::string_view before, value, after;
  std::string wire;
  if (vTypeObject == TTypeObject::toDataset && !vNullValue) {
    quoted = false;  // the record-set text stands unquoted inside the brackets
    before = "[";
    value = s;
    after = "]";
  } else if (vObjectValue == ovObject) {
    quoted = vEncoded;
    value = valueOrNull(s);
  } else if (vNullValue) {
    quoted = false;
    value = "null";
  } else if (WrittenQuoted(vObjectValue)) {
    quoted = true;
    value = valueOrNull(s);
  } else if (IsFloatType(vObjectValue)) {
    quoted = true;
    wire = FloatToWire(s);
    value = valueOrNull(wire);
  } else if (IsBinaryType(vObjectValue)) {
    quoted = false;
    before = "\"";
    value = s;
    after = "\"";
  } else {
    quoted = false;
    value = valueOrNull(s);
  }

  out += "{\"ObjectType\":\"";
  out += TypeObjectName(vTypeObject);
  out += "\", \"Direction\":\"";
  out += DirectionName(vObjectDirection);
  out += "\", \"Encoded\":\"";
  out += vEncoded ? "true" : "false";
  out += "\", \"ValueType\":\"";
  out += ValueTypeName(vObjectValue);
  out += "\", \"";
  out += vtagName;
  out += quoted ? "\":\"" : "\":";
  out += before;
  out += value;
  out += after;
  out += quoted ? "\"}" : "}";
}

void TJSONValue::LoadFromJSON(std::string_view text) {
  const std::string clean = RemoveCrLf(text);
  const json::Wrapper parsed = json::Wrapper::Of(clean);
  if (parsed.count() == 0) return;
  vNullValue = false;
  vTypeObject = TypeObjectFromName(parsed.member(0).value);
  vObjectDirection = DirectionFromName(parsed.member(1).value);
  vObjectValue = ValueTypeFromName(parsed.member(3).value);
  vtagName = LowerAscii(parsed.member(4).name);

  std::string value = ExtractValueText(clean);
  if (vTypeObject == TTypeObject::toDataset) {
    if (StartsWith(value, '[')) value.erase(0, 1);
    if (EndsWith(value, ']')) value.pop_back();
  }
  if (!vEncoded) {
    StoreValueText(value);
  } else if (IsBinaryType(vObjectValue)) {
    StoreRawBytes(DecodeBytes(value));
  } else {
    StoreValueText(EncodeText(DecodeText(value)));
  }
}

}  // namespace quelvar
