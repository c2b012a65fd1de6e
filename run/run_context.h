// What the validation, the import run and its phases work on: the window-level database state,
// the source path the window shows, the user's side and the run's progress counter; and what the
// run learns on its way, for its record in the log.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "run/database_state.h"
#include "run/user_side.h"

namespace run {

// Rows of the six product tables after the phases (before the commit), and what of the source
// found no group. Read from the target's row counts, so they are what was (or would be) stored.
struct RunCounts {
  std::int64_t categories = 0;
  std::int64_t products = 0;
  std::int64_t product_prices = 0;
  std::int64_t extras = 0;
  std::int64_t extra_prices = 0;
  std::int64_t assignments = 0;
  std::int64_t articles_without_group = 0;  // source articles whose group is Null or empty
};

struct RunContext {
  DatabaseState& state;
  std::string txt_DBPfad;  // the text of the window's path box: the source file
  UserSide& user;
  std::int32_t counter = 0;  // the progress counter of the run

  // A trial run: everything as in an import, but the transaction is rolled back instead of
  // committed, and a summary of the counts takes the place of the completion message.
  bool dry_run = false;
  std::time_t started = std::time(nullptr);  // names the backup, dates the log record
  // Filled in as the run gets there.
  std::optional<RunCounts> counts{};
  std::string target_file{};  // the target database, symbolic links resolved
  std::string backup_file{};  // the copy of the old target the commit kept
  int error_number = 0;       // Jet's number of the failure that ended the run; 0 without one
  std::vector<std::string> notes{};  // what went wrong beside the run (old backups not removed)

  ProgressDisplay& progress() { return user.Progress(); }
  // Shows the counter as the progress value, then raises it by one (overflow: error 6).
  void AdvanceProgress();
  // Tells the user, once, that opening the target rolled back an interrupted commit
  // (state.rolled_back), before the run goes on.
  void TellRolledBack();
};

// What a trial run reports in place of the completion message: what an import would store.
std::string DryRunSummary(const RunCounts& counts);

}  // namespace run
