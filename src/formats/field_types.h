#pragma once
// Record-set field types; ordinals 0..51 equal those of TObjectValue.

#include <string_view>

namespace quelvar {

enum class TFieldType {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD,
  ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic,
  ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString,
  ftLargeint, ftADT, ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant,
  ftInterface, ftIDispatch, ftGuid, ftTimeStamp, ftFMTBcd, ftFixedWideChar, ftWideMemo,
  ftOraTimeStamp, ftOraInterval, ftLongWord, ftShortint, ftByte, ftExtended, ftConnection,
  ftParams, ftStream, ftTimeStampOffset, ftObject, ftSingle
};

// The name written in field definitions; ftExtended is written "ftFloat".
std::string_view FieldTypeName(TFieldType t);
// ASCII case-insensitive; unknown names give ftString.
TFieldType FieldTypeFromName(std::string_view name);

bool IsFloatField(TFieldType t);   // ftFloat, ftCurrency, ftBCD, ftFMTBcd, ftExtended, ftSingle
bool IsMemoField(TFieldType t);    // ftMemo, ftFmtMemo, ftWideMemo
bool IsDateField(TFieldType t);    // ftDate, ftTime, ftDateTime, ftTimeStamp
bool IsBlobField(TFieldType t);    // field types whose contents are raw bytes

}  // namespace quelvar
