#include "data/query.h"

#include <climits>

#include "data/date_texts.h"
#include "data/engine_error.h"
#include "data/field_reads.h"
#include "data/field_typing.h"
#include "data/sql_params.h"
#include "formats/errors.h"
#include "formats/text_codec.h"
#include "formats/wire_values.h"

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

bool IsIntegerField(TFieldType type) {
  return type == ftSmallint || type == ftInteger || type == ftLargeint || type == ftWord || type == ftShortint ||
         type == ftByte || type == ftLongWord || type == ftAutoInc;
}

// Whether a number field can hold `text` (a text or blob value): it reads as
// a number of the field's kind.
bool NumberFieldHolds(TFieldType type, std::string_view text) {
  try {
    if (IsIntegerField(type)) static_cast<void>(ParseInt64(text));
    else static_cast<void>(ParseFloat(text));
    return true;
  } catch (const ConversionError&) {
    return false;
  }
}

// Stores column `column` of the current row as the field of type `type`
// holds it: values keep their storage class, except that date fields hold a
// date-time (or null for anything but a stored date text), boolean fields a
// boolean (or null), and number fields no text or blob that does not read as
// a number (left empty and counted in the store).
void StoreColumn(sqlite3_stmt* st, int column, TFieldType type, RowStore& rows) {
  const int storage = sqlite3_column_type(st, column);
  if (storage == SQLITE_NULL) {
    rows.AddNull();
    return;
  }
  auto text = [&] {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(st, column));
    const int size = sqlite3_column_bytes(st, column);
    return bytes ? std::string_view(bytes, static_cast<std::size_t>(size)) : std::string_view();
  };
  if (IsDateField(type)) {
    const auto date = storage == SQLITE_TEXT ? ParseStoredDateTime(text()) : std::nullopt;
    if (date) rows.AddDateTime(*date);
    else rows.AddNull();
    return;
  }
  if (type == ftBoolean) {
    switch (storage) {
      case SQLITE_INTEGER: rows.AddBoolean(sqlite3_column_int64(st, column) != 0); return;
      case SQLITE_FLOAT: rows.AddBoolean(sqlite3_column_double(st, column) != 0); return;
      case SQLITE_TEXT: {
        const std::string_view value = Trim(text());
        if (EqualsIgnoreCase(value, "true")) return rows.AddBoolean(true);
        if (EqualsIgnoreCase(value, "false")) return rows.AddBoolean(false);
        try {
          rows.AddBoolean(ParseFloat(value) != 0);
        } catch (const ConversionError&) {
          rows.AddNull();
        }
        return;
      }
      default: rows.AddNull(); return;
    }
  }
  const bool number = IsIntegerField(type) || IsFloatField(type);
  switch (storage) {
    case SQLITE_INTEGER: rows.AddInteger(sqlite3_column_int64(st, column)); return;
    case SQLITE_FLOAT: rows.AddFloat(sqlite3_column_double(st, column)); return;
    case SQLITE_TEXT:
      if (number && !NumberFieldHolds(type, text())) return rows.AddEmptied(column);
      rows.AddText(text());
      return;
    case SQLITE_BLOB: {
      const auto* blob = static_cast<const char*>(sqlite3_column_blob(st, column));
      const int size = sqlite3_column_bytes(st, column);
      const std::string_view bytes = blob ? std::string_view(blob, static_cast<std::size_t>(size)) : std::string_view();
      if (number && !NumberFieldHolds(type, bytes)) return rows.AddEmptied(column);
      rows.AddBytes(bytes);
      return;
    }
    default: rows.AddNull(); return;
  }
}

}  // namespace

void Query::Close() {
  active_ = false;
  fields_.clear();
  rows_ = std::make_shared<RowStore>();
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

  const Database::WriteScope writing(database_, st);  // a write outside a transaction queues as a writer
  const std::int64_t changesBefore = sqlite3_total_changes64(db);
  // The fields are typed once the first row is known (expression columns
  // take their type from its values), and every row is stored as it is
  // stepped, straight into one store.
  std::vector<FieldDef> fields;
  auto typeFields = [&](bool haveRow) {
    fields.reserve(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c)
      fields.push_back(ColumnField(db, st, c, haveRow ? sqlite3_column_type(st, c) : SQLITE_NULL));
  };
  auto rows = std::make_shared<RowStore>(columns);
  bool typed = false;
  for (;;) {
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) ThrowEngineError(db);
    if (!wantRows) continue;
    if (!typed) {
      typeFields(true);
      typed = true;
    }
    for (int c = 0; c < columns; ++c) StoreColumn(st, c, fields[static_cast<std::size_t>(c)].type, *rows);
    rows->EndRow();
  }
  if (sqlite3_total_changes64(db) != changesBefore) rowsAffected_ = sqlite3_changes64(db);
  if (!wantRows) return;
  if (!typed) typeFields(false);

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
    return QueryField(rows_->At(static_cast<std::size_t>(cursor_), static_cast<int>(i)).ToVariant(), fields_[i].type);
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
  table.OpenOn(rows_);
}

}  // namespace quelvar
