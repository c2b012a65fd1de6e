// The source validation: before anything changes, the chosen file must be a source database the
// import can read.
#pragma once

#include "run/run_context.h"

namespace validate {

// Opens both databases, reads the first row of each source table through every required column
// (Null-tolerant ones through cNull, value-required ones directly to text) and closes both
// again. Returns only when all of it worked; otherwise it closes the connections, shows the
// "Ungültige Datenbank" message and ends the program.
void CheckExportDB(run::RunContext& run);

}  // namespace validate
