// A check of a whole database: what a writer must keep true for Access and every other reader
// to trust the file.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/page_store.h"
#include "jet/page/page_allocator.h"
#include "jet/table/table_def.h"
#include "jet/table/table_set.h"

namespace jet {

struct IntegrityReport {
  // Damage, German, each naming table, page or index. Damage of a table stops a write to it (see
  // PrepareTableForWriting).
  std::vector<std::string> problems;
  // What Access itself leaves in sound files (a row count that is off, a system table's page
  // missing from its usage map, pages listed as free that a usage map still names), and anything
  // found in Access's own system tables, which the import never writes: a write repairs it in
  // what it changes, or keeps clear of it.
  std::vector<std::string> tolerated;
  std::vector<std::string> notes;  // what could not be checked, and why
  std::size_t tables = 0;
  std::size_t rows = 0;
  std::size_t index_entries = 0;
  bool ok() const { return problems.empty(); }
};

// For every table of the catalog (system tables included): its data pages are data pages of the
// table and no other table claims them, no page of the table is missing from its usage map, its
// pages with free space are its pages, every row decodes (long-value chains included), the row
// count in its definition is the number of live rows, the AutoNumber counter is not below any
// key, and every index holds exactly one entry per row (its key as the rows give it, in order, in
// a sound B-tree whose pages belong to the index). Pages the free map lists are used by nobody.
// What Access leaves as well is reported as tolerated, not as a problem: a row count that is off,
// a table's free-space map naming pages not of the table, a usage map naming a page given back
// (page type 0), a page of a system table missing from its usage map, an index page missing from
// the index's usage map, pages the free map lists although a usage map names them, and whatever
// else is found in a system table. With IntegrityScope::kEverything also: every relationship that
// enforces integrity has its foreign-key index entries, and every reference without a Null names an
// existing row of the primary table. kFileStructure leaves the relationships out: what it checks is
// what a writer could spread or store again as if it were sound, while a broken reference is the
// data's business (the record layer keeps relationships on every write it makes).
enum class IntegrityScope { kEverything, kFileStructure };
Result<IntegrityReport> CheckIntegrity(const TableSet& db,
                                       IntegrityScope scope = IntegrityScope::kEverything);

// The check before the first change to a table, and the repairs of what that change rewrites
// anyway. It costs what the table's pages cost to look at, without decoding a row: the rows a
// write reads are checked where they are read (a deleted row as it is deleted, the key columns of
// every row as the commit builds the indexes anew, and the record layer decodes every row of a
// table before it changes it).
//
// Refused with kCorrupt, nothing changed: a usage map that cannot be read; a page of the table's
// usage map that is a page of another kind or of another table; a page that this table and
// another table written in this session (listed in `written`) both claim, by data or index; a
// row offset table that points outside its page; an index whose tree cannot be walked, whose
// entries name a row the table does not have or name a row twice, or, unless it leaves out rows
// whose key columns are all Null, that has not one entry per row.
//
// Repaired as Access's compact repairs them, since the writes rewrite them anyway: the row count
// of the definition (set to the live rows), bits of the table's usage map and free-space map for
// pages that are no longer the table's (a page type of 0: given back). Pages of an index's usage
// map that were given back stay for the index writer, which drops them when it writes the index.
//
// On success the table's pages are added to `written`.
using WrittenPages = std::unordered_map<std::uint32_t, std::uint32_t>;  // page -> table page
Status PrepareTableForWriting(PageStore& store, PageAllocator& allocator, TableDef& table,
                              WrittenPages& written);

// Every page that some usage map of some table of the catalog names (the table's data and
// free-space maps, its indexes' maps, its long values' maps), bit n for page n: what the page
// allocator must not hand out even where the free map lists it.
Result<std::vector<bool>> PagesClaimedByUsageMaps(const TableSet& db);

}  // namespace jet
