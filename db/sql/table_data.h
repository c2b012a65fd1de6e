// The rows of one table, decoded once per connection, with what statements look up in them kept
// beside: equality maps and maxima and minima of any column, each made on first use and kept in
// step with added and removed rows, so that statements do not decode or scan the table each time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/column_values.h"
#include "db/sql/row_store.h"
#include "db/value.h"
#include "jet/database/database.h"

namespace db::sql {

enum class Extreme { kMax, kMin };  // which end of a column's values: MAX() or MIN()

class TableData {
 public:
  // Reads every live row of the table in storage order. Throws DbError with the engine's error.
  TableData(const jet::Database& db, std::shared_ptr<const jet::TableDef> def);

  const jet::TableDef& def() const { return *def_; }
  const RowStore& rows() const {
    Load();
    return *rows_;
  }
  // The same rows, shared with whoever keeps them: later changes of the table leave the rows
  // handed out as they were (the table adds rows behind them, which results do not show, and
  // copies them before it changes or removes any).
  std::shared_ptr<const RowStore> SharedRows() const {
    Load();
    return rows_;
  }
  // Where each row is stored (as the engine's scan reports it).
  const std::vector<jet::RowPointer>& places() const {
    Load();
    return places_;
  }

  // Keeps the decoded rows in step with the engine's writes. A table that only receives rows
  // (many of them, none read back) lets go of its decoded rows; they are read again from the
  // engine when a statement next needs them.
  void Append(const Row& row, jet::RowPointer place);
  // Lets go of the decoded rows and look-up maps; they are read again when next needed.
  void Release();
  // Takes a new definition of the same table (after a rollback) and forgets everything decoded
  // or derived from the old one.
  void Reset(std::shared_ptr<const jet::TableDef> def);
  // Removes the rows at these positions (ascending).
  void Remove(const std::vector<std::uint32_t>& positions);

  // Position of the column (letter case ignored), or -1.
  int ColumnIndex(std::string_view name) const;

  // Rows whose column holds a value Jet holds equal to `key` (an EqualityKey), ascending. The
  // list stays valid across look-ups on other columns, until the table changes.
  const std::vector<std::uint32_t>& RowsWithKey(int column, const std::string& key);

  // The largest or smallest value of a column over all rows (Null when it has none; of values
  // that order as equal, the first in storage order), kept up to date as rows are added and
  // removed, so that MAX() and MIN() over the whole table cost no scan.
  const Value& ExtremeOf(int column, Extreme which);

  // Jet's checks of the table's columns (read once).
  const RowRules& rules();
  // A new row in `row`: every column at its default (constant defaults evaluated once, Date(),
  // Now(), Time() and GenGUID() at each call). Throws DbError 3388 for a default that cannot be
  // evaluated (see EvaluateDefault for the others).
  void NewRow(Row& row);

 private:
  // Reads the rows from the engine when they were let go of.
  void Load() const;
  // Forgets the maxima and minima that rows at these positions hold, before they are removed.
  void ForgetExtremesOf(const std::vector<std::uint32_t>& positions);

  // Rows added without a read in between, after which the decoded rows are let go of.
  static constexpr std::size_t kAppendsBeforeRelease = 4096;

  const jet::Database* db_;
  std::shared_ptr<const jet::TableDef> def_;
  mutable bool loaded_ = false;
  std::size_t appends_since_read_ = 0;

  mutable std::shared_ptr<RowStore> rows_ = std::make_shared<RowStore>();
  mutable std::vector<jet::RowPointer> places_;
  std::vector<std::string> folded_names_;
  std::map<std::pair<int, Extreme>, Value> extremes_;
  RowRules rules_;
  bool have_rules_ = false;
  std::vector<Value> defaults_;
  // The defaults evaluated anew for each row (Date(), GenGUID(), ...), null for the others.
  std::vector<std::shared_ptr<const jet::Expression>> varying_defaults_;
  bool have_defaults_ = false;
  std::unordered_map<int, std::unordered_map<std::string, std::vector<std::uint32_t>>> maps_;
};

// Where statements find their tables (a connection).
class TableProvider {
 public:
  virtual ~TableProvider() = default;
  // Throws DbError 3078 when the database has no such table.
  virtual TableData& Table(std::string_view name) = 0;
};

// The tables of one open database, each decoded on first use.
class DatabaseTables : public TableProvider {
 public:
  explicit DatabaseTables(const jet::Database& db) : db_(&db) {}
  TableData& Table(std::string_view name) override;
  // After a rollback: every table takes its definition as the database now has it and lets go
  // of its decoded rows, which are read again on demand. The tables themselves stay, since open
  // recordsets point at them.
  void Clear();
  // Lets go of every table's decoded rows (before a commit, whose index rebuild needs the
  // memory); the tables stay, and read their rows again on demand.
  void ReleaseRows();

 private:
  const jet::Database* db_;
  std::unordered_map<std::uint32_t, std::unique_ptr<TableData>> tables_;  // by definition page
  // Names as statements spelled them.
  std::map<std::string, TableData*, std::less<>> by_name_;
};

}  // namespace db::sql
