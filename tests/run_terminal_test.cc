// The terminal's side of a run: where messages go, the progress as plain lines and as a bar with
// the time left, and the log line of a run.
#include <gtest/gtest.h>

#include <sstream>

#include "run/run_log.h"
#include "run/terminal_user_side.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(TerminalSide, FailuresGoToStandardErrorTheRestToStandardOutput) {
  struct Case {
    std::string prompt;
    int style;
    bool to_err;
  };
  const Case cases[] = {
      {run::kMessageCompleted, run::vbInformation, false},
      {"Probelauf: ...", run::vbInformation, false},
      {run::kMessageNotInstalled, run::vbInformation, true},
      {run::kMessageInvalidDatabase, run::vbCritical, true},
      {"Es ist ein unerwarteter Fehler aufgetreten", run::vbCritical, true},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    run::TerminalUserSide side(out, err, false);
    side.MsgBox(c.prompt, c.style, run::kTitleImport);
    EXPECT_EQ((c.to_err ? err : out).str(), c.prompt + "\n") << c.prompt;
    EXPECT_EQ((c.to_err ? out : err).str(), "") << c.prompt;
  }
}

// The run's protocol for one counted phase of `n` items: Max, then Value 0 .. n-1.
void Phase(run::ProgressDisplay& p, int n) {
  p.SetMax(static_cast<float>(n));
  p.SetVisible(true);
  p.Refresh();
  for (int i = 0; i < n; ++i) p.SetValue(static_cast<float>(i));
}

TEST(TerminalSide, PlainLinesAtEachTenthOfAPhase) {
  std::ostringstream out, err;
  run::TerminalUserSide side(out, err, false);
  side.SetVisible(true);
  side.Refresh();
  Phase(side, 20);
  Phase(side, 0);
  side.MsgBox(run::kMessageCompleted, run::vbInformation, run::kTitleImport);
  EXPECT_EQ(err.str(),
            "Produktgruppen werden angelegt …\n"
            "Artikel: 0 von 20\n"
            "Artikel: 2 von 20 (10 %)\nArtikel: 4 von 20 (20 %)\nArtikel: 6 von 20 (30 %)\n"
            "Artikel: 8 von 20 (40 %)\nArtikel: 10 von 20 (50 %)\nArtikel: 12 von 20 (60 %)\n"
            "Artikel: 14 von 20 (70 %)\nArtikel: 16 von 20 (80 %)\nArtikel: 18 von 20 (90 %)\n"
            "Artikel: 20 von 20 (100 %)\n"
            "Zusatzartikel: 0 von 0\n");
  EXPECT_EQ(out.str(), std::string(run::kMessageCompleted) + "\n");
}

TEST(TerminalSide, TheBarShowsPercentItemsAndTimeLeft) {
  std::ostringstream out, err;
  Clock::time_point now{};
  run::TerminalUserSide side(out, err, true, [&now] { return now; });
  side.SetMax(400);
  for (int i = 0; i < 100; ++i) {
    now += std::chrono::milliseconds(300);  // 0.3 s per article
    side.SetValue(static_cast<float>(i));
  }
  // After 100 of 400 in 30 s: 90 s left.
  const std::string text = err.str();
  const std::string last = text.substr(text.rfind('\r'));
  EXPECT_EQ(last, "\r[#######                       ]  25 %  Artikel 100 von 400, noch 1:30\x1b[K");
  side.MsgBox(run::kMessageCompleted, run::vbInformation, run::kTitleImport);
  EXPECT_EQ(err.str().back(), '\n');  // the bar's line is finished before anything else
  EXPECT_EQ(run::TerminalUserSide::Duration(3725), "1:02:05");
  EXPECT_EQ(run::TerminalUserSide::Duration(7), "0:07");
}

TEST(RunLog, OneLinePerRunWithItsFieldsEscaped) {
  run::DatabaseState state;
  std::ostringstream out, err;
  run::TerminalUserSide side(out, err, false);
  run::RunContext r{state, "/q/Kastrel\tneu.mdb", side};
  r.target_file = "/z/DBZentavo.mdb";
  r.backup_file = "/z/DBZentavo vor Import 2026-12-10 14-05.mdb";
  std::string line = run::RunLogLine(r, run::RunKind::kImport, 0);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_NE(line.find("\timport\tergebnis=abgeschlossen\tstatus=0\tfehler=0\t"
                      "quelle=/q/Kastrel\\tneu.mdb\tziel=/z/DBZentavo.mdb\t"
                      "sicherung=/z/DBZentavo vor Import 2026-12-10 14-05.mdb"),
            std::string::npos)
      << line;
  EXPECT_EQ(line.find("artikel="), std::string::npos);  // no counts before the phases ended
  r.counts = run::RunCounts{13, 247, 2470, 24, 240, 5928, 2};
  r.error_number = 3045;
  line = run::RunLogLine(r, run::RunKind::kRestore, 3);
  EXPECT_NE(line.find("\twiederherstellung\tergebnis=Fehler\tstatus=3\tfehler=3045\t"
                      "zurückgeholt="),
            std::string::npos)
      << line;
  EXPECT_NE(line.find("\tartikel=247\tartikelpreise=2470\t"), std::string::npos) << line;
}

}  // namespace
