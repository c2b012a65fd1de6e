// A reusable recordset: runs one query on a connection, walks its rows forwards and adds rows to
// the table a `SELECT *` reads.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/ado.h"
#include "db/connection.h"
#include "db/sql/executor.h"
#include "db/value.h"

namespace db {

class Recordset;

// One column of the current row.
class Field {
 public:
  const std::string& Name() const { return name_; }
  // The column's value in the current row (Null when it holds none). Throws 3021 without a row.
  db::Value Value() const;
  // Sets the column of the row being added (after AddNew), converted to the column's kind.
  // Throws 3251 without AddNew, 3164 for an AutoNumber column, 3421 when it does not convert.
  void Value(const db::Value& v);
  void Value(const Field& other) { Value(other.Value()); }

 private:
  friend class Recordset;
  Field(Recordset* owner, std::size_t index, std::string name)
      : owner_(owner), index_(index), name_(std::move(name)) {}
  Recordset* owner_;
  std::size_t index_;
  std::string name_;
};

class FieldCollection {
 public:
  // The field of that name (letter case ignored). Throws 3265 when the result has none.
  Field& Item(std::string_view name);
  // The field at that position of the result. Throws 3265 past the end.
  Field& Item(std::size_t index);
  std::size_t Count() const { return fields_.size(); }

 private:
  friend class Recordset;
  std::vector<Field> fields_;
  std::vector<std::string> folded_;  // the names without letter case
};

class Recordset final : private OpenRecordset {
 public:
  Recordset() = default;
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // Runs the query on `active_connection`, or on the connection of the last Open when it is
  // omitted (null); cursor and lock type likewise keep their last values when unspecified.
  void Open(const std::string& source, std::shared_ptr<Connection> active_connection = nullptr,
            int cursor_type = adOpenUnspecified, int lock_type = adLockUnspecified,
            int options = adCmdUnspecified);

  // True when there is no current row. (The platform calls this EOF, which C reserves.)
  bool Eof() const;
  void MoveNext();
  FieldCollection& Fields();
  // Starts a new row of the queried table, every column at its default (3251 unless the
  // recordset is an updatable SELECT * of one table).
  void AddNew();
  // Stores the new row; the recordset stays open for the next AddNew. Throws the checks' and the
  // engine's errors (3314 Required, 3315 zero length, 3163 too long, 3022 duplicate key, ...).
  void Update();
  // Closes the recordset; it keeps connection, cursor and lock type for the next Open.
  void Close();

  bool IsOpen() const { return open_; }
  int CursorType() const { return cursor_type_; }
  int LockType() const { return lock_type_; }
  const std::shared_ptr<Connection>& ActiveConnection() const { return connection_; }

 private:
  friend class Field;
  friend class Connection;
  void CloseQuietly() override;  // by the connection's Close
  void KeepOwnRows() override {
    result_.KeepOwnRows();
  }  // before the connection's tables let go of rows

  std::shared_ptr<Connection> connection_;
  int cursor_type_ = adOpenForwardOnly;
  int lock_type_ = adLockReadOnly;
  bool open_ = false;
  sql::ResultSet result_;
  bool star_of_table_ = false;  // a plain SELECT * of one table: rows can be added
  std::size_t position_ = 0;
  bool adding_ = false;
  sql::Row new_row_;
  FieldCollection fields_;
};

// The value function: Null becomes the empty text, every other value stays as it is.
db::Value cNull(const db::Value& value);

}  // namespace db
