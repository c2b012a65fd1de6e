#include "app/progress_bar_display.h"

#include <QProgressBar>
#include <algorithm>
#include <cmath>
#include <limits>

namespace app {
namespace {

// A float of the run as a whole number within [0, limit]; NaN counts as 0.
int Whole(float v, int limit) {
  if (!(v > 0)) return 0;
  const double rounded = std::nearbyint(static_cast<double>(v));
  if (rounded >= static_cast<double>(limit)) return limit;
  return static_cast<int>(rounded);
}

}  // namespace

ProgressBarDisplay::ProgressBarDisplay(QProgressBar* bar) : bar_(bar) { Apply(); }

void ProgressBarDisplay::SetVisible(bool visible) { bar_->setVisible(visible); }

void ProgressBarDisplay::Refresh() { bar_->repaint(); }

void ProgressBarDisplay::SetMax(float max) {
  max_ = max;
  Apply();
  bar_->repaint();
}

void ProgressBarDisplay::SetValue(float value) {
  value_ = value;
  // QProgressBar::setValue repaints at once whenever the change is visible.
  Apply();
}

void ProgressBarDisplay::Apply() {
  // The range is at least 0..1: Qt shows 0..0 as a busy indicator.
  const int maximum = std::max(1, Whole(max_, std::numeric_limits<int>::max()));
  const int value = Whole(value_, maximum);
  if (bar_->minimum() != 0 || bar_->maximum() != maximum) {
    // Changing the range may reset a value outside it; the value is set right after.
    bar_->setRange(0, maximum);
  }
  bar_->setValue(value);
}

}  // namespace app
