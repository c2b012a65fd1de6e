// CSV output of a table in the layout of mdb-export's defaults (see MDB_EXPORT_FORMAT.md).
#pragma once

#include <ostream>
#include <string>

#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/database/database.h"

namespace inspect {

// One value as mdb-export prints it (quoted where it quotes; Null and "" as an empty field).
std::string CsvField(const jet::Value& value);

// Header line and every row of the table.
jet::Status ExportCsv(const jet::Database& db, const std::string& table, std::ostream& out);

}  // namespace inspect
