// What the import and the validation need of the user's side: modal messages, the progress
// display and the end of the program. The window implements it with Qt; tests and the headless
// driver implement it with a recorder, so the whole run works without a display.
#pragma once

#include <exception>
#include <string>

#include "db/error.h"

namespace run {

// Message box styles (the platform's numbers).
inline constexpr int vbCritical = 16;
inline constexpr int vbInformation = 64;

// The window's progress bar: the four members the run uses, in the order it uses them.
class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;
  virtual void SetVisible(bool visible) = 0;
  virtual void Refresh() = 0;
  virtual void SetMax(float max) = 0;
  virtual void SetValue(float value) = 0;
};

// Thrown by EndProgram to leave every caller at once; whoever runs the window catches it and
// ends the process with its status.
class ProgramEnd {
 public:
  explicit ProgramEnd(int status) : status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

class UserSide {
 public:
  virtual ~UserSide() = default;
  // A modal message box with an OK button; returns when the user has confirmed.
  virtual void MsgBox(const std::string& prompt, int style, const std::string& title) = 0;
  virtual ProgressDisplay& Progress() = 0;
  // Ends the program: throws ProgramEnd, so that no further statement of the caller runs.
  [[noreturn]] void EndProgram(int status) { throw ProgramEnd(status); }
};

// Exit statuses: 0 only after the completion message.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitInvalidSource = 1;
inline constexpr int kExitNotInstalled = 2;
inline constexpr int kExitUnexpectedError = 3;

// The texts the user sees.
inline constexpr char kTitleImport[] = "Produkte Import";
inline constexpr char kTitleInvalidDatabase[] = "Ungültige Datenbank";
inline constexpr char kMessageNotInstalled[] =
    "Sie müssen zuerst das Programm Zentavo installieren und starten, bevor Sie die "
    "Produktedaten importieren können. Das Programm wird jetzt beendet.";
inline constexpr char kMessageInvalidDatabase[] =
    "Es ist ein Fehler aufgetreten. Die Daten können von dieser Datenbank nicht eingelesen "
    "werden. Das Programm wird jetzt beendet.";
inline constexpr char kMessageCompleted[] =
    "Der Produktedaten Import ist abgeschlossen. Das Programm wird nun beendet.";

// What an unexpected error left of the target: the message says which.
enum class TargetAfterError {
  kUnchanged,  // byte for byte as before the run
  kCompleted,  // holding the whole import (the failure came after it reached the file)
};

// "Es ist ein unerwarteter Fehler aufgetreten (Fehler N: BESCHREIBUNG). Die Zieldatenbank wurde
// nicht verändert. Das Programm wird jetzt beendet." After kCompleted the middle sentence says
// that the import reached the target in full.
std::string UnexpectedErrorMessage(db::ErrorCode code, const std::string& description,
                                   TargetAfterError target = TargetAfterError::kUnchanged);
// Zentavo's database was not found where the settings lead (a lookup fault; nothing was changed):
// "Die Datenbank von Zentavo wurde nicht gefunden (Fehler N: BESCHREIBUNG). Es wurde nichts
// verändert. Das Programm wird jetzt beendet." Shown with kTitleImport and vbCritical; the program
// then ends with kExitNotInstalled, the status of a missing setting.
std::string TargetLocationMessage(db::ErrorCode code, const std::string& description);
// The description of a failure of the program itself: "Interner Fehler: " and what failed.
std::string InternalErrorDescription(const std::exception& e);

}  // namespace run
