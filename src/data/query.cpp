#include "data/query.h"

#include <climits>

#include "data/date_texts.h"
#include "data/engine_error.h"
#include "data/field_reads.h"
#include "data/field_typing.h"
#include "data/sql_params.h"
#include "formats/errors.h"
#include "formats/text_codec.h"

namespace quelvar {

using enum TFieldType;

void QueryParam::AsDate(TDateTime value) { value_ = Variant::Text(StoredDateText(value)); }

void QueryParam::AsDateTime(TDateTime value) { value_ = Variant::Text(StoredDateTimeText(value)); }

std::string QueryField::AsString() const { return FieldAsString(value_, type_); }
std::int64_t QueryField::AsInteger() const { return FieldAsInteger(value_); }
double QueryField::AsFloat() const { return FieldAsFloat(value_); }
bool QueryField::AsBoolean() const { return FieldAsBoolean(value_); }
TDateTime QueryField::AsDateTime() const { return FieldAsDateTime(value_); }

namespace {

bool IsBlankText(std::string_view text) { return Trim(text).empty(); }

// Prepares the single statement of `text`.
SqliteStatement PrepareSingle(sqlite3* db, const std::string& text) {
  if (IsBlankText(text)) throw Error("The statement text is empty");
  if (text.size() > static_cast<std::size_t>(INT_MAX)) throw Error("The statement text is too long");
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  const int rc = sqlite3_prepare_v2(db, text.data(), static_cast<int>(text.size()), &raw, &tail);
  SqliteStatement statement(raw);
  if (rc != SQLITE_OK) ThrowEngineError(db);
  if (!statement) throw Error("The statement text is empty");

  // Whatever follows must be blanks or comments: a second statement would
  // otherwise be dropped without a word.
  const std::size_t used = static_cast<std::size_t>(tail - text.data());
  if (used < text.size()) {
    sqlite3_stmt* next = nullptr;
    const int nextRc = sqlite3_prepare_v2(db, tail, static_cast<int>(text.size() - used), &next, nullptr);
    SqliteStatement extra(next);
    if (nextRc != SQLITE_OK || extra) throw Error("The statement text holds more than one statement");
  }
  return statement;
}

void BindValue(sqlite3* db, sqlite3_stmt* statement, int index, const Variant& value) {
  int rc = SQLITE_OK;
  switch (value.kind()) {
    case Variant::Kind::Integer: rc = sqlite3_bind_int64(statement, index, value.asInt64()); break;
    case Variant::Kind::Boolean: rc = sqlite3_bind_int64(statement, index, value.asBoolean() ? 1 : 0); break;
    case Variant::Kind::Float:
    case Variant::Kind::DateTime: rc = sqlite3_bind_double(statement, index, value.asDouble()); break;
    case Variant::Kind::Text:
      rc = sqlite3_bind_text64(statement, index, value.bytes().data(), value.bytes().size(), SQLITE_TRANSIENT,
                               SQLITE_UTF8);
      break;
    case Variant::Kind::Bytes:
      rc = sqlite3_bind_blob64(statement, index, value.bytes().data(), value.bytes().size(), SQLITE_TRANSIENT);
      break;
    case Variant::Kind::Unassigned:
    case Variant::Kind::Null: rc = sqlite3_bind_null(statement, index); break;
  }
  if (rc != SQLITE_OK) ThrowEngineError(db);
}

Variant ColumnValue(sqlite3_stmt* statement, int column) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER: return Variant::Integer(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT: return Variant::Float(sqlite3_column_double(statement, column));
    case SQLITE_TEXT: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
      const int size = sqlite3_column_bytes(statement, column);
      return Variant::Text(text ? std::string(text, static_cast<std::size_t>(size)) : std::string());
    }
    case SQLITE_BLOB: {
      const auto* blob = static_cast<const char*>(sqlite3_column_blob(statement, column));
      const int size = sqlite3_column_bytes(statement, column);
      return Variant::Bytes(blob ? std::string(blob, static_cast<std::size_t>(size)) : std::string());
    }
    default: return Variant::Null();
  }
}

// The field of result column `column`; `firstRowClass` is the storage class
// of its value in the first row (SQLITE_NULL when there are no rows).
FieldDef ColumnField(sqlite3* db, sqlite3_stmt* statement, int column, int firstRowClass) {
  const char* name = sqlite3_column_name(statement, column);
  const std::string fieldName = name ? name : "";
  const char* table = sqlite3_column_table_name(statement, column);
  if (!table) return FieldDefFromTypeName(fieldName, TypeNameOfStorageClass(firstRowClass), false);

  const char* declared = sqlite3_column_decltype(statement, column);
  const char* origin = sqlite3_column_origin_name(statement, column);
  int notNull = 0, primaryKey = 0, autoIncrement = 0;
  if (sqlite3_table_column_metadata(db, sqlite3_column_database_name(statement, column), table, origin, nullptr,
                                    nullptr, &notNull, &primaryKey, &autoIncrement) != SQLITE_OK) {
    notNull = primaryKey = autoIncrement = 0;
  }
  FieldDef def = FieldDefFromTypeName(origin ? origin : fieldName, declared ? declared : "", autoIncrement != 0);
  def.name = fieldName;
  def.required = notNull != 0;
  def.inKey = primaryKey != 0;
  return def;
}

// A fetched value as the field of type `type` holds it.
Variant FieldValue(TFieldType type, Variant value) {
  if (value.isNullOrUnassigned()) return value;
  if (IsDateField(type)) {
    if (value.kind() != Variant::Kind::Text) return Variant::Null();
    const auto date = ParseStoredDateTime(value.bytes());
    return date ? Variant::DateTime(*date) : Variant::Null();
  }
  if (type == ftBoolean) {
    switch (value.kind()) {
      case Variant::Kind::Integer: return Variant::Boolean(value.asInt64() != 0);
      case Variant::Kind::Float: return Variant::Boolean(value.asDouble() != 0);
      case Variant::Kind::Text: {
        const std::string_view text = Trim(value.bytes());
        if (EqualsIgnoreCase(text, "true")) return Variant::Boolean(true);
        if (EqualsIgnoreCase(text, "false")) return Variant::Boolean(false);
        try {
          return Variant::Boolean(ParseFloat(text) != 0);
        } catch (const ConversionError&) {
          return Variant::Null();
        }
      }
      default: return Variant::Null();
    }
  }
  return value;
}

}  // namespace

void Query::Close() {
  active_ = false;
  fields_.clear();
  rows_.clear();
  cursor_ = 0;
}

void Query::ClearSQL() {
  lines_.clear();
  params_.clear();
  paramsStale_ = false;
}

void Query::Add(std::string_view line) {
  lines_.emplace_back(line);
  paramsStale_ = true;
}

std::string Query::SQLText() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) text += '\n';
    text += lines_[i];
  }
  return text;
}

void Query::SyncParams() {
  if (!paramsStale_) return;
  std::vector<QueryParam> next;
  for (std::string& name : ScanParamNames(SQLText())) {
    QueryParam param(std::move(name));
    for (const QueryParam& old : params_)
      if (EqualsIgnoreCase(old.Name(), param.Name())) param = old;
    next.push_back(std::move(param));
  }
  params_ = std::move(next);
  paramsStale_ = false;
}

int Query::ParamCount() {
  SyncParams();
  return static_cast<int>(params_.size());
}

QueryParam& Query::Param(int index) {
  SyncParams();
  if (index < 0 || index >= static_cast<int>(params_.size()))
    throw Error("Parameter index " + std::to_string(index) + " out of range (" + std::to_string(params_.size()) +
                " parameters)");
  return params_[static_cast<std::size_t>(index)];
}

QueryParam& Query::ParamByName(std::string_view name) {
  SyncParams();
  if (!name.empty() && name.front() == ':') name.remove_prefix(1);
  for (QueryParam& param : params_)
    if (EqualsIgnoreCase(param.Name(), name)) return param;
  throw Error("Parameter '" + std::string(name) + "' not found");
}

void Query::Open() { Run(true); }

void Query::ExecSQL() { Run(false); }

void Query::Run(bool wantRows) {
  Close();
  rowsAffected_ = 0;
  SyncParams();
  const std::string text = SQLText();
  if (IsBlankText(text)) throw Error("The statement text is empty");  // before touching the file
  sqlite3* db = database_.Handle();
  SqliteStatement statement = PrepareSingle(db, text);
  sqlite3_stmt* st = statement.get();
  const int columns = sqlite3_column_count(st);
  if (wantRows && columns == 0) throw Error("The statement returns no result set");

  const int bindCount = sqlite3_bind_parameter_count(st);
  for (int i = 1; i <= bindCount; ++i) {
    const char* bindName = sqlite3_bind_parameter_name(st, i);
    if (!bindName || bindName[0] != ':') continue;  // other forms stay null
    for (const QueryParam& param : params_) {
      if (EqualsIgnoreCase(param.Name(), bindName + 1)) {
        BindValue(db, st, i, param.Value());
        break;
      }
    }
  }

  const std::int64_t changesBefore = sqlite3_total_changes64(db);
  std::vector<std::vector<Variant>> rows;
  std::vector<int> firstRowClass(static_cast<std::size_t>(columns), SQLITE_NULL);
  for (;;) {
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) ThrowEngineError(db);
    if (!wantRows) continue;
    if (rows.empty())
      for (int c = 0; c < columns; ++c) firstRowClass[static_cast<std::size_t>(c)] = sqlite3_column_type(st, c);
    std::vector<Variant> row;
    row.reserve(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) row.push_back(ColumnValue(st, c));
    rows.push_back(std::move(row));
  }
  if (sqlite3_total_changes64(db) != changesBefore) rowsAffected_ = sqlite3_changes64(db);
  if (!wantRows) return;

  std::vector<FieldDef> fields;
  fields.reserve(static_cast<std::size_t>(columns));
  for (int c = 0; c < columns; ++c)
    fields.push_back(ColumnField(db, st, c, firstRowClass[static_cast<std::size_t>(c)]));
  for (auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) row[c] = FieldValue(fields[c].type, std::move(row[c]));

  fields_ = std::move(fields);
  rows_ = std::move(rows);
  cursor_ = 0;
  active_ = true;
}

QueryField Query::FieldByName(std::string_view name) const {
  if (!active_) throw Error("The query is not open");
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (!EqualsIgnoreCase(fields_[i].name, name)) continue;
    if (Eof()) return QueryField(Variant::Null(), fields_[i].type);
    return QueryField(rows_[static_cast<std::size_t>(cursor_)][i], fields_[i].type);
  }
  throw Error("Field '" + std::string(name) + "' not found");
}

void Query::LoadInto(MemTable& table) const {
  if (!active_) throw Error("The query is not open");
  table.Close();
  table.ClearFieldDefs();
  for (FieldDef def : fields_) {
    def.inKey = false;
    def.autoIncrement = false;
    if (def.type == ftFloat || def.type == ftCurrency || def.type == ftSingle || def.type == ftExtended)
      def.precision = 0;  // the type's default
    table.AddFieldDef(std::move(def));
  }
  table.Open();
  for (const auto& row : rows_) {
    table.Append();
    for (std::size_t c = 0; c < row.size(); ++c) table.SetValue(static_cast<int>(c), row[c]);
    table.Post();
  }
  table.First();
}

}  // namespace quelvar
