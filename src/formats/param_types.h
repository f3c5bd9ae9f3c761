#pragma once
// The enumerations of the parameter model and their names as they travel in
// parameter texts and binary blocks.

#include <string>
#include <string_view>

namespace quelvar {

enum class TObjectDirection { odIN = 0, odOUT = 1, odINOUT = 2 };
enum class TTypeObject { toDataset = 0, toParam = 1, toMassive = 2, toVariable = 3, toObject = 4 };
enum class TJsonMode { jmEnvelope = 0, jmPureJSON = 1, jmUndefined = 2 };

// Value types; ordinals 0..51 equal those of the record-set field types.
enum class TObjectValue {
  ovUnknown, ovString, ovSmallint, ovInteger, ovWord, ovBoolean, ovFloat, ovCurrency, ovBCD,
  ovDate, ovTime, ovDateTime, ovBytes, ovVarBytes, ovAutoInc, ovBlob, ovMemo, ovGraphic,
  ovFmtMemo, ovParadoxOle, ovDBaseOle, ovTypedBinary, ovCursor, ovFixedChar, ovWideString,
  ovLargeint, ovADT, ovArray, ovReference, ovDataSet, ovOraBlob, ovOraClob, ovVariant,
  ovInterface, ovIDispatch, ovGuid, ovTimeStamp, ovFMTBcd, ovFixedWideChar, ovWideMemo,
  ovOraTimeStamp, ovOraInterval, ovLongWord, ovShortint, ovByte, ovExtended, ovConnection,
  ovParams, ovStream, ovTimeStampOffset, ovObject, ovSingle
};
inline constexpr int kObjectValueCount = 52;

std::string_view DirectionName(TObjectDirection d);
std::string_view TypeObjectName(TTypeObject t);
std::string_view ValueTypeName(TObjectValue v);

// Readers of the names in client texts, ASCII case-insensitive.
// "odINOUT" -> odINOUT, "odIN" -> odIN, anything else odOUT.
TObjectDirection DirectionFromName(std::string_view name);
// Unknown names give toObject.
TTypeObject TypeObjectFromName(std::string_view name);
// Unknown names give ovSingle.
TObjectValue ValueTypeFromName(std::string_view name);

// Checked conversions from ordinals read out of binary blocks; false when out of range.
bool DirectionFromOrdinal(int ordinal, TObjectDirection& out);
bool TypeObjectFromOrdinal(int ordinal, TTypeObject& out);
bool JsonModeFromOrdinal(int ordinal, TJsonMode& out);
bool ValueTypeFromOrdinal(int ordinal, TObjectValue& out);

// Value-type classes used throughout the parameter code.
bool IsStringType(TObjectValue v);     // ovString, ovMemo, ovFmtMemo, ovFixedChar, ovWideString, ovFixedWideChar, ovWideMemo
bool IsIntegerType(TObjectValue v);    // ovSmallint .. ovSingle integer family
bool IsFloatType(TObjectValue v);      // ovFloat, ovCurrency, ovBCD, ovFMTBcd, ovExtended
bool IsDateType(TObjectValue v);       // ovDate, ovTime, ovDateTime, ovTimeStamp, ovOraTimeStamp, ovTimeStampOffset
bool IsBinaryType(TObjectValue v);     // ovBlob, ovGraphic, ovOraBlob, ovOraClob, ovStream
bool IsByteValueType(TObjectValue v);  // the binary types plus ovBytes, ovVarBytes

}  // namespace quelvar
