#include "formats/params.h"

#include "formats/base64.h"
#include "formats/errors.h"
#include "formats/json_text.h"
#include "formats/wire_values.h"

namespace quelvar {

using enum TObjectValue;

namespace {

// Value types whose typed store keeps nothing.
bool StoresNothing(TObjectValue v) {
  return v == ovBytes || v == ovVarBytes || v == ovBlob || v == ovGraphic || v == ovParadoxOle ||
         v == ovDBaseOle || v == ovTypedBinary || v == ovOraBlob || v == ovOraClob || v == ovByte || v == ovStream;
}

// Value types whose typed store leaves the previous value in place.
bool KeepsPreviousValue(TObjectValue v) {
  return v == ovCursor || v == ovADT || v == ovArray || v == ovReference || v == ovDataSet || v == ovInterface ||
         v == ovIDispatch || v == ovGuid || v == ovConnection || v == ovParams;
}

bool IsNullText(std::string_view text) { return EqualsIgnoreCase(text, "null"); }

}  // namespace

// ---------------------------------------------------------------- TJSONParam

TJSONParam::TJSONParam(TEncodeSelect encoding) : vEncoding(encoding) { SyncHolder(); }

void TJSONParam::SyncHolder() const {
  holder_.vtagName = vParamName;
  holder_.vEncoding = vEncoding;
  holder_.vJsonMode = vJsonMode;
  holder_.vTypeObject = vTypeObject;
  holder_.vObjectDirection = vObjectDirection;
  holder_.vObjectValue = vObjectValue;
  holder_.vEncoded = vEncoded;
  holder_.vBinary = vBinary;
}

void TJSONParam::SetParamName(std::string_view name) {
  vParamName = UpperAscii(name);
  holder_.vtagName = vParamName;
}

void TJSONParam::SetDirection(TObjectDirection d) {
  vObjectDirection = d;
  holder_.vObjectDirection = d;
}

void TJSONParam::SetEncoded(bool encoded) {
  vEncoded = encoded;
  holder_.vEncoded = encoded;
}

void TJSONParam::SetValueType(TObjectValue v) {
  vObjectValue = v;
  vBinary = IsBinaryType(v);
}

void TJSONParam::SetTypeObject(TTypeObject t) { vTypeObject = t; }

void TJSONParam::StoreValue(std::string_view text) {
  SyncHolder();
  holder_.StoreValueText(text);
  vNullValue = holder_.vNullValue;
}

void TJSONParam::SetValue(std::string_view text, bool encode) {
  vEncoded = encode;
  vBinary = IsBinaryType(vObjectValue);
  if (encode && !vBinary) {
    StoreValue(EncodeText(text));
  } else {
    StoreValue(text);
  }
}

void TJSONParam::SetDataValue(const Variant& value, TObjectValue type) {
  if (value.isNullOrUnassigned() || StoresNothing(type)) return;
  vObjectValue = type;
  if (KeepsPreviousValue(type)) return;

  std::string text;
  if (type == ovUnknown || type == ovVariant) {
    vEncoded = true;
    vObjectValue = ovString;
    text = value.asText();
  } else if (IsStringType(type)) {
    vObjectValue = ovString;
    text = value.asText();
  } else if (type == ovObject) {
    text = value.asText();
  } else if (type == ovBoolean) {
    vEncoded = false;
    text = value.asBoolean() ? "true" : "false";
  } else if (IsIntegerType(type)) {
    vEncoded = false;
    text = std::to_string(value.asInt64());
  } else if (IsFloatType(type)) {
    vEncoded = false;
    vObjectValue = ovFloat;
    text = FloatToWire(FormatFloat(value.asDouble()));
  } else if (IsDateType(type)) {
    vEncoded = false;
    vObjectValue = ovDateTime;
    text = std::to_string(DateTimeToWire(value.asDateTime()));
  }
  SetValue(text, vEncoded);
}

void TJSONParam::SetAsString(std::string_view value) {
  // What SetDataValue does with a text stored as a string, without copying
  // the text into a variant first.
  vObjectValue = ovString;
  SetValue(value, vEncoded);
}

void TJSONParam::SetAsString(EncodedText value) {
  if (value.Empty()) {
    SetAsString(std::string_view());
    return;
  }
  vObjectValue = ovString;
  std::string stored = value.TakeStored();
  if (!vEncoded || stored == "\"null\"") {  // the general way: "null" stores nothing
    SetValue(DecodeBytes(std::string_view(stored).substr(1, stored.size() - 2)), vEncoded);
    return;
  }
  // SetValue(text, true) would store EncodeText(text) in quotes, which `stored`
  // already is (Base64 is ASCII under every encoding).
  vBinary = IsBinaryType(vObjectValue);
  SyncHolder();
  holder_.StoreRawBytes(std::move(stored));
  holder_.vNullValue = false;
  vNullValue = false;
}

Variant TJSONParam::GetValue(TObjectValue type) const {
  SyncHolder();
  const std::string text = holder_.Value();
  if (type == ovUnknown || type == ovVariant || IsStringType(type)) return Variant::Text(text);
  if (type == ovBoolean) {
    if (text.empty() || IsNullText(text)) return Variant();
    return Variant::Boolean(text == "1" || LowerAscii(text) == "true");
  }
  if (IsIntegerType(type) || type == ovByte) {
    const std::string_view t = Trim(text);
    if (t.empty() || IsNullText(t)) return Variant();
    if (type == ovLargeint || type == ovLongWord) return Variant::Integer(ParseInt64(text));
    return Variant::Integer(ParseInt32(text));
  }
  if (IsFloatType(type)) {
    if (text.empty() || IsNullText(text)) return Variant::Null();
    return Variant::Float(ParseFloat(FloatFromWire(text)));
  }
  if (IsDateType(type)) {
    if (text.empty() || IsNullText(text)) return Variant::Null();
    return Variant::DateTime(DateTimeFromWire(ParseInt64(text)));
  }
  if (IsByteValueType(type) || type == ovParadoxOle || type == ovDBaseOle || type == ovTypedBinary) {
    if (holder_.aValue.empty()) return Variant::Null();
    return Variant::Bytes(vBinary ? DecodeBytes(text) : text);
  }
  return Variant();
}

Variant TJSONParam::GetVariantValue() const { return GetValue(vObjectValue); }

std::int32_t TJSONParam::GetAsInteger() const { return static_cast<std::int32_t>(GetValue(ovInteger).asInt64()); }
std::int64_t TJSONParam::GetAsLargeInt() const { return GetValue(ovLargeint).asInt64(); }
std::uint32_t TJSONParam::GetAsLongWord() const { return static_cast<std::uint32_t>(GetValue(ovLongWord).asInt64()); }
std::uint16_t TJSONParam::GetAsWord() const { return static_cast<std::uint16_t>(GetValue(ovWord).asInt64()); }
bool TJSONParam::GetAsBoolean() const { return GetValue(ovBoolean).asBoolean(); }
TDateTime TJSONParam::GetAsDate() const { return GetValue(ovDateTime).asDateTime(); }
double TJSONParam::GetAsFloat() const { return GetValue(ovFloat).asDouble(); }

void TJSONParam::Clear() {
  vNullValue = true;
  holder_.vNullValue = true;
  StoreValue("");
}

void TJSONParam::CopyFrom(const TJSONParam& other) {
  vTypeObject = other.vTypeObject;
  vObjectDirection = other.vObjectDirection;
  vEncoded = other.vEncoded;
  SetValueType(other.vObjectValue);
  SetParamName(other.vParamName);
  SetValue(other.GetAsString(), true);
}

void TJSONParam::CopyValueOf(const TJSONParam& other) {
  holder_.aValue = other.holder_.aValue;
  vNullValue = other.vNullValue;
  holder_.vNullValue = other.vNullValue;
}

std::string TJSONParam::ToJSON() const {
  std::string out;
  AppendJSON(out);
  return out;
}

void TJSONParam::AppendJSON(std::string& out) const {
  SyncHolder();
  holder_.vNullValue = vNullValue;
  holder_.AppendJSON(out);
}

void TJSONParam::FromJSON(std::string_view text) {
  const std::string clean = RemoveCrLf(text);
  const json::Wrapper parsed = json::Wrapper::Of(clean);
  if (parsed.count() == 0) return;
  vTypeObject = TypeObjectFromName(parsed.member(0).value);
  vObjectDirection = DirectionFromName(parsed.member(1).value);
  vEncoded = UpperAscii(parsed.member(2).value) == "TRUE";
  vObjectValue = ValueTypeFromName(parsed.member(3).value);
  vParamName = LowerAscii(parsed.member(4).name);
  vBinary = IsByteValueType(vObjectValue);
  StoreValue(ExtractValueText(clean));
}

// ----------------------------------------------------------------- TDWParams

int TDWParams::Add(std::unique_ptr<TJSONParam> param) {
  param->vEncoding = vEncoding;
  param->vJsonMode = vJsonMode;
  param->vCripto = vCripto;
  items_.push_back(std::move(param));
  return Count() - 1;
}

TJSONParam& TDWParams::AddNew() {
  const int index = Add(std::make_unique<TJSONParam>(vEncoding));
  return *items_[static_cast<std::size_t>(index)];
}

TJSONParam* TDWParams::GetRec(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<std::size_t>(index)].get();
}

void TDWParams::PutRec(int index, std::unique_ptr<TJSONParam> param) {
  if (index < 0 || index >= Count() || !param) return;
  items_[static_cast<std::size_t>(index)] = std::move(param);
}

TJSONParam* TDWParams::GetRecName(std::string_view name) const {
  for (const auto& p : items_)
    if (EqualsIgnoreCase(p->ParamName(), name)) return p.get();
  return nullptr;
}

void TDWParams::PutRecName(std::string_view name, std::unique_ptr<TJSONParam> param) {
  for (auto& p : items_) {
    if (EqualsIgnoreCase(p->ParamName(), name)) {
      if (param) p = std::move(param);
      return;
    }
  }
}

TJSONParam& TDWParams::Item(std::string_view name) const {
  TJSONParam* p = GetRecName(name);
  if (!p) throw Error("Invalid DWParam");
  return *p;
}

void TDWParams::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
}

void TDWParams::Delete(const TJSONParam* param) {
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (it->get() == param) {
      items_.erase(it);
      return;
    }
  }
}

int TDWParams::CountOutParams() const {
  int n = 0;
  for (const auto& p : items_)
    if (p->Direction() != TObjectDirection::odIN) ++n;
  return n;
}

void TDWParams::CopyFrom(const TDWParams& other) {
  items_.clear();
  for (const auto& src : other.items_) {
    auto copy = std::make_unique<TJSONParam>(src->vEncoding);
    copy->SetTypeObject(src->TypeObject());
    copy->SetDirection(src->Direction());
    copy->SetEncoded(src->Encoded());
    copy->SetValueType(src->ValueType());
    copy->SetParamName(src->ParamName());
    copy->vParamFileName = src->vParamFileName;
    copy->vParamContentType = src->vParamContentType;
    copy->vJsonMode = src->vJsonMode;
    copy->vCripto = src->vCripto;
    copy->CopyValueOf(*src);
    items_.push_back(std::move(copy));
  }
}

void TDWParams::SetCriptOptions(bool use, std::string_view key) {
  vCripto = CriptOptions{use, std::string(key)};
  for (auto& p : items_) p->vCripto = vCripto;
}

std::string TDWParams::ToJSON() const {
  std::string out;
  for (const auto& p : items_) {
    if (p->ValueType() == ovUnknown) continue;
    if (!out.empty()) out += ", ";
    out += p->ToJSON();
  }
  return out;
}

void TDWParams::FromJSON(std::string_view text) {
  const std::string wrapped = "{\"PARAMS\":[" + std::string(text) + "]}";
  const json::Wrapper list = json::Wrapper::Of(wrapped).arrayUnder("PARAMS");
  for (std::size_t i = 0; i < list.count(); ++i) {
    const json::Wrapper item = list.element(i);
    if (!item.isObject() || item.count() == 0) continue;
    auto param = std::make_unique<TJSONParam>(vEncoding);
    const json::Wrapper::Pair value = item.member(4);
    param->SetParamName(LowerAscii(value.name));
    param->SetDirection(DirectionFromName(item.member(1).value));
    param->SetValueType(ValueTypeFromName(item.member(3).value));
    const bool encoded = UpperAscii(item.member(2).value) == "TRUE";
    param->SetEncoded(encoded);
    if ((param->ValueType() == ovString || param->ValueType() == ovWideString) && encoded)
      param->SetValue(DecodeText(value.value), true);
    else
      param->SetValue(value.value, encoded);
    Add(std::move(param));
  }
}

}  // namespace quelvar
