// The user's side of a run in a terminal: messages as text (failures on standard error, the
// rest on standard output) and the progress display on standard error, as a
// bar redrawn in place when that is a terminal, as plain lines otherwise.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include "run/user_side.h"

namespace run {

class TerminalUserSide : public UserSide, public ProgressDisplay {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `terminal`: `err` is a terminal, so the bar is redrawn in place. `clock` is for the tests.
  TerminalUserSide(std::ostream& out, std::ostream& err, bool terminal, Clock clock = {});

  void MsgBox(const std::string& prompt, int style, const std::string& title) override;
  ProgressDisplay& Progress() override { return *this; }

  // The run's protocol: Visible and Refresh before the groups and the counted phases, Max at the
  // start of each counted phase (articles, add-on articles, products to assign), Value after
  // each item (the number of items done before it).
  void SetVisible(bool visible) override;
  void Refresh() override {}
  void SetMax(float max) override;
  void SetValue(float value) override;

  // Prints a line of its own on standard error (the bar, when drawn, is finished first).
  void Note(const std::string& line);

  // "0:07", "12:34", "1:02:03".
  static std::string Duration(double seconds);

 private:
  void FinishBar();
  void Draw(bool final);
  const char* PhaseName() const;

  std::ostream& out_;
  std::ostream& err_;
  bool terminal_;
  Clock clock_;
  bool announced_groups_ = false;
  int phase_ = 0;  // 1, 2, 3: the counted phases so far
  long long max_ = 0;
  long long done_ = 0;
  int last_step_ = -1;  // the last tenth printed (plain lines) or per mille drawn (bar)
  bool bar_open_ = false;
  std::chrono::steady_clock::time_point phase_start_;
  std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace run
