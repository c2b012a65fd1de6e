// The window's progress bar as the import run drives it: Visible, Refresh, Max and Value.
#pragma once

#include "run/user_side.h"

class QProgressBar;

namespace app {

// Shows the run's maximum and value on a QProgressBar. The run never yields to the event loop,
// so every change that alters the picture is painted at once. A maximum of 0 (an empty table)
// shows an empty bar rather than Qt's busy indicator, and a value above the maximum (left over
// from the previous phase) shows a full bar.
class ProgressBarDisplay : public run::ProgressDisplay {
 public:
  explicit ProgressBarDisplay(QProgressBar* bar);

  void SetVisible(bool visible) override;
  void Refresh() override;
  void SetMax(float max) override;
  void SetValue(float value) override;

  float max() const { return max_; }
  float value() const { return value_; }

 private:
  void Apply();

  QProgressBar* bar_;
  // What the run has set, as it set it; the bar shows these within its integer range.
  float max_ = 100;
  float value_ = 0;
};

}  // namespace app
