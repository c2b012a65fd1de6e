#include "run/recording_user_side.h"

namespace run {

void RecordingUserSide::MsgBox(const std::string& prompt, int style, const std::string& title) {
  messages_.push_back({prompt, style, title});
  if (trace_) *trace_ << "Meldung [" << title << ", Stil " << style << "]: " << prompt << "\n";
}

void RecordingUserSide::Record(ProgressCall call, const char* name) {
  calls_.push_back(call);
  if (trace_ && trace_progress_) *trace_ << "ProgressBar." << name << " " << call.value << "\n";
}

void RecordingUserSide::SetVisible(bool visible) {
  Record({ProgressCall::Kind::kVisible, visible ? 1.0f : 0.0f}, "Visible");
}
void RecordingUserSide::Refresh() { Record({ProgressCall::Kind::kRefresh, 0}, "Refresh"); }
void RecordingUserSide::SetMax(float max) { Record({ProgressCall::Kind::kMax, max}, "Max"); }
void RecordingUserSide::SetValue(float value) {
  Record({ProgressCall::Kind::kValue, value}, "Value");
}

}  // namespace run
