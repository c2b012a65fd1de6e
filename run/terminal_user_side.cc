#include "run/terminal_user_side.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace run {
namespace {

constexpr int kBarWidth = 30;
// The bar is redrawn at most this often (and at every full percent).
constexpr std::chrono::milliseconds kRedrawInterval{200};

}  // namespace

TerminalUserSide::TerminalUserSide(std::ostream& out, std::ostream& err, bool terminal, Clock clock)
    : out_(out),
      err_(err),
      terminal_(terminal),
      clock_(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })) {}

void TerminalUserSide::MsgBox(const std::string& prompt, int style, const std::string& /*title*/) {
  FinishBar();
  // Failures to standard error: the critical messages, and the missing installation, which the
  // window tells with the information icon but which ends the program with an error status.
  const bool failure = (style & 0x70) == vbCritical || prompt == kMessageNotInstalled;
  std::ostream& to = failure ? err_ : out_;
  to << prompt << "\n";
  to.flush();
}

void TerminalUserSide::Note(const std::string& line) {
  FinishBar();
  err_ << line << "\n";
  err_.flush();
}

std::string TerminalUserSide::Duration(double seconds) {
  const long long s = std::max(0LL, std::llround(seconds));
  char text[32];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
  }
  return text;
}

const char* TerminalUserSide::PhaseName() const {
  switch (phase_) {
    case 1:
      return "Artikel";
    case 2:
      return "Zusatzartikel";
    default:
      return "Zuordnungen";
  }
}

void TerminalUserSide::SetVisible(bool visible) {
  if (!visible || announced_groups_) return;
  announced_groups_ = true;
  Note("Produktgruppen werden angelegt …");
}

void TerminalUserSide::SetMax(float max) {
  FinishBar();
  ++phase_;
  max_ = std::max(0LL, static_cast<long long>(max));
  done_ = 0;
  last_step_ = -1;
  phase_start_ = clock_();
  last_draw_ = phase_start_;
  if (!terminal_) {
    err_ << PhaseName() << ": 0 von " << max_ << "\n";
    err_.flush();
  } else {
    Draw(false);
  }
}

void TerminalUserSide::SetValue(float value) {
  if (phase_ == 0) return;
  // The value is the number of items done before the one just finished.
  done_ = std::clamp(static_cast<long long>(value) + 1, 0LL, std::max(max_, 0LL));
  const long long per_mille = max_ > 0 ? done_ * 1000 / max_ : 1000;
  if (!terminal_) {
    const int tenth = static_cast<int>(per_mille / 100);
    if (tenth == last_step_ || tenth == 0) return;
    last_step_ = tenth;
    err_ << PhaseName() << ": " << done_ << " von " << max_ << " (" << per_mille / 10 << " %)\n";
    err_.flush();
    return;
  }
  const auto now = clock_();
  const int percent = static_cast<int>(per_mille / 10);
  if (percent == last_step_ && now - last_draw_ < kRedrawInterval && done_ != max_) return;
  last_step_ = percent;
  last_draw_ = now;
  Draw(false);
}

void TerminalUserSide::Draw(bool final) {
  const long long per_mille = max_ > 0 ? done_ * 1000 / max_ : (final ? 1000 : 0);
  const int filled = static_cast<int>(per_mille * kBarWidth / 1000);
  std::string line = "\r[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "] ";
  char percent[24];
  std::snprintf(percent, sizeof percent, "%3lld %%", per_mille / 10);
  line += percent;
  line += "  " + std::string(PhaseName()) + " " + std::to_string(done_) + " von " +
          std::to_string(max_);
  const double elapsed = std::chrono::duration<double>(clock_() - phase_start_).count();
  if (done_ > 0 && done_ < max_) {
    line += ", noch " +
            Duration(elapsed / static_cast<double>(done_) * static_cast<double>(max_ - done_));
  }
  line += "\x1b[K";  // clears what a longer line before left
  err_ << line;
  err_.flush();
  bar_open_ = true;
}

void TerminalUserSide::FinishBar() {
  if (!bar_open_) return;
  err_ << "\n";
  err_.flush();
  bar_open_ = false;
}

}  // namespace run
