#include "data/field_typing.h"

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "formats/text_codec.h"

namespace quelvar {

using enum TFieldType;

namespace {

// A type name taken apart: its first word, the words after it (the
// qualifier, single-spaced) and the numbers in parentheses.
struct ParsedTypeName {
  std::string word;
  std::string qualifier;
  int size = 0;  // 0: none given
  int scale = 0;
  bool hasScale = false;
};

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// A positive decimal number, clamped to INT_MAX; 0 for anything else.
int PositiveNumber(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return 0;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = std::min<std::int64_t>(value * 10 + (c - '0'), INT_MAX);
  }
  return static_cast<int>(value);
}

// Like PositiveNumber, but "0" reads as 0 and garbage as -1.
int NonNegativeNumber(std::string_view text) {
  text = Trim(text);
  if (text.empty()) return -1;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = std::min<std::int64_t>(value * 10 + (c - '0'), INT_MAX);
  }
  return static_cast<int>(value);
}

ParsedTypeName Parse(std::string_view typeName) {
  ParsedTypeName parsed;
  std::string text = UpperAscii(Trim(typeName));

  const auto open = text.find('(');
  if (open != std::string::npos) {
    const auto close = text.find(')', open);
    const std::string_view inside = std::string_view(text).substr(
        open + 1, (close == std::string::npos ? text.size() : close) - open - 1);
    const auto comma = inside.find(',');
    if (comma == std::string_view::npos) {
      parsed.size = PositiveNumber(inside);
    } else {
      parsed.size = PositiveNumber(inside.substr(0, comma));
      const int scale = NonNegativeNumber(inside.substr(comma + 1));
      if (scale >= 0) {
        parsed.scale = scale;
        parsed.hasScale = true;
      }
    }
    text.replace(open, (close == std::string::npos ? text.size() : close + 1) - open, " ");
  }

  std::vector<std::string> words;
  for (std::size_t i = 0; i < text.size();) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !IsBlank(text[i])) ++i;
    if (i > start) words.emplace_back(text, start, i - start);
  }
  if (words.size() > 1 && words[0] == "UNSIGNED") std::swap(words[0], words[1]);
  if (!words.empty()) parsed.word = words[0];
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (i > 1) parsed.qualifier += ' ';
    parsed.qualifier += words[i];
  }
  return parsed;
}

bool OneOf(std::string_view word, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), word) != names.end();
}

bool HasWord(std::string_view words, std::string_view word) {
  std::size_t i = 0;
  while (i <= words.size()) {
    const auto end = std::min(words.find(' ', i), words.size());
    if (words.substr(i, end - i) == word) return true;
    i = end + 1;
  }
  return false;
}

// The integer type of a decimal with scale 0, or ftUnknown when the precision
// is beyond the integer types.
TFieldType IntegerByPrecision(int precision, bool isUnsigned) {
  if (isUnsigned) {
    if (precision <= 3) return ftByte;
    if (precision <= 5) return ftWord;
    if (precision <= 10) return ftLongWord;
    if (precision <= 21) return ftLargeint;
    return ftUnknown;
  }
  if (precision <= 2) return ftShortint;
  if (precision <= 4) return ftSmallint;
  if (precision <= 9) return ftInteger;
  if (precision <= 20) return ftLargeint;
  return ftUnknown;
}

// Decimal types: precision default 10, scale default 0.
void TypeDecimal(FieldDef& def, const ParsedTypeName& t, bool isUnsigned) {
  const int precision = t.size > 0 ? t.size : 10;
  const int scale = t.hasScale ? t.scale : 0;
  if (scale == 0) {
    const TFieldType integer = IntegerByPrecision(precision, isUnsigned);
    if (integer != ftUnknown) {
      def.type = integer;
      return;
    }
  }
  def.type = precision <= 18 && scale <= 4 ? ftBCD : ftFMTBcd;
  def.precision = precision;
  def.scale = scale;
}

void TypeSized(FieldDef& def, TFieldType type, const ParsedTypeName& t, int defaultSize) {
  def.type = type;
  def.size = t.size > 0 ? t.size : defaultSize;
}

// A text or byte field wider than the largest string becomes its memo/blob type.
void WidenOversized(FieldDef& def) {
  if (def.size <= kMaxStringFieldSize) return;
  switch (def.type) {
    case ftString:
    case ftFixedChar: def.type = ftMemo; break;
    case ftWideString:
    case ftFixedWideChar: def.type = ftWideMemo; break;
    case ftBytes:
    case ftVarBytes: def.type = ftBlob; break;
    default: return;
  }
  def.size = 0;
}

void Classify(FieldDef& def, std::string_view columnName, const ParsedTypeName& t, bool autoIncrement) {
  const std::string& w = t.word;
  const std::string& q = t.qualifier;
  const bool isUnsigned = HasWord(q, "UNSIGNED");

  if (w == "INTEGER" && OneOf(UpperAscii(columnName), {"ROWID", "_ROWID_", "OID"})) {
    def.type = ftLargeint;
  } else if (OneOf(w, {"BIT", "BOOL", "BOOLEAN", "LOGICAL", "YESNO"})) {
    def.type = ftBoolean;
  } else if (OneOf(w, {"TINYINT", "SHORTINT", "INT8"})) {
    def.type = isUnsigned ? ftByte : ftShortint;
  } else if (OneOf(w, {"BYTE", "UINT8"})) {
    def.type = ftByte;
  } else if (OneOf(w, {"SMALLINT", "INT16"})) {
    def.type = isUnsigned ? ftWord : ftSmallint;
  } else if (OneOf(w, {"WORD", "UINT16", "YEAR"})) {
    def.type = ftWord;
  } else if (OneOf(w, {"MEDIUMINT", "INTEGER", "INT", "INT32"})) {
    if (autoIncrement) {
      def.type = ftAutoInc;
      def.autoIncrement = true;
    } else {
      def.type = isUnsigned ? ftLongWord : ftInteger;
    }
  } else if (OneOf(w, {"LONGWORD", "UINT32"})) {
    def.type = ftLongWord;
  } else if (OneOf(w, {"BIGINT", "INT64", "COUNTER", "AUTOINCREMENT", "IDENTITY", "LONGLONGWORD", "UINT64"})) {
    def.type = ftLargeint;
  } else if (OneOf(w, {"FLOAT", "REAL", "SINGLE"}) || (w == "DOUBLE" && (q.empty() || q == "PRECISION"))) {
    if (t.size < 17)
      def.type = w == "SINGLE" ? ftSingle : ftFloat;
    else
      TypeDecimal(def, t, isUnsigned);
  } else if (OneOf(w, {"DECIMAL", "DEC", "NUMERIC", "NUMBER"})) {
    TypeDecimal(def, t, isUnsigned);
  } else if (OneOf(w, {"MONEY", "SMALLMONEY", "CURRENCY", "FINANCIAL"})) {
    def.type = ftCurrency;
  } else if (OneOf(w, {"DATE", "SMALLDATE"})) {
    def.type = ftDate;
  } else if (OneOf(w, {"DATETIME", "SMALLDATETIME"})) {
    def.type = ftDateTime;
  } else if (w == "TIMESTAMP") {
    def.type = ftTimeStamp;
  } else if (w == "TIME") {
    def.type = ftTime;
  } else if (OneOf(w, {"CHAR", "CHARACTER"}) && q.empty()) {
    TypeSized(def, ftFixedChar, t, kMaxStringFieldSize);
  } else if (OneOf(w, {"VARCHAR", "VARCHAR2", "TYNITEXT"}) || (OneOf(w, {"CHAR", "CHARACTER"}) && q == "VARYING")) {
    TypeSized(def, ftString, t, kMaxStringFieldSize);
  } else if (w == "NCHAR" || (w == "NATIONAL" && OneOf(q, {"CHAR", "CHARACTER"}))) {
    TypeSized(def, ftFixedWideChar, t, 1);
  } else if (OneOf(w, {"NVARCHAR", "NVARCHAR2", "STRING"}) ||
             (w == "NATIONAL" &&
              OneOf(q, {"CHAR VARYING", "CHARACTER VARYING", "VARYING CHAR", "VARYING CHARACTER"}))) {
    TypeSized(def, ftWideString, t, kMaxStringFieldSize);
  } else if (OneOf(w, {"RAW", "TYNIBLOB", "VARBINARY"}) || (w == "BINARY" && q == "VARYING")) {
    TypeSized(def, ftVarBytes, t, kMaxStringFieldSize);
  } else if (w == "BINARY" && q.empty()) {
    TypeSized(def, ftBytes, t, kMaxStringFieldSize);
  } else if (OneOf(w, {"BLOB", "MEDIUMBLOB", "LONGBLOB", "TINYBLOB", "LONGVARBINARY", "GENERAL", "OLEOBJECT", "IMAGE",
                       "GRAPHIC", "PICTURE", "PHOTO"}) ||
             (w == "LONG" && OneOf(q, {"BINARY", "RAW"}))) {
    if (t.size > 0 && t.size < kMaxStringFieldSize)
      TypeSized(def, ftVarBytes, t, 0);
    else
      def.type = ftBlob;
  } else if (OneOf(w, {"MEDIUMTEXT", "LONGTEXT", "TINYTEXT", "CLOB", "MEMO", "NOTE", "LONGCHAR", "LONGVARCHAR"}) ||
             (w == "LONG" && (q.empty() || q == "TEXT"))) {
    if (t.size > 0 && t.size < kMaxStringFieldSize)
      TypeSized(def, ftString, t, 0);
    else
      def.type = ftMemo;
  } else if (OneOf(w, {"TEXT", "NTEXT", "WTEXT", "NCLOB", "NMEMO", "LONGWCHAR", "LONGWVARCHAR", "HTML"}) ||
             (w == "LONG" && OneOf(q, {"NTEXT", "WTEXT"})) || (w == "NATIONAL" && q == "TEXT")) {
    if (t.size > 0 && t.size <= kMaxStringFieldSize)
      TypeSized(def, ftWideString, t, 0);
    else
      def.type = ftWideMemo;
  } else if (OneOf(w, {"GUID", "UNIQUEIDENTIFIER"})) {
    def.type = ftGuid;
    def.size = 38;
  } else if (OneOf(w, {"XML", "XMLDATA", "XMLTYPE"})) {
    def.type = ftWideMemo;
  } else {
    // Any other name (INTERVAL included) and the empty name.
    TypeSized(def, ftWideString, t, kMaxStringFieldSize);
  }
  WidenOversized(def);
}

}  // namespace

FieldDef FieldDefFromTypeName(std::string_view columnName, std::string_view typeName, bool autoIncrement) {
  FieldDef def;
  def.name = std::string(columnName);
  Classify(def, columnName, Parse(typeName), autoIncrement);
  return def;
}

std::string TypeNameOfStorageClass(int storageClass) {
  switch (storageClass) {
    case SQLITE_INTEGER: return "INT64";
    case SQLITE_FLOAT: return "REAL";
    case SQLITE_TEXT: return "NVARCHAR(32767)";
    case SQLITE_BLOB: return "BLOB";
    default: return "";
  }
}

}  // namespace quelvar
