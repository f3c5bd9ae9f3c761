#pragma once
// The parameter list of an event call (TDWParams) and one parameter
// (TJSONParam): typed accessors for the handlers and the parameter JSON text
// clients send and the server writes back.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/json_value.h"
#include "formats/param_types.h"
#include "formats/text_codec.h"
#include "formats/variant.h"

namespace quelvar {

// String-cipher switch carried by lists and parameters.
struct CriptOptions {
  bool use = false;
  std::string key;
};

class TJSONParam {
 public:
  explicit TJSONParam(TEncodeSelect encoding = TEncodeSelect::esUtf8);
  TJSONParam(const TJSONParam&) = delete;
  TJSONParam& operator=(const TJSONParam&) = delete;

  // Attribute setters (the name is stored upper-cased, ASCII only).
  void SetParamName(std::string_view name);
  void SetDirection(TObjectDirection d);
  void SetEncoded(bool encoded);
  void SetValueType(TObjectValue v);
  void SetTypeObject(TTypeObject t);

  const std::string& ParamName() const { return vParamName; }
  TObjectDirection Direction() const { return vObjectDirection; }
  bool Encoded() const { return vEncoded; }
  TObjectValue ValueType() const { return vObjectValue; }
  TTypeObject TypeObject() const { return vTypeObject; }
  bool Binary() const { return vBinary; }

  // Stores a value text, Base64-encoding it first when `encode` (not for binary types).
  void SetValue(std::string_view text, bool encode);
  // The typed store behind every typed setter.
  void SetDataValue(const Variant& value, TObjectValue type);
  void SetVariantValue(const Variant& value) { SetDataValue(value, vObjectValue); }

  void SetAsString(std::string_view v);
  // The same as SetAsString of value.Text(), but an encoded parameter takes
  // the Base64 form as it is, without decoding or copying it.
  void SetAsString(EncodedText value);
  void SetAsInteger(std::int32_t v) { SetDataValue(Variant::Integer(v), TObjectValue::ovInteger); }
  void SetAsLargeInt(std::int64_t v) { SetDataValue(Variant::Integer(v), TObjectValue::ovLargeint); }
  void SetAsSmallInt(std::int16_t v) { SetDataValue(Variant::Integer(v), TObjectValue::ovSmallint); }
  void SetAsWord(std::uint16_t v) { SetDataValue(Variant::Integer(v), TObjectValue::ovWord); }
  void SetAsLongWord(std::uint32_t v) { SetDataValue(Variant::Integer(v), TObjectValue::ovLongWord); }
  void SetAsShortInt(std::int8_t v) { SetDataValue(Variant::Integer(v), TObjectValue::ovShortint); }
  void SetAsBoolean(bool v) { SetDataValue(Variant::Boolean(v), TObjectValue::ovBoolean); }
  void SetAsDateTime(TDateTime v) { SetDataValue(Variant::DateTime(v), TObjectValue::ovDateTime); }
  void SetAsDate(TDateTime v) { SetDataValue(Variant::DateTime(v), TObjectValue::ovDate); }
  void SetAsTime(TDateTime v) { SetDataValue(Variant::DateTime(v), TObjectValue::ovTime); }
  void SetAsFloat(double v) { SetDataValue(Variant::Float(v), TObjectValue::ovFloat); }
  void SetAsCurrency(double v) { SetDataValue(Variant::Float(v), TObjectValue::ovCurrency); }
  void SetAsBCD(double v) { SetDataValue(Variant::Float(v), TObjectValue::ovBCD); }
  void SetAsFMTBCD(double v) { SetDataValue(Variant::Float(v), TObjectValue::ovFMTBcd); }
  void SetAsObject(std::string_view v) { SetDataValue(Variant::Text(std::string(v)), TObjectValue::ovObject); }

  // Typed read of the value text (see the conversion rules in params.cpp).
  Variant GetValue(TObjectValue type) const;
  Variant GetVariantValue() const;

  std::string GetAsString() const { return ValueText(); }
  std::int32_t GetAsInteger() const;
  std::int64_t GetAsLargeInt() const;
  std::uint32_t GetAsLongWord() const;
  std::uint16_t GetAsWord() const;
  bool GetAsBoolean() const;
  TDateTime GetAsDate() const;  // raises on a null value
  double GetAsFloat() const;    // raises on a null value
  double GetAsCurrency() const { return GetAsFloat(); }
  double GetAsBCD() const { return GetAsFloat(); }
  double GetAsFMTBCD() const { return GetAsFloat(); }

  bool IsNull() const { return vNullValue; }
  bool IsEmpty() const { return GetAsString().empty(); }
  void Clear();
  void CopyFrom(const TJSONParam& other);
  // Copies the stored value exactly (bytes and null state), attributes untouched.
  void CopyValueOf(const TJSONParam& other);

  std::string ToJSON() const;
  // Appends ToJSON() to `out`.
  void AppendJSON(std::string& out) const;
  // Bytes of the stored value, to size a text that will hold ToJSON().
  std::size_t StoredSize() const { return holder_.aValue.size(); }
  // Reads one parameter text by position; the name becomes the lower-cased
  // fifth key. Raises JsonSyntaxError on a malformed "{" text, changing nothing.
  void FromJSON(std::string_view text);

  // Upload metadata of a parameter that arrived as a file part.
  std::string vParamFileName;
  std::string vParamContentType;
  TJsonMode vJsonMode = TJsonMode::jmEnvelope;
  TEncodeSelect vEncoding;
  CriptOptions vCripto;

  const TJSONValue& Holder() const { return holder_; }

 private:
  std::string ValueText() const { return holder_.Value(); }
  void SyncHolder() const;
  void StoreValue(std::string_view text);

  std::string vParamName;
  TObjectDirection vObjectDirection = TObjectDirection::odINOUT;
  TObjectValue vObjectValue = TObjectValue::ovString;
  TTypeObject vTypeObject = TTypeObject::toParam;
  bool vEncoded = true;
  bool vNullValue = true;
  bool vBinary = false;
  mutable TJSONValue holder_;
};

class TDWParams {
 public:
  TDWParams() = default;
  TDWParams(const TDWParams&) = delete;
  TDWParams& operator=(const TDWParams&) = delete;
  TDWParams(TDWParams&&) = default;
  TDWParams& operator=(TDWParams&&) = default;

  // Appends, copying the list's encoding, mode and cipher options; returns the index.
  int Add(std::unique_ptr<TJSONParam> param);
  // Creates a parameter with the list's encoding, appends it and returns it.
  TJSONParam& AddNew();

  int Count() const { return static_cast<int>(items_.size()); }
  TJSONParam* GetRec(int index) const;
  void PutRec(int index, std::unique_ptr<TJSONParam> param);
  // First item whose upper-cased name equals the upper-cased argument, or nullptr.
  TJSONParam* GetRecName(std::string_view name) const;
  void PutRecName(std::string_view name, std::unique_ptr<TJSONParam> param);
  // As GetRecName, but a missing parameter raises Error("Invalid DWParam").
  TJSONParam& Item(std::string_view name) const;

  void Delete(int index);
  void Delete(const TJSONParam* param);
  void Clear() { items_.clear(); }

  int CountOutParams() const;
  bool ParamsReturn() const { return CountOutParams() > 0; }
  void CopyFrom(const TDWParams& other);
  void SetCriptOptions(bool use, std::string_view key);

  // List form: texts of the parameters whose type is not ovUnknown, joined by ", ".
  std::string ToJSON() const;
  // Appends one parameter per element of "{"PARAMS":[text]}".
  void FromJSON(std::string_view text);

  TJsonMode vJsonMode = TJsonMode::jmEnvelope;
  TEncodeSelect vEncoding = TEncodeSelect::esUtf8;
  CriptOptions vCripto;

 private:
  std::vector<std::unique_ptr<TJSONParam>> items_;
};

}  // namespace quelvar
