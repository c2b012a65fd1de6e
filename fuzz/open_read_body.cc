#include "fuzz/open_read_body.h"

#include <ostream>
#include <set>
#include <streambuf>

#include "jet/database/database.h"
#include "jet/file/file_source.h"
#include "jet/table/catalog.h"
#include "jet/table/table_scan.h"
#include "jet/text/unicode.h"
#include "tools/csv_export.h"
#include "tools/schema_print.h"

namespace fuzz {
namespace {

// Accepts and forgets everything, so that all formatting still runs.
class DiscardBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

jet::Status ReadTable(const jet::Database& db, const jet::CatalogEntry& entry,
                      std::set<std::uint32_t>& done_pages, std::size_t& rows) {
  JET_ASSIGN_OR_RETURN(auto table, db.GetTable(entry.name));
  // Several entries may name the same definition; reading it again finds nothing new.
  if (!done_pages.insert(table->page).second) return jet::Status::Ok();
  jet::TableScan scan(db, *table);
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, scan.Next());
    if (!more) break;
    ++rows;
  }
  DiscardBuffer buffer;
  std::ostream out(&buffer);
  JET_RETURN_IF_ERROR(inspect::PrintSchema(db, entry.name, out));
  JET_RETURN_IF_ERROR(inspect::ExportCsv(db, entry.name, out));
  return jet::Status::Ok();
}

}  // namespace

ReadSummary OpenAndReadAll(std::span<const std::uint8_t> bytes, const std::string& password) {
  ReadSummary summary;
  jet::MemoryFile file(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), "fuzz.mdb");
  auto db = jet::Database::Open(file, {.password = password});
  if (!db.ok()) {
    summary.errors.push_back(db.status());
    return summary;
  }
  summary.opened = true;
  std::set<std::string> done_names;
  std::set<std::uint32_t> done_pages;
  for (const jet::CatalogEntry& entry : (*db)->catalog()) {
    if (!entry.is_table()) continue;
    // GetTable finds the first entry of a name: later ones with the same name add nothing.
    if (!done_names.insert(jet::FoldCase(entry.name)).second) continue;
    jet::Status status = ReadTable(**db, entry, done_pages, summary.rows);
    if (status.ok()) {
      ++summary.tables_read;
    } else {
      summary.errors.push_back(std::move(status));
    }
  }
  return summary;
}

}  // namespace fuzz
