#pragma once
// Query: the service module's one statement object (`Query1`), reused for
// every statement a procedure runs. The pattern:
//
//   q.Close();  q.ClearSQL();
//   q.Add("Select T04_Material from T04_MATE ");
//   q.Add("where T04_NumMaterial = :p00 ");
//   q.Param(0).AsInteger(12);
//   q.Open();                         // or q.ExecSQL() for a statement without rows
//   q.LoadInto(memTable);             // or q.FieldByName("T04_Material").AsString()
//
// The text sent to the engine is the lines joined by "\n". Parameters ":p00",
// ":p01", ... are created from the text in order of first appearance (see
// ScanParamNames), bound by position or by name, and stored in these forms:
//   AsString   TEXT          AsInteger  INTEGER (64-bit)
//   AsBoolean  INTEGER 1/0   AsFloat    REAL
//   AsDate     TEXT "yyyy-mm-dd"
//   AsDateTime TEXT, the stored date-time form (date_texts.h)
//   Clear, or never set: NULL
// Clearing the text drops the parameters; adding lines keeps the values of
// parameters whose names remain.
//
// Open runs one row-returning statement and fetches every row into memory;
// the statement is finalised at once, so no read lock outlives Open. Each
// column becomes a field typed by field_typing.h from the declared type of a
// table column (with the engine's AUTOINCREMENT, NOT NULL and key marks) or,
// for any other column, from the storage class of its first-row value.
// Values keep their storage class (INTEGER Integer, REAL Float, TEXT Text,
// BLOB Bytes, NULL Null), except: in ftDate/ftTime/ftDateTime/ftTimeStamp
// fields a text in a stored date form becomes a DateTime and anything else
// null; in ftBoolean fields numbers and "true"/"false" become Booleans and
// anything else null.
//
// Failures raise: an empty statement text, a text holding more than one
// statement, Open of a statement that returns no columns (nothing is run),
// and every engine error as EngineError ("[SQLite] " + the engine's text).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/database.h"
#include "data/mem_table.h"
#include "data/row_store.h"
#include "formats/variant.h"

namespace quelvar {

// One named parameter of the statement text, with its value in stored form.
class QueryParam {
 public:
  explicit QueryParam(std::string name) : name_(std::move(name)) {}

  const std::string& Name() const { return name_; }  // without the colon

  void AsString(std::string_view value) { value_ = Variant::Text(std::string(value)); }
  void AsInteger(std::int64_t value) { value_ = Variant::Integer(value); }
  void AsBoolean(bool value) { value_ = Variant::Integer(value ? 1 : 0); }
  void AsFloat(double value) { value_ = Variant::Float(value); }
  void AsDate(TDateTime value);
  void AsDateTime(TDateTime value);
  void Clear() { value_ = Variant::Null(); }

  // Null, Integer, Float or Text: exactly what is bound.
  const Variant& Value() const { return value_; }

 private:
  std::string name_;
  Variant value_ = Variant::Null();
};

// A field of the query's current row, with the typed reads of field_reads.h.
// On a result without a current row every field reads as null.
class QueryField {
 public:
  QueryField(Variant value, TFieldType type) : value_(std::move(value)), type_(type) {}

  bool IsNull() const { return value_.isNullOrUnassigned(); }
  const Variant& Value() const { return value_; }
  std::string AsString() const;
  std::int64_t AsInteger() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;

 private:
  Variant value_;  // a copy: the field stays valid when the query moves on
  TFieldType type_;
};

class Query {
 public:
  explicit Query(Database& database) : database_(database) {}

  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  // Discards the result; the text and parameters stay.
  void Close();
  bool Active() const { return active_; }

  // Statement text.
  void ClearSQL();
  void Add(std::string_view line);
  std::string SQLText() const;

  // Parameters, created from the text. Raise Error for an index out of range
  // or a name the text does not have ("Parameter 'p09' not found").
  int ParamCount();
  QueryParam& Param(int index);
  QueryParam& ParamByName(std::string_view name);

  // Runs a row-returning statement and fetches all rows; cursor on the first.
  void Open();
  // Runs a statement without rows (rows it might return are discarded).
  void ExecSQL();
  // Rows inserted, updated or deleted by the last ExecSQL or Open; 0 for
  // other statements.
  std::int64_t RowsAffected() const { return rowsAffected_; }

  // Result.
  const std::vector<FieldDef>& Fields() const { return fields_; }
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  int RecordCount() const { return static_cast<int>(rows_->Rows()); }
  void First() { cursor_ = 0; }
  void Next() {
    if (cursor_ < RecordCount()) ++cursor_;
  }
  bool Eof() const { return cursor_ >= RecordCount(); }
  // A field of the current row by name (ASCII case-insensitive); an unknown
  // name raises Error("Field '<name>' not found"), a closed query
  // Error("The query is not open").
  QueryField FieldByName(std::string_view name) const;

  // Loads the result into `table`: close it, replace its field definitions
  // with the query's (name, type, size, precision, scale, required,
  // read-only; no key or auto-increment marks, float types with their default
  // precision), open it on every row in order (the rows are shared, not
  // copied), cursor on the first row. A value its field's type could not hold
  // is already empty, without an error; the table tells which fields lost
  // values (MemTable::EmptiedValues). The query stays open. Raises Error when
  // the query is not open.
  void LoadInto(MemTable& table) const;

 private:
  void SyncParams();
  void Run(bool wantRows);

  Database& database_;
  std::vector<std::string> lines_;
  std::vector<QueryParam> params_;
  bool paramsStale_ = false;

  bool active_ = false;
  std::vector<FieldDef> fields_;
  std::shared_ptr<RowStore> rows_ = std::make_shared<RowStore>();
  int cursor_ = 0;
  std::int64_t rowsAffected_ = 0;
};

}  // namespace quelvar
