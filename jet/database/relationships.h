// Relationships between tables: the rows of MSysRelationships and the foreign-key index entries
// that tie each relationship to the indexes of its two tables.
//
// MSysRelationships holds one row per column pair of a relationship:
//   szRelationship      Text   the relationship's name
//   szReferencedObject  Text   the primary table (the one referred to)
//   szReferencedColumn  Text   its column of this pair
//   szObject            Text   the related table (the one whose rows refer)
//   szColumn            Text   its column of this pair
//   icolumn             Long   the pair's position, from 0
//   ccolumn             Long   the number of pairs
//   grbit               Long   the flags below, the same on every row of the relationship
//
// A relationship that enforces integrity also has a logical index of type "foreign key" on each
// table (table_def.h): on the related table over its columns, on the primary table over the
// primary key's columns, sharing the physical index of the same columns. Each names the other by
// table definition page and logical index number, and repeats the cascade flags.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/table/table_set.h"

namespace jet {

// Flag bits of MSysRelationships.grbit.
inline constexpr std::uint32_t kRelationOneToOne = 0x00000001;
inline constexpr std::uint32_t kRelationNoIntegrity = 0x00000002;
inline constexpr std::uint32_t kRelationCascadeUpdates = 0x00000100;
inline constexpr std::uint32_t kRelationCascadeDeletes = 0x00001000;
inline constexpr std::uint32_t kRelationCascadeNull = 0x00002000;
inline constexpr std::uint32_t kRelationLeftJoin = 0x01000000;
inline constexpr std::uint32_t kRelationRightJoin = 0x02000000;

// Values of a foreign-key index entry's related-table type: which side the entry's table is on.
inline constexpr std::uint8_t kForeignKeyOnPrimary = 0x01;
inline constexpr std::uint8_t kForeignKeyOnRelated = 0x02;

struct Relationship {
  std::string name;
  std::string primary_table;                 // the table referred to
  std::string related_table;                 // the table whose rows refer to it
  std::vector<std::string> primary_columns;  // pairwise with related_columns
  std::vector<std::string> related_columns;
  std::uint32_t flags = 0;
  // The foreign-key index entries that carry it; empty where a table has none.
  std::string primary_index;
  std::string related_index;

  bool enforced() const { return (flags & kRelationNoIntegrity) == 0; }
  bool cascade_updates() const { return enforced() && (flags & kRelationCascadeUpdates) != 0; }
  bool cascade_deletes() const { return enforced() && (flags & kRelationCascadeDeletes) != 0; }
  bool cascade_null() const { return enforced() && (flags & kRelationCascadeNull) != 0; }
};

// Every relationship of the database, in the order of their first rows in MSysRelationships;
// none for a database without that table. A relationship that names a table or column the
// database does not have, or whose column pairs are incomplete, is reported as damage.
Result<std::vector<Relationship>> ReadRelationships(const TableSet& db);

// Rows that break an enforced relationship (a reference, none of whose columns is Null, that no
// row of the primary table holds) and relationships without their foreign-key index entries, as
// German texts naming the relationship, table and row; appended to `problems`. Reads each
// table once.
Status CheckRelationships(const TableSet& db, const std::vector<Relationship>& relationships,
                          std::vector<std::string>& problems);

}  // namespace jet
