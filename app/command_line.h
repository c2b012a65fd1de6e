// The program in a terminal: `produkte-import --source FILE` runs the import without a display,
// `--dry-run` tries it without changing anything, `--restore [BACKUP]` puts a backup back. The
// messages are the window's, printed as text; the exit statuses are the window's.
#pragma once

#include <QStringList>
#include <ostream>
#include <string>

namespace app {

// A command line that is not understood (an unknown option, a missing or extra argument).
inline constexpr int kExitUsage = 64;

struct CommandLine {
  bool help = false;
  bool version = false;
  std::string source;
  std::string target;  // empty: the settings name it
  bool dry_run = false;
  bool restore = false;
  std::string backup;  // with restore: the backup named, or empty for the newest
  std::string error;   // why the arguments are not understood; empty when they are
};

// Reads the arguments (the program's name first, as QCoreApplication::arguments() gives them).
CommandLine ParseCommandLine(const QStringList& arguments);

// Runs what the arguments ask for and returns the exit status. `terminal`: `err` is a terminal
// (the progress is then drawn as a bar in place).
int RunCommandLine(const QStringList& arguments, std::ostream& out, std::ostream& err,
                   bool terminal);

// The help text of --help.
std::string HelpText();

}  // namespace app
