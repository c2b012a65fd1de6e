// A user side without a display: records every message and progress call, optionally prints
// them, and answers every message box at once. Used by the headless driver and the tests.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "run/user_side.h"

namespace run {

struct ProgressCall {
  enum class Kind { kVisible, kRefresh, kMax, kValue };
  Kind kind;
  float value = 0;  // Visible: 1 or 0
  bool operator==(const ProgressCall&) const = default;
};

struct Message {
  std::string prompt;
  int style = 0;
  std::string title;
};

class RecordingUserSide : public UserSide, public ProgressDisplay {
 public:
  // `trace` receives a line per message (and per progress call when `trace_progress`).
  explicit RecordingUserSide(std::ostream* trace = nullptr, bool trace_progress = false)
      : trace_(trace), trace_progress_(trace_progress) {}

  void MsgBox(const std::string& prompt, int style, const std::string& title) override;
  ProgressDisplay& Progress() override { return *this; }
  void SetVisible(bool visible) override;
  void Refresh() override;
  void SetMax(float max) override;
  void SetValue(float value) override;

  const std::vector<Message>& messages() const { return messages_; }
  const std::vector<ProgressCall>& progress_calls() const { return calls_; }

 private:
  void Record(ProgressCall call, const char* name);

  std::ostream* trace_;
  bool trace_progress_;
  std::vector<Message> messages_;
  std::vector<ProgressCall> calls_;
};

}  // namespace run
