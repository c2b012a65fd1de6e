// The way back: a backup the import kept is put back as the target database.
#pragma once

#include <string>

#include "run/run_context.h"

namespace import {

// Puts `backup` (empty: the newest backup beside the target) back in place of the target that
// run.state names, keeping the replaced file as a backup in turn. Always ends the program:
// status 0 after the message that names the files; kExitInvalidSource when the file is not one
// of our backups or not a target database, or there is none; kExitUnexpectedError for every
// other failure. The target then is as it was.
void RestoreRun(run::RunContext& run, const std::string& backup);

}  // namespace import
