// The log of runs: each import, trial run and restore appends one line to
// $XDG_STATE_HOME/produkte-import/log (~/.local/state/produkte-import/log when the variable is
// unset, empty or not an absolute path). A line is tab-separated, the time first, then
// name=value fields:
//
//   2026-12-10 14:05:33 +0100  import  ergebnis=abgeschlossen  status=0  fehler=0
//   quelle=/home/kasse/Kastrel.mdb  ziel=/srv/zentavo/DBZentavo.mdb
//   sicherung=/srv/zentavo/DBZentavo vor Import 2026-12-10 14-05.mdb  produktgruppen=13
//   artikel=247  artikelpreise=2470  zusatzartikel=24  zusatzartikelpreise=240  zuordnungen=5928
//   ohne_gruppe=0
//
// (one line in the file). Counts are left out where the run did not get to them, empty paths
// are written as nothing after '='. A tab, a line break or a backslash in a value is written as
// \t, \n, \\.
#pragma once

#include <optional>
#include <string>

#include "run/run_context.h"

namespace run {

enum class RunKind { kImport, kDryRun, kRestore };

// The log file's path.
std::string RunLogPath();

// The line for a run that ended with `status` (without its line break).
std::string RunLogLine(const RunContext& run, RunKind kind, int status);

// Appends the run's line in one write, making the folder when needed. Returns a German text
// when the log cannot be written; the run's outcome does not depend on it.
std::optional<std::string> AppendRunLog(const RunContext& run, RunKind kind, int status);

}  // namespace run
