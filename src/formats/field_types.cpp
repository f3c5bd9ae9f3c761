#include "formats/field_types.h"

#include <array>

#include "formats/text_codec.h"

namespace quelvar {
namespace {

constexpr std::array<std::string_view, 52> kNames = {
    "ftUnknown", "ftString", "ftSmallint", "ftInteger", "ftWord", "ftBoolean", "ftFloat", "ftCurrency",
    "ftBCD", "ftDate", "ftTime", "ftDateTime", "ftBytes", "ftVarBytes", "ftAutoInc", "ftBlob", "ftMemo",
    "ftGraphic", "ftFmtMemo", "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor", "ftFixedChar",
    "ftWideString", "ftLargeint", "ftADT", "ftArray", "ftReference", "ftDataSet", "ftOraBlob", "ftOraClob",
    "ftVariant", "ftInterface", "ftIDispatch", "ftGuid", "ftTimeStamp", "ftFMTBcd", "ftFixedWideChar",
    "ftWideMemo", "ftOraTimeStamp", "ftOraInterval", "ftLongWord", "ftShortint", "ftByte", "ftExtended",
    "ftConnection", "ftParams", "ftStream", "ftTimeStampOffset", "ftObject", "ftSingle"};

}  // namespace

using enum TFieldType;

std::string_view FieldTypeName(TFieldType t) {
  if (t == ftExtended) return "ftFloat";
  return kNames[static_cast<std::size_t>(t)];
}

TFieldType FieldTypeFromName(std::string_view name) {
  for (std::size_t i = 0; i < kNames.size(); ++i)
    if (EqualsIgnoreCase(kNames[i], name)) return static_cast<TFieldType>(i);
  return ftString;
}

bool IsFloatField(TFieldType t) {
  return t == ftFloat || t == ftCurrency || t == ftBCD || t == ftFMTBcd || t == ftExtended || t == ftSingle;
}

bool IsMemoField(TFieldType t) { return t == ftMemo || t == ftFmtMemo || t == ftWideMemo; }

bool IsDateField(TFieldType t) { return t == ftDate || t == ftTime || t == ftDateTime || t == ftTimeStamp; }

bool IsBlobField(TFieldType t) {
  return t == ftBytes || t == ftVarBytes || t == ftBlob || t == ftGraphic || t == ftOraBlob || t == ftOraClob ||
         t == ftParadoxOle || t == ftDBaseOle || t == ftTypedBinary || t == ftStream;
}

}  // namespace quelvar
