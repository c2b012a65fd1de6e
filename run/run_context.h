// What the validation, the import run and its phases work on: the window-level database state,
// the source path the window shows, the user's side and the run's progress counter.
#pragma once

#include <cstdint>
#include <string>

#include "db/database_state.h"
#include "run/user_side.h"

namespace run {

struct RunContext {
  db::DatabaseState& state;
  std::string txt_DBPfad;  // the text of the window's path box: the source file
  UserSide& user;
  std::int32_t counter = 0;  // the progress counter of the run

  ProgressDisplay& progress() { return user.Progress(); }
  // Shows the counter as the progress value, then raises it by one (overflow: error 6).
  void AdvanceProgress();
  // Tells the user, once, that opening the target rolled back an interrupted commit
  // (state.rolled_back), before the run goes on.
  void TellRolledBack();
};

}  // namespace run
