// A check of a whole database: what a writer must keep true for Access and every other reader
// to trust the file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/status.h"

namespace jet {

struct IntegrityReport {
  std::vector<std::string> problems;  // German, each naming table, page or index
  std::vector<std::string> notes;     // what could not be checked, and why
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
// With IntegrityScope::kEverything also: every relationship that enforces integrity has its
// foreign-key index entries, and every reference without a Null names an existing row of the
// primary table. kFileStructure leaves the relationships out: what it checks is what a writer
// could spread or store again as if it were sound, while a broken reference is the data's
// business (the record layer keeps relationships on every write it makes).
enum class IntegrityScope { kEverything, kFileStructure };
Result<IntegrityReport> CheckIntegrity(const Database& db,
                                       IntegrityScope scope = IntegrityScope::kEverything);

}  // namespace jet
