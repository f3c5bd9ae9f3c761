#include "formats/param_types.h"

#include <array>

#include "formats/text_codec.h"

namespace quelvar {
namespace {

constexpr std::array<std::string_view, 3> kDirections = {"odIN", "odOUT", "odINOUT"};
constexpr std::array<std::string_view, 5> kKinds = {"toDataset", "toParam", "toMassive", "toVariable", "toObject"};
constexpr std::array<std::string_view, kObjectValueCount> kValueTypes = {
    "ovUnknown", "ovString", "ovSmallint", "ovInteger", "ovWord", "ovBoolean", "ovFloat", "ovCurrency",
    "ovBCD", "ovDate", "ovTime", "ovDateTime", "ovBytes", "ovVarBytes", "ovAutoInc", "ovBlob", "ovMemo",
    "ovGraphic", "ovFmtMemo", "ovParadoxOle", "ovDBaseOle", "ovTypedBinary", "ovCursor", "ovFixedChar",
    "ovWideString", "ovLargeint", "ovADT", "ovArray", "ovReference", "ovDataSet", "ovOraBlob", "ovOraClob",
    "ovVariant", "ovInterface", "ovIDispatch", "ovGuid", "ovTimeStamp", "ovFMTBcd", "ovFixedWideChar",
    "ovWideMemo", "ovOraTimeStamp", "ovOraInterval", "ovLongWord", "ovShortint", "ovByte", "ovExtended",
    "ovConnection", "ovParams", "ovStream", "ovTimeStampOffset", "ovObject", "ovSingle"};

template <typename Enum, std::size_t N>
bool FromOrdinal(int ordinal, Enum& out) {
  if (ordinal < 0 || ordinal >= static_cast<int>(N)) return false;
  out = static_cast<Enum>(ordinal);
  return true;
}

template <std::size_t N>
int IndexOfName(const std::array<std::string_view, N>& names, std::string_view name) {
  for (std::size_t i = 0; i < N; ++i)
    if (EqualsIgnoreCase(names[i], name)) return static_cast<int>(i);
  return -1;
}

}  // namespace

std::string_view DirectionName(TObjectDirection d) { return kDirections[static_cast<int>(d)]; }
std::string_view TypeObjectName(TTypeObject t) { return kKinds[static_cast<int>(t)]; }
std::string_view ValueTypeName(TObjectValue v) { return kValueTypes[static_cast<int>(v)]; }

TObjectDirection DirectionFromName(std::string_view name) {
  if (EqualsIgnoreCase(name, "odINOUT")) return TObjectDirection::odINOUT;
  if (EqualsIgnoreCase(name, "odIN")) return TObjectDirection::odIN;
  return TObjectDirection::odOUT;
}

TTypeObject TypeObjectFromName(std::string_view name) {
  const int i = IndexOfName(kKinds, name);
  return i < 0 ? TTypeObject::toObject : static_cast<TTypeObject>(i);
}

TObjectValue ValueTypeFromName(std::string_view name) {
  const int i = IndexOfName(kValueTypes, name);
  return i < 0 ? TObjectValue::ovSingle : static_cast<TObjectValue>(i);
}

bool DirectionFromOrdinal(int ordinal, TObjectDirection& out) { return FromOrdinal<TObjectDirection, 3>(ordinal, out); }
bool TypeObjectFromOrdinal(int ordinal, TTypeObject& out) { return FromOrdinal<TTypeObject, 5>(ordinal, out); }
bool JsonModeFromOrdinal(int ordinal, TJsonMode& out) { return FromOrdinal<TJsonMode, 3>(ordinal, out); }
bool ValueTypeFromOrdinal(int ordinal, TObjectValue& out) {
  return FromOrdinal<TObjectValue, kObjectValueCount>(ordinal, out);
}

using enum TObjectValue;

bool IsStringType(TObjectValue v) {
  return v == ovString || v == ovMemo || v == ovFmtMemo || v == ovFixedChar || v == ovWideString ||
         v == ovFixedWideChar || v == ovWideMemo;
}

bool IsIntegerType(TObjectValue v) {
  return v == ovSmallint || v == ovInteger || v == ovWord || v == ovAutoInc || v == ovLargeint ||
         v == ovOraInterval || v == ovLongWord || v == ovShortint || v == ovSingle;
}

bool IsFloatType(TObjectValue v) {
  return v == ovFloat || v == ovCurrency || v == ovBCD || v == ovFMTBcd || v == ovExtended;
}

bool IsDateType(TObjectValue v) {
  return v == ovDate || v == ovTime || v == ovDateTime || v == ovTimeStamp || v == ovOraTimeStamp ||
         v == ovTimeStampOffset;
}

bool IsBinaryType(TObjectValue v) {
  return v == ovBlob || v == ovGraphic || v == ovOraBlob || v == ovOraClob || v == ovStream;
}

bool IsByteValueType(TObjectValue v) { return IsBinaryType(v) || v == ovBytes || v == ovVarBytes; }

}  // namespace quelvar
