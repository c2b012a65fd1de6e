// The import run: what the import button does.
#pragma once

#include "run/run_context.h"

namespace import {

// Validates the source, then opens both databases, empties the six product tables and runs the
// four phases as one transaction of the target, closes the databases and reports completion.
// Always ends the program (run::ProgramEnd): with status 0 after the completion message; after the
// validation's message or an unexpected error's message with a non-zero status. An unexpected
// error leaves the target exactly as it was.
void cmdImport_Click(run::RunContext& run);

}  // namespace import
