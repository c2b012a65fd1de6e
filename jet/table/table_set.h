// What the scans and checks read of an open database: its header, pages, catalog and table
// definitions. jet::Database is one; the readers below it (table_scan.h, relationships.h,
// integrity_check.h) depend on this and not on the database itself.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/header.h"
#include "jet/file/page_store.h"
#include "jet/table/catalog.h"
#include "jet/table/table_def.h"

namespace jet {

class TableSet {
 public:
  virtual ~TableSet() = default;

  virtual const Header& header() const = 0;
  virtual const PageStore& pages() const = 0;
  virtual const std::vector<CatalogEntry>& catalog() const = 0;
  // A table by name (letter case ignored), system tables included.
  virtual Result<std::shared_ptr<const TableDef>> GetTable(std::string_view name) const = 0;
};

}  // namespace jet
