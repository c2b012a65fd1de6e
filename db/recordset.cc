#include "db/recordset.h"

#include <variant>

#include "db/column_values.h"
#include "db/error.h"
#include "db/sql/parser.h"
#include "jet/text/unicode.h"

namespace db {
namespace {

[[noreturn]] void Closed() {
  throw DbError(ErrorCode::kNotAllowedWhenClosed,
                "Der Vorgang ist bei geschlossenem Recordset nicht zulässig.");
}
[[noreturn]] void NoCurrentRecord() {
  throw DbError(ErrorCode::kNoCurrentRecord, "Kein aktueller Datensatz.");
}
[[noreturn]] void NotUpdatable(const std::string& why) {
  throw DbError(ErrorCode::kNotSupported,
                "Das Recordset unterstützt keine Aktualisierung: " + why + ".");
}

}  // namespace

db::Value cNull(const db::Value& value) {
  if (value.is_null()) return db::Value(std::string());
  return value;
}

db::Value Field::Value() const {
  const Recordset& rs = *owner_;
  if (!rs.open_) Closed();
  if (rs.adding_) return rs.new_row_[index_];
  if (rs.position_ >= rs.result_.size()) NoCurrentRecord();
  return rs.result_.value(rs.position_, index_);
}

void Field::Value(const db::Value& v) {
  Recordset& rs = *owner_;
  if (!rs.open_) Closed();
  if (!rs.adding_) NotUpdatable("nur ein mit AddNew begonnener Datensatz kann geschrieben werden");
  const jet::TableDef& t = rs.result_.table->def();
  const jet::Column& c = t.columns[index_];
  if (c.autonumber()) {
    throw DbError(ErrorCode::kReadOnlyField, "Das Feld '" + t.name + "." + c.name +
                                                 "' kann nicht aktualisiert werden (AutoWert).");
  }
  rs.new_row_[index_] = ConvertForColumn(t, c, v);
}

Field& FieldCollection::Item(std::string_view name) {
  for (Field& f : fields_) {
    if (f.Name() == name) return f;  // the usual case: spelled as stored
  }
  const std::string wanted = jet::FoldCase(name);
  if (folded_.size() != fields_.size()) {  // folded on the first look-up that needs them
    folded_.clear();
    for (const Field& f : fields_) folded_.push_back(jet::FoldCase(f.Name()));
  }
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (folded_[i] == wanted) return fields_[i];
  }
  throw DbError(ErrorCode::kItemNotFound,
                "Das Element '" + std::string(name) + "' wurde in der Auflistung nicht gefunden.");
}

Field& FieldCollection::Item(std::size_t index) {
  if (index >= fields_.size()) {
    throw DbError(ErrorCode::kItemNotFound, "Das Element Nummer " + std::to_string(index) +
                                                " wurde in der Auflistung nicht gefunden.");
  }
  return fields_[index];
}

Recordset::~Recordset() {
  if (open_ && connection_) connection_->Unregister(this);
}

void Recordset::Open(const std::string& source, std::shared_ptr<Connection> active_connection,
                     int cursor_type, int lock_type, int /*options*/) {
  if (open_) throw DbError(ErrorCode::kNotAllowedWhenOpen, "Das Recordset ist bereits geöffnet.");
  if (active_connection) connection_ = std::move(active_connection);
  if (!connection_ || !connection_->IsOpen()) {
    throw DbError(ErrorCode::kNoConnection,
                  "Die Verbindung ist geschlossen oder fehlt und kann für diesen Vorgang nicht "
                  "verwendet werden.");
  }
  if (cursor_type != adOpenUnspecified) cursor_type_ = cursor_type;
  if (lock_type != adLockUnspecified) lock_type_ = lock_type;

  const std::shared_ptr<const sql::Statement> statement = connection_->Statement(source);
  const auto* select = std::get_if<sql::SelectStatement>(statement.get());
  if (select == nullptr) {
    throw DbError(ErrorCode::kInvalidStatement,
                  "Ein Recordset kann nur eine SELECT-Abfrage öffnen.");
  }
  result_ = sql::ExecuteSelect(connection_->tables(), *select);
  star_of_table_ = select->group_by.empty() && select->items.size() == 1 &&
                   select->items[0].kind == sql::SelectItem::Kind::kStar;
  fields_.fields_.clear();
  fields_.folded_.clear();
  for (std::size_t i = 0; i < result_.names.size(); ++i) {
    fields_.fields_.push_back(Field(this, i, result_.names[i]));
  }
  position_ = 0;
  adding_ = false;
  open_ = true;
  connection_->Register(this);
}

bool Recordset::Eof() const {
  if (!open_) Closed();
  return !adding_ && position_ >= result_.size();
}

void Recordset::MoveNext() {
  if (!open_) Closed();
  if (adding_) Update();
  if (position_ >= result_.size()) NoCurrentRecord();
  ++position_;
}

FieldCollection& Recordset::Fields() {
  if (!open_) Closed();
  return fields_;
}

void Recordset::AddNew() {
  if (!open_) Closed();
  if (lock_type_ == adLockReadOnly) NotUpdatable("es ist schreibgeschützt geöffnet");
  if (!star_of_table_) NotUpdatable("nur 'SELECT *' einer Tabelle nimmt neue Zeilen auf");
  if (connection_->mode_read_only()) NotUpdatable("die Datenbank ist schreibgeschützt");
  if (adding_) Update();
  result_.table->NewRow(new_row_);
  adding_ = true;
}

void Recordset::Update() {
  if (!open_) Closed();
  if (!adding_) return;  // nothing pending
  // A row the connection refuses stays pending as it was.
  connection_->InsertRow(*result_.table, new_row_);
  adding_ = false;
}

void Recordset::Close() {
  if (!open_) Closed();
  if (connection_) connection_->Unregister(this);
  CloseQuietly();
}

void Recordset::CloseQuietly() {
  open_ = false;
  adding_ = false;
  result_ = sql::ResultSet();
  fields_.fields_.clear();
  position_ = 0;
}

}  // namespace db
