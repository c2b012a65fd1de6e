// The relationships of a database, kept on every write of a connection, as Jet keeps them:
//
//   - a new row whose reference (all its columns present) names no row of the primary table is
//     refused with 3201, naming the primary table; a reference with a Null column names nothing
//     and is stored;
//   - deleting rows takes the rows that refer to them along where the relationship cascades
//     deletes (and further along their own relationships), sets their references to Null where
//     it cascades to Null, and is refused with 3200, naming the related table, where it only
//     enforces integrity.
//
// Everything a statement does is worked out before the first byte changes, so that a refused
// statement leaves the database exactly as it was. Rows are found through the tables' equality
// look-ups over the relationship's columns (the in-memory counterpart of its indexes), never by
// reading a table once per row.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/sql/table_data.h"
#include "jet/database/relationships.h"

namespace db {

class ReferentialIntegrity {
 public:
  explicit ReferentialIntegrity(std::vector<jet::Relationship> relationships);

  const std::vector<jet::Relationship>& relationships() const { return relationships_; }

  // Throws DbError 3201 when `row`, about to be stored in `table`, refers to a row that the
  // primary table of an enforced relationship does not hold.
  void CheckInsert(sql::TableProvider& tables, sql::TableData& table, const sql::Row& row);

  // What deleting rows of a table does to one table.
  struct TableChange {
    sql::TableData* table = nullptr;
    std::vector<std::uint32_t> deleted;  // row positions, ascending
    // Rows that stay with some columns set to Null: position -> column positions.
    std::map<std::uint32_t, std::vector<int>> nulled;
  };
  // Works out what deleting `rows` (positions in `table`) takes with it, the statement's own
  // table first. Throws DbError 3200 when a row of a relationship that neither cascades nor
  // sets Null still refers to a deleted row.
  std::vector<TableChange> PlanDelete(sql::TableProvider& tables, sql::TableData& table,
                                      const std::vector<std::uint32_t>& rows);

  // Forgets what look-ups it remembered (after a delete or a rollback).
  void Forget();

 private:
  static constexpr std::size_t kFoundSlots = 4096;
  static constexpr std::int64_t kNoNumber = INT64_MIN;

  // One relationship with its tables and column positions, found on first use.
  struct Bound {
    const jet::Relationship* rel = nullptr;
    sql::TableData* primary = nullptr;
    sql::TableData* related = nullptr;
    std::vector<int> primary_columns;
    std::vector<int> related_columns;
    // The key last found in the primary table; rows of one parent come one after another.
    std::vector<std::string> last_found;
    // Whole-number keys of one column found in the primary table, each in the slot its low bits
    // name: rows that refer to a few parents in turn (an add-on for every product) are checked
    // without a look-up.
    std::array<std::int64_t, kFoundSlots> found_numbers;
  };
  Bound& Bind(sql::TableProvider& tables, std::size_t index);
  // Indexes of the enforced relationships whose related (primary) table is `table`.
  const std::vector<std::size_t>& AsRelated(const sql::TableData& table);
  const std::vector<std::size_t>& AsPrimary(const sql::TableData& table);
  // Rows of the related table that refer to `row` of the primary table.
  std::vector<std::uint32_t> Referring(Bound& b, const sql::Row& row);

  std::vector<jet::Relationship> relationships_;
  std::vector<Bound> bound_;
  std::vector<bool> is_bound_;
  // By the table's definition page.
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> as_related_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> as_primary_;
};

}  // namespace db
