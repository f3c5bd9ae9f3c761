// Field typing of result columns: type name -> field type, size, precision, scale.
#include "data/field_typing.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

namespace quelvar {
namespace {

using enum TFieldType;

struct TypingCase {
  std::string column;
  std::string typeName;
  bool autoIncrement;
  TFieldType type;
  int size;
  int precision = 0;
  int scale = 0;
};

void ExpectTyping(const TypingCase& c) {
  const FieldDef def = FieldDefFromTypeName(c.column, c.typeName, c.autoIncrement);
  const std::string where = "column '" + c.column + "', type name '" + c.typeName + "'" +
                            (c.autoIncrement ? " (auto-increment)" : "");
  EXPECT_EQ(FieldTypeName(def.type), FieldTypeName(c.type)) << where;
  EXPECT_EQ(def.size, c.size) << where;
  EXPECT_EQ(def.precision, c.precision) << where;
  EXPECT_EQ(def.scale, c.scale) << where;
  EXPECT_EQ(def.name, c.column) << where;
}

TEST(FieldTyping, IntegerFamilies) {
  const TypingCase cases[] = {
      // INTEGER on the row-id names
      {"ROWID", "INTEGER", false, ftLargeint, 0},
      {"_rowid_", "integer", false, ftLargeint, 0},
      {"oid", "INTEGER", false, ftLargeint, 0},
      {"Rowid", "INT", false, ftInteger, 0},  // only the word INTEGER
      {"T04_NumMaterial", "INTEGER", false, ftInteger, 0},
      // booleans
      {"c", "BIT", false, ftBoolean, 0},
      {"c", "BOOL", false, ftBoolean, 0},
      {"c", "BOOLEAN", false, ftBoolean, 0},
      {"c", "boolean", false, ftBoolean, 0},
      {"c", "LOGICAL", false, ftBoolean, 0},
      {"c", "YESNO", false, ftBoolean, 0},
      // 8-bit
      {"c", "TINYINT", false, ftShortint, 0},
      {"c", "SHORTINT", false, ftShortint, 0},
      {"c", "INT8", false, ftShortint, 0},
      {"c", "TINYINT UNSIGNED", false, ftByte, 0},
      {"c", "UNSIGNED TINYINT", false, ftByte, 0},
      {"c", "BYTE", false, ftByte, 0},
      {"c", "UINT8", false, ftByte, 0},
      // 16-bit
      {"c", "SMALLINT", false, ftSmallint, 0},
      {"c", "INT16", false, ftSmallint, 0},
      {"c", "SMALLINT UNSIGNED", false, ftWord, 0},
      {"c", "unsigned smallint", false, ftWord, 0},
      {"c", "WORD", false, ftWord, 0},
      {"c", "UINT16", false, ftWord, 0},
      {"c", "YEAR", false, ftWord, 0},
      // 32-bit
      {"c", "MEDIUMINT", false, ftInteger, 0},
      {"c", "INTEGER", false, ftInteger, 0},
      {"c", "  integer  ", false, ftInteger, 0},
      {"c", "INT", false, ftInteger, 0},
      {"c", "INT32", false, ftInteger, 0},
      {"c", "INT(11)", false, ftInteger, 0},
      {"c", "UNSIGNED INTEGER", false, ftLongWord, 0},
      {"c", "INT UNSIGNED", false, ftLongWord, 0},
      {"c", "MEDIUMINT UNSIGNED", false, ftLongWord, 0},
      {"T06_NumGrupo", "INTEGER", true, ftAutoInc, 0},
      {"c", "INT", true, ftAutoInc, 0},
      {"c", "LONGWORD", false, ftLongWord, 0},
      {"c", "UINT32", false, ftLongWord, 0},
      // 64-bit
      {"c", "BIGINT", false, ftLargeint, 0},
      {"c", "INT64", false, ftLargeint, 0},
      {"c", "COUNTER", false, ftLargeint, 0},
      {"c", "AUTOINCREMENT", false, ftLargeint, 0},
      {"c", "IDENTITY", false, ftLargeint, 0},
      {"c", "LONGLONGWORD", false, ftLargeint, 0},
      {"c", "UINT64", false, ftLargeint, 0},
      {"c", "BIGINT", true, ftLargeint, 0},  // the mark counts only for the 32-bit names
  };
  for (const auto& c : cases) ExpectTyping(c);
}

TEST(FieldTyping, FloatsAndDecimals) {
  const TypingCase cases[] = {
      {"c", "FLOAT", false, ftFloat, 0},
      {"c", "REAL", false, ftFloat, 0},
      {"c", "DOUBLE", false, ftFloat, 0},
      {"c", "DOUBLE PRECISION", false, ftFloat, 0},
      {"c", "SINGLE", false, ftSingle, 0},
      {"c", "FLOAT(16)", false, ftFloat, 0},
      {"c", "SINGLE(16)", false, ftSingle, 0},
      // precision 17 and above: typed as a decimal
      {"c", "FLOAT(17)", false, ftLargeint, 0},
      {"c", "SINGLE(17)", false, ftLargeint, 0},
      {"c", "REAL(18,4)", false, ftBCD, 0, 18, 4},
      {"c", "FLOAT(20,2)", false, ftFMTBcd, 0, 20, 2},
      {"c", "DOUBLE PRECISION(25)", false, ftFMTBcd, 0, 25, 0},
      {"c", "DOUBLE FOO", false, ftWideString, 32767},  // DOUBLE takes no other qualifier
      // decimals: precision 10 and scale 0 by default
      {"c", "DECIMAL", false, ftLargeint, 0},
      {"c", "DEC(2)", false, ftShortint, 0},
      {"c", "NUMERIC(3)", false, ftSmallint, 0},
      {"c", "NUMBER(4)", false, ftSmallint, 0},
      {"c", "NUMERIC(5)", false, ftInteger, 0},
      {"c", "NUMERIC(9,0)", false, ftInteger, 0},
      {"c", "NUMERIC(10)", false, ftLargeint, 0},
      {"c", "NUMERIC(20)", false, ftLargeint, 0},
      {"c", "NUMERIC(21)", false, ftFMTBcd, 0, 21, 0},
      {"c", "DECIMAL(3) UNSIGNED", false, ftByte, 0},
      {"c", "UNSIGNED DECIMAL(4)", false, ftWord, 0},
      {"c", "DECIMAL(5) UNSIGNED", false, ftWord, 0},
      {"c", "DECIMAL(10) UNSIGNED", false, ftLongWord, 0},
      {"c", "DECIMAL(21) UNSIGNED", false, ftLargeint, 0},
      {"c", "DECIMAL(22) UNSIGNED", false, ftFMTBcd, 0, 22, 0},
      {"c", "DECIMAL(10,2)", false, ftBCD, 0, 10, 2},
      {"c", "numeric(12, 3)", false, ftBCD, 0, 12, 3},
      {"c", "DECIMAL (15,2)", false, ftBCD, 0, 15, 2},
      {"c", "DECIMAL(18,4)", false, ftBCD, 0, 18, 4},  // the largest BCD
      {"c", "DECIMAL(19,4)", false, ftFMTBcd, 0, 19, 4},
      {"c", "DECIMAL(18,5)", false, ftFMTBcd, 0, 18, 5},
      {"c", "DECIMAL(,2)", false, ftBCD, 0, 10, 2},
      // money
      {"c", "MONEY", false, ftCurrency, 0},
      {"c", "SMALLMONEY", false, ftCurrency, 0},
      {"c", "CURRENCY", false, ftCurrency, 0},
      {"c", "FINANCIAL", false, ftCurrency, 0},
  };
  for (const auto& c : cases) ExpectTyping(c);
}

TEST(FieldTyping, DatesAndTimes) {
  const TypingCase cases[] = {
      {"c", "DATE", false, ftDate, 0},
      {"c", "date", false, ftDate, 0},
      {"c", "SMALLDATE", false, ftDate, 0},
      {"c", "DATETIME", false, ftDateTime, 0},
      {"c", "SMALLDATETIME", false, ftDateTime, 0},
      {"c", "TIMESTAMP", false, ftTimeStamp, 0},
      {"c", "TIME", false, ftTime, 0},
  };
  for (const auto& c : cases) ExpectTyping(c);
}

TEST(FieldTyping, CharacterTypes) {
  const TypingCase cases[] = {
      {"c", "CHAR", false, ftFixedChar, 32767},
      {"c", "CHAR(10)", false, ftFixedChar, 10},
      {"c", "CHARACTER(5)", false, ftFixedChar, 5},
      {"c", "VARCHAR", false, ftString, 32767},
      {"c", "VARCHAR(50)", false, ftString, 50},
      {"c", "VARCHAR2(20)", false, ftString, 20},
      {"c", "TYNITEXT", false, ftString, 32767},
      {"c", "CHAR VARYING(30)", false, ftString, 30},
      {"c", "CHARACTER VARYING", false, ftString, 32767},
      {"c", "VARCHAR(0)", false, ftString, 32767},   // no usable size
      {"c", "VARCHAR(abc)", false, ftString, 32767},
      {"c", "NCHAR", false, ftFixedWideChar, 1},
      {"c", "NCHAR(8)", false, ftFixedWideChar, 8},
      {"c", "NATIONAL CHAR(3)", false, ftFixedWideChar, 3},
      {"c", "NATIONAL CHARACTER", false, ftFixedWideChar, 1},
      {"c", "NVARCHAR", false, ftWideString, 32767},
      {"c", "NVARCHAR(100)", false, ftWideString, 100},
      {"c", "NVARCHAR2(10)", false, ftWideString, 10},
      {"c", "STRING", false, ftWideString, 32767},
      {"c", "NATIONAL CHAR VARYING(40)", false, ftWideString, 40},
      {"c", "NATIONAL CHARACTER VARYING", false, ftWideString, 32767},
      {"c", "NATIONAL VARYING CHAR", false, ftWideString, 32767},
      {"c", "NATIONAL VARYING CHARACTER(12)", false, ftWideString, 12},
      // memos
      {"c", "MEDIUMTEXT", false, ftMemo, 0},
      {"c", "LONGTEXT", false, ftMemo, 0},
      {"c", "TINYTEXT", false, ftMemo, 0},
      {"c", "CLOB", false, ftMemo, 0},
      {"c", "MEMO", false, ftMemo, 0},
      {"c", "NOTE", false, ftMemo, 0},
      {"c", "LONGCHAR", false, ftMemo, 0},
      {"c", "LONGVARCHAR", false, ftMemo, 0},
      {"c", "LONG", false, ftMemo, 0},
      {"c", "LONG TEXT", false, ftMemo, 0},
      {"c", "MEMO(200)", false, ftString, 200},
      {"c", "CLOB(32766)", false, ftString, 32766},
      {"c", "CLOB(32767)", false, ftMemo, 0},
      {"c", "TEXT", false, ftWideMemo, 0},
      {"c", "text", false, ftWideMemo, 0},
      {"c", "NTEXT", false, ftWideMemo, 0},
      {"c", "WTEXT", false, ftWideMemo, 0},
      {"c", "NCLOB", false, ftWideMemo, 0},
      {"c", "NMEMO", false, ftWideMemo, 0},
      {"c", "LONGWCHAR", false, ftWideMemo, 0},
      {"c", "LONGWVARCHAR", false, ftWideMemo, 0},
      {"c", "HTML", false, ftWideMemo, 0},
      {"c", "LONG NTEXT", false, ftWideMemo, 0},
      {"c", "LONG WTEXT", false, ftWideMemo, 0},
      {"c", "NATIONAL TEXT", false, ftWideMemo, 0},
      {"c", "TEXT(100)", false, ftWideString, 100},
      {"c", "TEXT(32767)", false, ftWideString, 32767},
      {"c", "TEXT(32768)", false, ftWideMemo, 0},
  };
  for (const auto& c : cases) ExpectTyping(c);
}

TEST(FieldTyping, BinaryTypesAndGuids) {
  const TypingCase cases[] = {
      {"c", "RAW", false, ftVarBytes, 32767},
      {"c", "TYNIBLOB", false, ftVarBytes, 32767},
      {"c", "VARBINARY(16)", false, ftVarBytes, 16},
      {"c", "BINARY VARYING(8)", false, ftVarBytes, 8},
      {"c", "BINARY", false, ftBytes, 32767},
      {"c", "BINARY(16)", false, ftBytes, 16},
      {"c", "BLOB", false, ftBlob, 0},
      {"c", "MEDIUMBLOB", false, ftBlob, 0},
      {"c", "LONGBLOB", false, ftBlob, 0},
      {"c", "TINYBLOB", false, ftBlob, 0},
      {"c", "LONGVARBINARY", false, ftBlob, 0},
      {"c", "GENERAL", false, ftBlob, 0},
      {"c", "OLEOBJECT", false, ftBlob, 0},
      {"c", "IMAGE", false, ftBlob, 0},
      {"c", "GRAPHIC", false, ftBlob, 0},
      {"c", "PICTURE", false, ftBlob, 0},
      {"c", "PHOTO", false, ftBlob, 0},
      {"c", "LONG BINARY", false, ftBlob, 0},
      {"c", "LONG RAW", false, ftBlob, 0},
      {"c", "BLOB(100)", false, ftVarBytes, 100},
      {"c", "BLOB(32766)", false, ftVarBytes, 32766},
      {"c", "BLOB(32767)", false, ftBlob, 0},
      {"c", "GUID", false, ftGuid, 38},
      {"c", "UNIQUEIDENTIFIER", false, ftGuid, 38},
  };
  for (const auto& c : cases) ExpectTyping(c);
}

TEST(FieldTyping, OtherNamesAndOversizedTexts) {
  const TypingCase cases[] = {
      {"c", "", false, ftWideString, 32767},
      {"c", "   ", false, ftWideString, 32767},
      {"c", "FOO", false, ftWideString, 32767},
      {"c", "FOO(10)", false, ftWideString, 10},
      {"c", "INTERVAL", false, ftWideString, 32767},
      {"c", "XML", false, ftWideMemo, 0},
      {"c", "XMLTYPE", false, ftWideMemo, 0},
      {"c", "BINARY FOO", false, ftWideString, 32767},  // BINARY with another qualifier
      {"c", "CHAR FOO", false, ftWideString, 32767},
      // a text type beyond 32767 becomes its memo type
      {"c", "VARCHAR(32767)", false, ftString, 32767},
      {"c", "VARCHAR(40000)", false, ftMemo, 0},
      {"c", "CHAR(40000)", false, ftMemo, 0},
      {"c", "NVARCHAR(32768)", false, ftWideMemo, 0},
      {"c", "NCHAR(40000)", false, ftWideMemo, 0},
      {"c", "FOO(99999999999)", false, ftWideMemo, 0},
      {"c", "VARBINARY(40000)", false, ftBlob, 0},
      {"c", "BINARY(40000)", false, ftBlob, 0},
  };
  for (const auto& c : cases) ExpectTyping(c);
}

TEST(FieldTyping, StorageClassesOfExpressionColumns) {
  struct Case {
    int storageClass;
    std::string typeName;
    TFieldType type;
    int size;
  } cases[] = {
      {SQLITE_INTEGER, "INT64", ftLargeint, 0},
      {SQLITE_FLOAT, "REAL", ftFloat, 0},
      {SQLITE_TEXT, "NVARCHAR(32767)", ftWideString, 32767},
      {SQLITE_BLOB, "BLOB", ftBlob, 0},
      {SQLITE_NULL, "", ftWideString, 32767},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TypeNameOfStorageClass(c.storageClass), c.typeName);
    const FieldDef def = FieldDefFromTypeName("qUltimoNumero", TypeNameOfStorageClass(c.storageClass), false);
    EXPECT_EQ(FieldTypeName(def.type), FieldTypeName(c.type)) << c.typeName;
    EXPECT_EQ(def.size, c.size) << c.typeName;
  }
}

TEST(FieldTyping, AutoIncrementColumnsAreMarked) {
  EXPECT_TRUE(FieldDefFromTypeName("k", "INTEGER", true).autoIncrement);
  EXPECT_FALSE(FieldDefFromTypeName("k", "INTEGER", false).autoIncrement);
}

}  // namespace
}  // namespace quelvar
