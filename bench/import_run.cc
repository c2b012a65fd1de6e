// import-run: the import of a source file into the target the settings name, exactly as the
// window runs it, without a display. Prints the messages the window would show and the time of
// each step, and ends with the program's exit status.
//
//   import-run [--trace] SOURCE
#include "import/import_run.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "jet/database/database.h"
#include "run/database_state.h"
#include "run/recording_user_side.h"

namespace {

// The process's resident memory now and at its peak so far, in MB, as the kernel reports it.
std::string MemoryNow() {
  std::ifstream status("/proc/self/status");
  std::string line;
  std::string rss = "?";
  std::string peak = "?";
  while (std::getline(status, line)) {
    std::istringstream fields(line);
    std::string name;
    long long kb = 0;
    fields >> name >> kb;
    if (name == "VmRSS:") rss = std::to_string(kb / 1024);
    if (name == "VmHWM:") peak = std::to_string(kb / 1024);
  }
  return "belegt " + rss + " MB, Spitze " + peak + " MB";
}

// Prints the time since the previous mark at each progress phase change.
class TimedUserSide : public run::RecordingUserSide {
 public:
  using RecordingUserSide::RecordingUserSide;
  void SetMax(float max) override {
    Mark("Phase mit Maximum " + std::to_string(static_cast<long long>(max)));
    RecordingUserSide::SetMax(max);
  }
  void MsgBox(const std::string& prompt, int style, const std::string& title) override {
    Mark("Ende");
    RecordingUserSide::MsgBox(prompt, style, title);
  }
  void Mark(const std::string& what) {
    const auto now = std::chrono::steady_clock::now();
    std::cerr << "  " << std::chrono::duration<double>(now - last_).count() << " s bis: " << what
              << " (" << MemoryNow() << ")\n";
    last_ = now;
  }

 private:
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

}  // namespace

int main(int argc, char** argv) {
  bool trace = false;
  const char* source = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--trace") == 0) {
      trace = true;
    } else if (source == nullptr) {
      source = argv[i];
    } else {
      source = nullptr;
      break;
    }
  }
  if (source == nullptr) {
    std::cerr << "Aufruf: import-run [--trace] QUELLDATEI\n";
    return 64;
  }
  TimedUserSide user(&std::cout, trace);
  run::DatabaseState state;
  const auto start = std::chrono::steady_clock::now();
  int status = run::kExitUnexpectedError;
  try {
    // The load step: the target folder from the settings. Without a window there is no one to
    // ask: several prefixes holding the entry are refused, naming them all.
    host::SettingsEntry entry;
    try {
      entry = run::LookupTargetSetting();
    } catch (const db::TargetLocationError& e) {
      user.MsgBox(run::TargetLocationMessage(e.code(), e.description()), run::vbCritical,
                  run::kTitleImport);
      user.EndProgram(run::kExitNotInstalled);
    }
    state.strDBRoot = std::move(entry.value);
    state.strDBRootPrefix = std::move(entry.wine_prefix);
    if (state.strDBRoot.empty()) {
      user.MsgBox(run::kMessageNotInstalled, run::vbInformation, run::kTitleImport);
      user.EndProgram(run::kExitNotInstalled);
    }
    run::RunContext run{state, source, user};
    import::cmdImport_Click(run);
  } catch (const run::ProgramEnd& end) {
    status = end.status();
  } catch (const std::exception& e) {
    // Outside the run's own error handling (its message could not be shown): said here, and the
    // run's unexpected-error status.
    std::cout << "Interner Fehler: " << e.what() << "\n";
  }
  std::cerr << "Prüfung vor dem Schreiben: " << jet::WriteCheckSeconds() << " s\n";
  std::cerr << "Gesamt: "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
            << " s, Status " << status << "\n";
  return status;
}
